// What containers.db keeps of a group comes back exactly, and is refused
// when its entries no longer hold the bytes it leans on.
#include <gtest/gtest.h>
#include <refhost/wire.h>

#include <string>

#include "cli_harness.h"
#include "remote_groups.h"
#include "stored_output.h"

namespace splitrun {
namespace {

// document: the worker's document (both of them); entry: what the collect component made of it
struct Case { const char* name; std::string document; std::string entry; };

const std::string kStatXml =
    "<?xml version=\"1.0\"?>\n<S>\n  <Fields count=\"2\">\n    <Field name=\"x1\" role=\"input\" />\n"
    "    <Field name=\"y\" role=\"target\" />\n  </Fields>\n  <Model id=\"model-0001\" r=\"0.5\" />\n</S>\n";
const std::string kLabelled =
    "<?xml version=\"1.0\"?>\n<S>\n  <Fields count=\"3\">\n    <Field name=\"x1\" role=\"input\" />\n"
    "    <Field name=\"y\" role=\"target\" />\n    <Field name=\"k\" role=\"split\" />\n  </Fields>\n"
    "  <Split value=\"a\" />\n  <Model id=\"model-0001\" r=\"0.5\" />\n</S>\n";

GroupWorker::Kept keptState()
{
    GroupWorker::Kept kept;
    kept.model.reason = std::string("a\0b", 3);
    kept.model.covariance.assign(70, 0.0);  // 560 zero bytes: runs longer than one length byte holds
    kept.model.covariance.push_back(-1.5);
    kept.model.family = "gaussian";
    kept.keys = {{splitmodels::SplitValue{"k", "a", false, 3}}};
    return kept;
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class StoredOutput : public testing::TestWithParam<Case> {};

TEST_P(StoredOutput, ComesBackExactlyAndOnlyFromTheSameEntries) {
    const Case& c = GetParam();
    refhost::WorkerOutput texts;
    texts.outcome = -2;
    texts.reason = "why";
    texts.statXml = c.document;
    texts.pmml = c.document;
    const std::string stored = encodeStoredOutput(texts, encodeKept(keptState()), &c.entry, &c.entry);

    GroupWorker::Kept kept;
    const refhost::WorkerOutput back =
        decodeStoredOutput(stored, [&](const std::string&) { return &c.entry; }, kept);
    EXPECT_EQ(back.outcome, -2);
    EXPECT_EQ(back.reason, "why");
    EXPECT_EQ(back.statXml, c.document);
    EXPECT_EQ(back.pmml, c.document);
    EXPECT_EQ(encodeKept(kept), encodeKept(keptState()));
    EXPECT_TRUE(storedAlike(stored, &c.entry, &c.entry));

    // Every shorter prefix of the bytes is refused, never read past.
    for (std::size_t size = 0; size < stored.size(); ++size)
        EXPECT_THROW(decodeStoredOutput(stored.substr(0, size), [&](const std::string&) { return &c.entry; }, kept),
                     refhost::WireError) << size;

    // An entry changed in every byte the document may lean on.
    if (c.document.empty() || c.entry.empty()) return;
    std::string spoilt = c.entry;
    for (char& byte : spoilt)
        if (byte != '\n') byte = static_cast<char>(byte ^ 1);
    EXPECT_FALSE(storedAlike(stored, &spoilt, &spoilt));
    EXPECT_THROW(decodeStoredOutput(stored, [&](const std::string&) { return &spoilt; }, kept), refhost::WireError);
}

std::string repeated(const std::string& line, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i) text += line;
    return text;
}

INSTANTIATE_TEST_SUITE_P(Documents, StoredOutput,
    testing::Values(Case{"labelled", kStatXml, kLabelled},
        Case{"same", kStatXml, kStatXml},
        Case{"entry longer at the end", kStatXml, kStatXml + "<More/>\n"},
        Case{"lines moved", kStatXml,
             "<?xml version=\"1.0\"?>\n<S>\n  <Model id=\"model-0001\" r=\"0.5\" />\n"
             "    <Field name=\"y\" role=\"target\" />\n    <Field name=\"x1\" role=\"input\" />\n</S>\n"},
        Case{"no newline at the end", "<a>\n  <long line one/>\n  <long line two/>", "<a>\n  <long line two/>"},
        // More shared runs than one document keeps apart.
        Case{"many runs", repeated("<shared line/>\n<own line a/>\n", 100), repeated("<shared line/>\n<x/>\n", 100)},
        Case{"every byte", std::string("\0\xff\n\x80\n", 5) + kStatXml, kLabelled + std::string("\0\n", 2)},
        Case{"empty entry", kStatXml, ""},
        Case{"empty document", "", kLabelled}),
    clitest::CaseNameOf{});

}  // namespace
}  // namespace splitrun

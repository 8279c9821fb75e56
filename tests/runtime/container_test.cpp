// Containers keep finished entries in a spool file and give them back unchanged, to modules and host.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>

#include "refhost/container.h"
#include "refhost/run.h"

namespace refhost {
namespace {

// Opens a new keyed entry for writing through the container's record, as a module does.
std::pair<CFEntryKey*, CFStream*> openEntry(Container& c, const std::string& key, const std::string& properties) {
    CFContainerFile* r = c.record();
    std::pair<CFEntryKey*, CFStream*> opened{};
    int err = 0;
    EXPECT_EQ(r->createKey(r->handle, &opened.first, &err), 0u);
    EXPECT_EQ(opened.first->setKeyText(opened.first->handle, 0, key.data(), key.size(), &err), 0u);
    EXPECT_EQ(r->openEntry(r->handle, opened.first, CF_MODE_WRITE, properties.c_str(), &opened.second, &err), 0u);
    return opened;
}

// Writes a whole entry in chunks of the given size; returns its key.
CFEntryKey* writeEntry(Container& c, const std::string& key, const std::string& text, size_t chunk) {
    const auto [k, s] = openEntry(c, key, "typeId=x");
    int err = 0;
    for (size_t at = 0; at < text.size(); at += chunk)
        EXPECT_EQ(s->writeStream(s->handle, text.data() + at, std::min(chunk, text.size() - at), &err), 0u);
    EXPECT_EQ(s->closeStream(s->handle, &err), 0u);
    return k;
}

// Reads an entry through the record; nullopt when it cannot be opened.
std::optional<std::string> readEntry(Container& c, CFEntryKey* key) {
    CFStream* s = nullptr;
    int err = 0;
    if (c.record()->openEntry(c.record()->handle, key, CF_MODE_READ, "", &s, &err) != 0) return std::nullopt;
    cf_status status = 0;
    std::string text = readAll(s, 1023, &status);
    EXPECT_EQ(status, 0u);
    s->closeStream(s->handle, &err);
    return text;
}

// Entries of all sizes, zero bytes included, in odd chunks; also with no spool (bytes kept in memory).
TEST(ContainerSpool, FinishedEntriesComeBackByteForByte) {
    const std::string texts[] = {std::string("a\0b", 3), std::string(5000, 'x') + "end", "", "<StatXML/>"};
    for (const char* tmpdir : {"", "/nonexistent-spool-dir"}) {
        if (*tmpdir) setenv("TMPDIR", tmpdir, 1);
        Container c("StatXML");
        std::vector<CFEntryKey*> keys;
        size_t total = 0;
        for (size_t i = 0; i < std::size(texts); total += texts[i++].size())
            keys.push_back(writeEntry(c, "m" + std::to_string(i), texts[i], 7 + i * 100));
        for (size_t i = 0; i < std::size(texts); ++i) EXPECT_EQ(readEntry(c, keys[i]), texts[i]) << tmpdir << i;
        EXPECT_EQ(c.spooledBytes(), *tmpdir ? 0 : total) << tmpdir;
        c.clearEntries();
        EXPECT_EQ(c.entryCount(), 0u);
        EXPECT_EQ(readEntry(c, keys[0]), std::nullopt);
        if (*tmpdir) unsetenv("TMPDIR");
    }
}

// Entries written as the collect component may (two open at once, megabytes in small writes, one
// large write, one never finished) are read back byte for byte once handed to a run's outputs.
TEST(ContainerSpool, HandedOverEntriesAreReadBackFromTheSpoolExactly) {
    Container c("StatXML");
    int err = 0;
    std::string first, second;
    CFStream* a = openEntry(c, "a", "key=a").second;
    CFStream* b = openEntry(c, "b", "key=b").second;
    for (int i = 0; i < 40000; ++i) {
        const std::string pieceA = "<a" + std::to_string(i) + "/>", pieceB(60, static_cast<char>('0' + i % 10));
        first += pieceA;
        second += pieceB;
        ASSERT_EQ(a->writeStream(a->handle, pieceA.data(), pieceA.size(), &err), 0u);
        ASSERT_EQ(b->writeStream(b->handle, pieceB.data(), pieceB.size(), &err), 0u);
    }
    EXPECT_GT(c.spooledBytes(), size_t{1} << 20);  // spooled while open, not held to the end
    ASSERT_EQ(b->closeStream(b->handle, &err), 0u);
    ASSERT_EQ(a->closeStream(a->handle, &err), 0u);
    const std::string root(3u << 20, 'r');
    writeEntry(c, "root", root, root.size());
    writeEntry(c, "a", "second a", 3);
    // An unfinished entry is neither spooled nor readable through the record, but the host sees it.
    const auto [openKey, unfinished] = openEntry(c, "open", "key=open");
    const size_t spooled = c.spooledBytes();
    ASSERT_EQ(unfinished->writeStream(unfinished->handle, "so far", 6, &err), 0u);
    EXPECT_EQ(c.spooledBytes(), spooled);
    EXPECT_EQ(readEntry(c, openKey), std::nullopt);
    EXPECT_TRUE(c.entries().back().data == "so far" && !c.entries().back().complete);
    RunOutputs outputs;
    outputs.add("StatXML", c.takeEntries());
    EXPECT_EQ(c.entryCount(), 0u);
    EXPECT_NE(unfinished->writeStream(unfinished->handle, "more", 4, &err), 0u);  // the store is read-only now
    const std::tuple<std::string, std::string, std::string, bool> expected[] = {
        {"a", first, "key=a", true}, {"b", second, "key=b", true}, {"root", root, "typeId=x", true},
        {"a", "second a", "typeId=x", true}, {"open", "so far", "key=open", false}};
    const std::vector<Entry> entries = outputs.entries("StatXML");
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i)
        EXPECT_TRUE(std::tie(entries[i].key, entries[i].data, entries[i].properties, entries[i].complete) ==
                    expected[i]) << i;
    // A key finds its first complete entry; an unfinished entry is not found.
    EXPECT_EQ(outputs.find("StatXML", "a"), std::optional<size_t>(0));
    EXPECT_EQ(outputs.find("StatXML", "root"), std::optional<size_t>(2));
    EXPECT_EQ(outputs.find("StatXML", "open"), std::nullopt);
    EXPECT_EQ(outputs.find("PMML", "a"), std::nullopt);
}

}  // namespace
}  // namespace refhost

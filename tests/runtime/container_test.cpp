// Containers as the module sees them through their records: chunked reads,
// entries in write order, keys, key lists and refusals.
#include <gtest/gtest.h>

#include "refhost/container.h"

namespace refhost {
namespace {

struct Opened {
    CFStream* stream = nullptr;
    cf_status status = 0;
};

Opened open(Container& c, CFEntryKey* key, int mode, const char* properties = "") {
    Opened o;
    int err = 0;
    o.status = c.record()->openEntry(c.record()->handle, key, mode, properties, &o.stream, &err);
    return o;
}

// A key with that text; with no text, a key whose text was never set.
CFEntryKey* makeKey(Container& c, const std::string& text) {
    CFEntryKey* key = nullptr;
    int err = 0;
    EXPECT_EQ(0u, c.record()->createKey(c.record()->handle, &key, &err));
    if (!text.empty()) {
        EXPECT_EQ(0u, key->setKeyText(key->handle, 0, text.data(), text.size(), &err));
    }
    return key;
}

void write(Container& c, CFEntryKey* key, const std::string& properties,
           const std::vector<std::string>& pieces) {
    Opened o = open(c, key, CF_MODE_WRITE, properties.c_str());
    ASSERT_EQ(0u, o.status);
    int err = 0;
    for (const auto& piece : pieces)
        ASSERT_EQ(0u, o.stream->writeStream(o.stream->handle, piece.data(), piece.size(), &err));
    ASSERT_EQ(0u, o.stream->closeStream(o.stream->handle, &err));
}

TEST(Container, ReadsHonourCapacityAndReportEachChunk) {
    const std::pair<size_t, std::vector<size_t>> cases[] = {
        {2 * 1023 + 54, {1023, 1023, 54}},
        {2 * 1023, {1023, 1023, 0}},  // an exact multiple needs one empty read
        {0, {0}},
    };
    for (const auto& [length, sizes] : cases) {
        SCOPED_TRACE(length);
        Container container("InputPMML");
        std::string text;
        while (text.size() < length) text += static_cast<char>('a' + text.size() % 26);
        container.setDefaultEntry(text);
        Opened o = open(container, nullptr, CF_MODE_READ);
        ASSERT_EQ(0u, o.status);
        EXPECT_EQ(text, readAll(o.stream, 1023, &o.status));
        EXPECT_EQ(sizes, container.readSizes());
        EXPECT_EQ(std::vector<size_t>(sizes.size(), 1023), container.readCapacities());
    }
}

TEST(Container, EntriesKeepWriteOrderAndCompleteOnlyWhenClosed) {
    Container container("StatXML");
    write(container, makeKey(container, "m2"), "mimeType=a\ntypeId=b", {"<x>", "</x>"});
    write(container, makeKey(container, "m1"), "p1", {"one"});
    Opened o = open(container, makeKey(container, "m2"), CF_MODE_WRITE, "p2");
    int err = 0;
    ASSERT_EQ(0u, o.stream->writeStream(o.stream->handle, "again", 5, &err));
    EXPECT_FALSE(container.entries().at(2).complete);
    EXPECT_EQ(1u, container.openStreams());
    ASSERT_EQ(0u, o.stream->closeStream(o.stream->handle, &err));
    EXPECT_EQ(CF_FAILED, o.stream->closeStream(o.stream->handle, &err));
    EXPECT_EQ(CF_FAILED, o.stream->writeStream(o.stream->handle, "x", 1, &err));

    std::vector<std::string> entries;
    for (const Entry& e : container.entries())
        entries.push_back(e.key + "|" + e.properties + "|" + e.data + (e.complete ? "" : "|open"));
    EXPECT_EQ((std::vector<std::string>{"m2|mimeType=a\ntypeId=b|<x></x>", "m1|p1|one", "m2|p2|again"}),
              entries);
    EXPECT_FALSE(container.defaultEntry().has_value());

    // Rewriting the default entry replaces it; zero bytes survive.
    const std::string binary("a\0b\0", 4);
    write(container, nullptr, "", {"old text"});
    write(container, nullptr, "props", {binary});
    EXPECT_EQ("props", container.defaultEntry()->properties);
    EXPECT_EQ(binary, readAll(open(container, nullptr, CF_MODE_READ).stream, 3, &o.status));
}

TEST(Container, KeyListsListCompleteEntriesAndRefuseWhenEmptyOrReleased) {
    Container container;
    CFContainerFile* r = container.record();
    int err = 0;
    CFKeyList* keys = nullptr;
    CFEntryKey* first = nullptr;
    ASSERT_EQ(0u, r->getKeys(r->handle, &keys, &err));
    EXPECT_EQ(CF_FAILED, keys->firstKey(keys->handle, &first, &err));

    container.setDefaultEntry("");
    write(container, makeKey(container, "alpha"), "", {"A"});
    write(container, makeKey(container, "beta"), "", {"B"});
    ASSERT_EQ(0u, r->getKeys(r->handle, &keys, &err));
    ASSERT_EQ(0u, keys->firstKey(keys->handle, &first, &err));
    char text[16];
    size_t needed = 0;
    ASSERT_EQ(0u, first->getKeyText(first->handle, text, sizeof text, &needed, &err));
    EXPECT_STREQ("alpha", text);
    EXPECT_EQ(6u, needed);
    EXPECT_EQ(CF_BUFFER_TOO_SMALL, first->getKeyText(first->handle, text, 5, &needed, &err));
    cf_status status = 0;
    EXPECT_EQ("A", readAll(open(container, first, CF_MODE_READ).stream, 1023, &status));

    EXPECT_EQ(0u, keys->releaseKeys(keys->handle, &err));
    EXPECT_EQ(CF_FAILED, keys->releaseKeys(keys->handle, &err));
    EXPECT_EQ(CF_FAILED, keys->firstKey(keys->handle, &first, &err));
}

TEST(Container, RefusesWhatDoesNotExist) {
    Container container;
    Container other;
    EXPECT_EQ(CF_FAILED, open(container, nullptr, CF_MODE_READ).status);  // no default entry
    EXPECT_EQ(CF_FAILED, open(container, makeKey(container, "nope"), CF_MODE_READ).status);
    EXPECT_EQ(CF_FAILED, open(container, makeKey(other, "k"), CF_MODE_WRITE).status);
    EXPECT_EQ(CF_FAILED, open(container, makeKey(container, ""), CF_MODE_WRITE).status);
    EXPECT_EQ(CF_FAILED, open(container, nullptr, 7).status);
}

TEST(Container, CloseIsCountedAndLaterUseNoticed) {
    Container container;
    int err = 0;
    CFContainerFile* r = container.record();
    container.noteOpened();
    EXPECT_EQ(0u, r->closeContainer(r->handle, &err));
    EXPECT_TRUE(container.isClosed());
    EXPECT_EQ(CF_FAILED, r->closeContainer(r->handle, &err));
    makeKey(container, "k");
    EXPECT_EQ(1u, container.closeCount());
    EXPECT_EQ(2u, container.usesAfterClose());
    container.noteOpened();
    EXPECT_FALSE(container.isClosed());
}

}  // namespace
}  // namespace refhost

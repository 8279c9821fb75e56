// Containers as the module sees them through their records: chunked reads,
// entries in write order, keys and key lists.
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
    CFContainerFile* r = c.record();
    o.status = r->openEntry(r->handle, key, mode, properties, &o.stream, &err);
    return o;
}

CFEntryKey* makeKey(Container& c, const std::string& text) {
    CFEntryKey* key = nullptr;
    int err = 0;
    CFContainerFile* r = c.record();
    EXPECT_EQ(0u, r->createKey(r->handle, &key, &err));
    EXPECT_EQ(0u, key->setKeyText(key->handle, 0, text.data(), text.size(), &err));
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
    struct Case {
        size_t length;
        std::vector<size_t> sizes;
    };
    const Case cases[] = {
        {2 * 1023 + 54, {1023, 1023, 54}},
        {2 * 1023, {1023, 1023, 0}},  // an exact multiple needs one empty read
        {0, {0}},
    };
    for (const Case& c : cases) {
        Container container("InputPMML");
        std::string text(c.length, 'x');
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
        container.setDefaultEntry(text);
        Opened o = open(container, nullptr, CF_MODE_READ);
        ASSERT_EQ(0u, o.status);
        std::string read;
        for (;;) {
            char buffer[1024] = {};
            size_t got = 99;
            int err = 0;
            ASSERT_EQ(0u, o.stream->readStream(o.stream->handle, buffer, 1023, &got, &err));
            read.append(buffer, got);
            if (got < 1023) break;
        }
        EXPECT_EQ(text, read);
        EXPECT_EQ(c.sizes, container.readSizes()) << "length " << c.length;
        EXPECT_EQ(std::vector<size_t>(c.sizes.size(), 1023), container.readCapacities());
    }
}

TEST(Container, KeyedEntriesKeepWriteOrderAndDuplicateKeys) {
    Container container("StatXML");
    write(container, makeKey(container, "m2"), "mimeType=a\ntypeId=b", {"<x>", "</x>"});
    write(container, makeKey(container, "m1"), "p1", {"one"});
    write(container, makeKey(container, "m2"), "p2", {"again"});
    const auto entries = container.entries();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ("m2", entries[0].key);
    EXPECT_EQ("mimeType=a\ntypeId=b", entries[0].properties);
    EXPECT_EQ("<x></x>", entries[0].data);
    EXPECT_EQ("m1", entries[1].key);
    EXPECT_EQ("again", entries[2].data);
    for (const auto& e : entries) EXPECT_TRUE(e.complete);
    EXPECT_FALSE(container.defaultEntry().has_value());
}

TEST(Container, EntryIsIncompleteUntilItsStreamCloses) {
    Container container;
    Opened o = open(container, makeKey(container, "k"), CF_MODE_WRITE);
    int err = 0;
    ASSERT_EQ(0u, o.stream->writeStream(o.stream->handle, "abc", 3, &err));
    EXPECT_FALSE(container.entries().at(0).complete);
    EXPECT_EQ(1u, container.openStreams());
    ASSERT_EQ(0u, o.stream->closeStream(o.stream->handle, &err));
    EXPECT_TRUE(container.entries().at(0).complete);
    EXPECT_EQ(CF_FAILED, o.stream->closeStream(o.stream->handle, &err));
    EXPECT_EQ(CF_FAILED, o.stream->writeStream(o.stream->handle, "x", 1, &err));
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

    Opened o = open(container, first, CF_MODE_READ);
    ASSERT_EQ(0u, o.status);
    EXPECT_EQ("A", readAll(o.stream, 1023, &o.status));

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
    CFEntryKey* blank = nullptr;
    int err = 0;
    container.record()->createKey(container.record()->handle, &blank, &err);
    EXPECT_EQ(CF_FAILED, open(container, blank, CF_MODE_WRITE).status);  // key without text
    EXPECT_EQ(CF_FAILED, open(container, nullptr, 7).status);
}

TEST(Container, DefaultEntryRewriteReplacesAndZeroBytesSurvive) {
    Container container;
    const std::string binary("a\0b\0", 4);
    write(container, nullptr, "", {"old text"});
    write(container, nullptr, "props", {binary});
    ASSERT_TRUE(container.defaultEntry().has_value());
    EXPECT_EQ(binary, container.defaultText());
    EXPECT_EQ("props", container.defaultEntry()->properties);
    cf_status status = 0;
    Opened o = open(container, nullptr, CF_MODE_READ);
    EXPECT_EQ(binary, readAll(o.stream, 3, &status));
}

TEST(Container, CloseIsCountedAndLaterUseNoticed) {
    Container container;
    int err = 0;
    CFContainerFile* r = container.record();
    container.noteOpened();
    EXPECT_FALSE(container.isClosed());
    EXPECT_EQ(0u, r->closeContainer(r->handle, &err));
    EXPECT_TRUE(container.isClosed());
    EXPECT_EQ(CF_FAILED, r->closeContainer(r->handle, &err));
    makeKey(container, "k");
    EXPECT_EQ(1u, container.closeCount());
    EXPECT_EQ(2u, container.usesAfterClose());
    container.noteOpened();
    EXPECT_FALSE(container.isClosed());
    EXPECT_EQ(2u, container.openCount());
}

}  // namespace
}  // namespace refhost

// The reference host's containers keep finished entries in a spool file and
// give them back unchanged, through their records and to the host.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "refhost/container.h"
#include "refhost/run.h"

namespace refhost {
namespace {

// Writes one keyed entry through the container's record, in chunks, as a
// module does; returns the key record.
CFEntryKey* writeEntry(Container& c, const std::string& key, const std::string& text, size_t chunk) {
    CFContainerFile* r = c.record();
    CFEntryKey* k = nullptr;
    CFStream* s = nullptr;
    int err = 0;
    EXPECT_EQ(r->createKey(r->handle, &k, &err), 0u);
    EXPECT_EQ(k->setKeyText(k->handle, 0, key.data(), key.size(), &err), 0u);
    EXPECT_EQ(r->openEntry(r->handle, k, CF_MODE_WRITE, "typeId=x", &s, &err), 0u);
    for (size_t at = 0; at < text.size(); at += chunk)
        EXPECT_EQ(s->writeStream(s->handle, text.data() + at, std::min(chunk, text.size() - at), &err), 0u);
    EXPECT_EQ(s->closeStream(s->handle, &err), 0u);
    return k;
}

std::string readEntry(Container& c, CFEntryKey* key) {
    CFContainerFile* r = c.record();
    CFStream* s = nullptr;
    int err = 0;
    EXPECT_EQ(r->openEntry(r->handle, key, CF_MODE_READ, "", &s, &err), 0u);
    cf_status status = 0;
    std::string text = readAll(s, 1023, &status);
    EXPECT_EQ(status, 0u);
    s->closeStream(s->handle, &err);
    return text;
}

TEST(ContainerSpool, FinishedEntriesComeBackByteForByte) {
    // Entries of different sizes, with zero bytes, written in odd chunks;
    // the same checks with the spool unavailable (bytes stay in memory).
    const std::string texts[] = {std::string("a\0b", 3), std::string(5000, 'x') + "end", "",
                                 "<StatXML/>"};
    for (const char* tmpdir : {"", "/nonexistent-spool-dir"}) {
        if (*tmpdir) setenv("TMPDIR", tmpdir, 1);
        Container c("StatXML");
        std::vector<CFEntryKey*> keys;
        for (size_t i = 0; i < std::size(texts); ++i)
            keys.push_back(writeEntry(c, "m" + std::to_string(i), texts[i], 7 + i * 100));
        size_t total = 0;
        for (size_t i = 0; i < std::size(texts); ++i) {
            EXPECT_EQ(readEntry(c, keys[i]), texts[i]) << tmpdir << " " << i;
            total += texts[i].size();
        }
        EXPECT_EQ(c.spooledBytes(), *tmpdir ? 0 : total) << tmpdir;
        const std::vector<Entry> entries = c.entries();
        ASSERT_EQ(entries.size(), std::size(texts));
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].key, "m" + std::to_string(i));
            EXPECT_EQ(entries[i].data, texts[i]);
            EXPECT_EQ(entries[i].properties, "typeId=x");
            EXPECT_TRUE(entries[i].complete);
        }
        c.clearEntries();
        EXPECT_EQ(c.entryCount(), 0u);
        CFStream* s = nullptr;
        int err = 0;
        EXPECT_NE(c.record()->openEntry(c.record()->handle, keys[0], CF_MODE_READ, "", &s, &err), 0u);
        if (*tmpdir) unsetenv("TMPDIR");
    }
}

// An entry still being written is not in the spool, and shows what has been
// written so far.
TEST(ContainerSpool, UnfinishedEntryStaysReadableToTheHost) {
    Container c("PMML");
    CFContainerFile* r = c.record();
    CFEntryKey* k = nullptr;
    CFStream* s = nullptr;
    int err = 0;
    ASSERT_EQ(r->createKey(r->handle, &k, &err), 0u);
    ASSERT_EQ(k->setKeyText(k->handle, 0, "m", 1, &err), 0u);
    ASSERT_EQ(r->openEntry(r->handle, k, CF_MODE_WRITE, "", &s, &err), 0u);
    ASSERT_EQ(s->writeStream(s->handle, "part", 4, &err), 0u);
    EXPECT_EQ(c.spooledBytes(), 0u);
    ASSERT_EQ(c.entries().size(), 1u);
    EXPECT_EQ(c.entries()[0].data, "part");
    EXPECT_FALSE(c.entries()[0].complete);
    EXPECT_NE(r->openEntry(r->handle, k, CF_MODE_READ, "", &s, &err), 0u);
}

// Entries written the way the collect component may write them (two open
// at once with their writes interleaved, one entry of several megabytes in
// small writes, one in a single large write) are read back byte for byte
// once the container has handed them over to a run's outputs.
TEST(ContainerSpool, HandedOverEntriesAreReadBackFromTheSpoolExactly) {
    Container c("StatXML");
    CFContainerFile* r = c.record();
    int err = 0;
    auto open = [&](const std::string& key) {
        CFEntryKey* k = nullptr;
        CFStream* s = nullptr;
        EXPECT_EQ(r->createKey(r->handle, &k, &err), 0u);
        EXPECT_EQ(k->setKeyText(k->handle, 0, key.data(), key.size(), &err), 0u);
        EXPECT_EQ(r->openEntry(r->handle, k, CF_MODE_WRITE, ("key=" + key).c_str(), &s, &err), 0u);
        return s;
    };
    std::string first;
    std::string second;
    CFStream* a = open("a");
    CFStream* b = open("b");
    for (int i = 0; i < 40000; ++i) {
        const std::string pieceA = "<a" + std::to_string(i) + "/>";
        const std::string pieceB = std::string(60, static_cast<char>('0' + i % 10));
        first += pieceA;
        second += pieceB;
        ASSERT_EQ(a->writeStream(a->handle, pieceA.data(), pieceA.size(), &err), 0u);
        ASSERT_EQ(b->writeStream(b->handle, pieceB.data(), pieceB.size(), &err), 0u);
    }
    // More than a megabyte arrived in b while it is open: it is in the
    // spool already, not held in memory to the end.
    EXPECT_GT(c.spooledBytes(), size_t{1} << 20);
    ASSERT_EQ(b->closeStream(b->handle, &err), 0u);
    ASSERT_EQ(a->closeStream(a->handle, &err), 0u);
    const std::string root(3u << 20, 'r');
    writeEntry(c, "root", root, root.size());
    writeEntry(c, "a", "second a", 3);
    CFStream* unfinished = open("open");
    ASSERT_EQ(unfinished->writeStream(unfinished->handle, "so far", 6, &err), 0u);

    RunOutputs outputs;
    outputs.add("StatXML", c.takeEntries());
    EXPECT_EQ(c.entryCount(), 0u);
    // A stream of the handed-over store writes nowhere.
    EXPECT_NE(unfinished->writeStream(unfinished->handle, "more", 4, &err), 0u);

    struct Expected {
        std::string key;
        std::string data;
        std::string properties;
    };
    const std::vector<Expected> expected = {{"a", first, "key=a"},
                                            {"b", second, "key=b"},
                                            {"root", root, "typeId=x"},
                                            {"a", "second a", "typeId=x"},
                                            {"open", "so far", "key=open"}};
    const std::vector<Entry> entries = outputs.entries("StatXML");
    ASSERT_EQ(entries.size(), expected.size());
    ASSERT_EQ(outputs.count("StatXML"), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(entries[i].key, expected[i].key) << i;
        EXPECT_TRUE(entries[i].data == expected[i].data) << i;
        EXPECT_EQ(entries[i].properties, expected[i].properties) << i;
        EXPECT_EQ(entries[i].complete, i + 1 < expected.size()) << i;
    }
    // A key finds its first complete entry; an unfinished entry is not found.
    EXPECT_EQ(outputs.find("StatXML", "a"), std::optional<size_t>(0));
    EXPECT_EQ(outputs.find("StatXML", "root"), std::optional<size_t>(2));
    EXPECT_EQ(outputs.find("StatXML", "open"), std::nullopt);
    EXPECT_EQ(outputs.find("PMML", "a"), std::nullopt);
    EXPECT_EQ(outputs.count("PMML"), 0u);
}

}  // namespace
}  // namespace refhost

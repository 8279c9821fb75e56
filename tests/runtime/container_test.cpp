// Containers keep finished entries in a spool file and give them back unchanged, to modules and host.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "refhost/container.h"
#include "refhost/container_store.h"
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

// A container opens entries only under keys it made itself, however many it holds: a key of
// another container, a copy of a key's record, or an address inside one are refused.
TEST(ContainerKeys, OnlyTheContainersOwnKeysOpenItsEntries) {
    Container a("StatXML"), b("StatXML");
    std::vector<CFEntryKey*> keys;
    for (int i = 0; i < 600; ++i) keys.push_back(writeEntry(a, "m" + std::to_string(i), std::to_string(i), 4));
    CFEntryKey* other = writeEntry(b, "m1", "other", 4);
    CFEntryKey copy = *keys[300];
    const struct {
        const char* name;
        CFEntryKey* key;
        std::optional<std::string> read;
    } cases[] = {
        {"the first key", keys[0], "0"},
        {"a key of the third block", keys[599], "599"},
        {"another container's key", other, std::nullopt},
        {"a copy of a key's record", &copy, std::nullopt},
        {"an address inside a key", reinterpret_cast<CFEntryKey*>(reinterpret_cast<char*>(keys[300]) + 8), std::nullopt},
    };
    for (const auto& test : cases) EXPECT_EQ(readEntry(a, test.key), test.read) << test.name;
}

// An entry sink in memory that counts what it is asked to do.
class MemorySink : public EntrySink {
public:
    int64_t reserve(const std::string&) override { return next++; }
    int64_t store(const std::string&, int64_t, const std::string& key, const std::string&, uint64_t length,
                  std::string_view head) override {
        ++stores;
        rows[++lastHandle] = {key, std::string(head) + std::string(length - head.size(), '\0')};
        return lastHandle;
    }
    bool write(int64_t handle, uint64_t offset, std::string_view bytes) override {
        rows.at(handle).second.replace(offset, bytes.size(), bytes);
        return true;
    }
    bool read(int64_t handle, std::string& out) const override {
        out += rows.at(handle).second;
        return true;
    }
    bool withdraw(int64_t handle) override {
        ++withdrawals;
        return rows.erase(handle) == 1;
    }
    void fail(const std::string&) override {}

    std::map<int64_t, std::pair<std::string, std::string>> rows;  // by handle: key and content
    int64_t next = 1, lastHandle = 0;
    int stores = 0, withdrawals = 0;
};

// With a sink, a large write into an empty entry is stored there whole at once, not spooled; when
// more writes follow, its bytes come back and the sink ends with one row per entry all the same.
TEST(ContainerSink, ALargeFirstWriteIsStoredWholeAndTakenBackWhenMoreFollows) {
    const size_t large = (size_t{1} << 20) + 3;
    struct Case {
        const char* name;
        std::vector<size_t> writes;  // sizes, in order
        bool close;
        int withdrawals;
        bool spooled;
    } cases[] = {
        {"one large write", {large}, true, 0, false},
        {"large, then small", {large, 5}, true, 1, true},
        {"large, then large", {large, large}, true, 1, true},
        {"small, then large", {5, large}, true, 0, true},
        {"small writes only", {5, 7}, true, 0, false},
        {"one large write, never closed", {large}, false, 0, false},
        {"large, then small, never closed", {large, 5}, false, 1, true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        MemorySink sink;
        Container c("StatXML");
        c.storeEntriesIn(&sink);
        // Another entry open beside it, written between its writes, keeps the pieces apart.
        const auto [otherKey, other] = openEntry(c, "other", "typeId=x");
        const auto [key, stream] = openEntry(c, "root", "typeId=x");
        std::string expected;
        int err = 0;
        for (size_t i = 0; i < test.writes.size(); ++i) {
            const std::string piece(test.writes[i], static_cast<char>('a' + i));
            expected += piece;
            ASSERT_EQ(stream->writeStream(stream->handle, piece.data(), piece.size(), &err), 0u);
            ASSERT_EQ(other->writeStream(other->handle, "<o/>", 4, &err), 0u);
        }
        if (test.close) {
            ASSERT_EQ(stream->closeStream(stream->handle, &err), 0u);
        }
        ASSERT_EQ(other->closeStream(other->handle, &err), 0u);
        EXPECT_EQ(c.spooledBytes() > 0, test.spooled);
        RunOutputs outputs;
        outputs.add("StatXML", c.takeEntries());
        const std::vector<Entry> entries = outputs.entries("StatXML");
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].key, "root");
        EXPECT_TRUE(entries[1].data == expected) << entries[1].data.size() << " bytes against " << expected.size();
        EXPECT_EQ(entries[1].complete, test.close);
        EXPECT_EQ(sink.withdrawals, test.withdrawals);
        ASSERT_EQ(sink.rows.size(), 2u);
        std::map<std::string, std::string> stored;
        for (const auto& [handle, row] : sink.rows) stored[row.first] = row.second;
        EXPECT_TRUE(stored["root"] == expected);
        std::string others;
        for (size_t i = 0; i < test.writes.size(); ++i) others += "<o/>";
        EXPECT_EQ(stored["other"], others);
    }
}

}  // namespace
}  // namespace refhost

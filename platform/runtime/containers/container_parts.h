// The records a container hands out: entry keys, key lists and streams.
// Each belongs to one container and lives as long as it does.
#ifndef REFHOST_CONTAINER_PARTS_H
#define REFHOST_CONTAINER_PARTS_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cf_records.h"
#include "refhost/container.h"

namespace refhost {

class Container;

class EntryKeyObject {
public:
    explicit EntryKeyObject(Container& owner, std::string text = "");
    CFEntryKey* record() { return &record_; }
    Container& owner() { return owner_; }
    std::string text;
    int kind = 0;
    bool hasText = false;

private:
    CFEntryKey record_;
    Container& owner_;
};

// A container's entry keys, in blocks that never move: a container of many
// entries makes one allocation a block rather than two a key, and frees as
// few when it goes. A key record the module passes back is checked by
// finding the block it lies in.
class KeyPool {
public:
    KeyPool() = default;
    ~KeyPool();
    KeyPool(const KeyPool&) = delete;
    KeyPool& operator=(const KeyPool&) = delete;

    EntryKeyObject& add(Container& owner, std::string text = "");
    // The key whose record that is; null when no key of the pool has it.
    EntryKeyObject* find(const CFEntryKey* record) const;

private:
    static constexpr size_t kBlockKeys = 256;
    struct Block {
        EntryKeyObject* keys = nullptr;  // room for kBlockKeys, the first `used` made
        size_t used = 0;
    };
    std::vector<Block> blocks_;  // in the order they were made
    // Each block's index in blocks_ by the address of its first key.
    std::map<std::uintptr_t, size_t> byAddress_;
};

class KeyListObject {
public:
    KeyListObject(Container& owner, std::vector<EntryKeyObject*> keys);
    CFKeyList* record() { return &record_; }
    Container& owner() { return owner_; }
    std::vector<EntryKeyObject*> keys;
    bool released = false;

private:
    CFKeyList record_;
    Container& owner_;
};

class StreamObject {
public:
    StreamObject(Container& owner, int mode);
    CFStream* record() { return &record_; }
    Container& owner() { return owner_; }
    int mode;
    bool closed = false;
    // Reading: the entry's bytes as they were at open (a default entry's
    // are shared with the container, not copied), and the position.
    SharedBytes data;
    size_t position = 0;
    // Writing: the entry written, keyed (its index in the store it was
    // opened in, which the container may have dropped or handed over since)
    // or the default entry.
    bool toDefault = false;
    uint64_t storeGeneration = 0;
    size_t entryIndex = 0;

private:
    CFStream record_;
    Container& owner_;
};

}  // namespace refhost

#endif

// The records a container hands out: entry keys, key lists and streams.
// Each belongs to one container and lives as long as it does.
#ifndef REFHOST_CONTAINER_PARTS_H
#define REFHOST_CONTAINER_PARTS_H

#include <cstdint>
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

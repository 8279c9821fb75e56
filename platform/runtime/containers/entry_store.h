// platform/runtime/containers: part of the reference host library
// (refhost). Owns host containers, their keys, key lists and streams, the
// store of their entries (this header) in an unlinked spool file (spool.h),
// and the summaries of a run's result taken from them. Public header:
// refhost/container.h. Includes only include/refhost/, the host contract
// headers and its own.
//
// The keyed entries of a container as it stores them: keys in memory, bytes
// in an unlinked spool file (see spool.h) as they arrive, or, for a
// container given an entry sink, in the sink once each entry is finished
// (see refhost/container_store.h); so a container, or a run's outputs taken from
// it, holds every group's documents without keeping their bytes in memory.
#ifndef REFHOST_ENTRY_STORE_H
#define REFHOST_ENTRY_STORE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "refhost/container.h"
#include "refhost/container_store.h"
#include "spool.h"

namespace refhost {

// One keyed entry. Its bytes are the spooled pieces, in order, followed by
// tail (what has not reached the spool: an unfinished entry's last bytes,
// or all of them when the spool cannot be had). Kept small: a run stores
// two per group.
struct StoredEntry {
    struct Piece {
        uint64_t offset = 0;
        size_t length = 0;
    };
    std::string key;
    std::string tail;
    Piece first;               // the first spooled piece (length 0: none)
    std::vector<Piece> more;   // further pieces, when writes of other entries came between
    uint32_t properties = 0;   // index into the store's distinct properties texts
    bool complete = false;
    int64_t seq = 0;           // with a sink: the position reserved at open
    int64_t handle = -1;       // with a sink: the entry there, once stored (or while a single large write is all of it)
};

// Not thread-safe for writing: the owning container serialises changes
// under its mutex. Once handed over (Container::takeEntries) a store is
// only read, and reads may run on several threads at once.
class EntryStore {
public:
    // Bytes an unfinished entry holds in memory before they go to the spool.
    static constexpr size_t kSpillBytes = size_t{1} << 20;

    EntryStore() = default;
    // Finished entries go to `sink` (not owned; it must outlive the store
    // and everything read from it) under the container name `name`.
    EntryStore(EntrySink* sink, std::string name) : sink_(sink), name_(std::move(name)) {}

    // Adds an entry with no bytes yet; returns its index.
    size_t add(std::string key, const std::string& properties, bool complete);
    size_t size() const { return entries_.size(); }
    StoredEntry& at(size_t index) { return entries_[index]; }
    const StoredEntry& at(size_t index) const { return entries_[index]; }
    const std::string& properties(const StoredEntry& stored) const { return properties_[stored.properties]; }
    // Bytes of every entry in the spool.
    size_t spooledBytes() const { return spooledBytes_; }

    // Appends to an entry's bytes; once it holds kSpillBytes or more in
    // memory they go to the spool. A write that large goes there at once,
    // or, into an empty entry with a sink, to the sink as the whole entry
    // (taken back should more follow).
    void append(StoredEntry& stored, const char* data, size_t length);
    // The entry is complete: its remaining bytes go to the spool, or with
    // them all to the sink. False when the sink could not store it.
    bool finish(StoredEntry& stored);
    // With a sink: every entry not yet finished goes there as it stands,
    // still marked incomplete (the store is being handed over).
    void settle();
    // The entry's bytes, read back. A spool that cannot be read back gives
    // the entry as empty, as a host whose storage failed would.
    std::string data(const StoredEntry& stored) const;
    // The entry at that index with its bytes read back.
    Entry entry(size_t index) const;

private:
    void spill(StoredEntry& stored);
    bool spillBytes(StoredEntry& stored, const char* data, size_t length);
    bool toSink(StoredEntry& stored);
    void takeBack(StoredEntry& stored);

    // A deque: no entry moves, and growing never copies them all.
    std::deque<StoredEntry> entries_;
    // The distinct properties texts, in first use order (a container's
    // entries mostly share one or two).
    std::vector<std::string> properties_;
    std::unique_ptr<Spool> spool_;  // made on the first spilled bytes
    size_t spooledBytes_ = 0;
    EntrySink* sink_ = nullptr;
    std::string name_;
};

}  // namespace refhost

#endif

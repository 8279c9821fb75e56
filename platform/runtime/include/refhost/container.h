// A host container: a default entry plus keyed entries with properties, and
// the CFContainerFile record (with its streams, keys and key lists) through
// which the module reaches it.
#ifndef REFHOST_CONTAINER_H
#define REFHOST_CONTAINER_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "cf_records.h"
#include "refhost/faults.h"

namespace refhost {

// One entry as stored. complete is set when its write stream was closed
// (entries filled by the host directly are complete at once).
struct Entry {
    std::string key;
    std::string properties;
    std::string data;
    bool complete = false;
};

// Bytes held once and shared read-only, such as an input document that
// several containers and workers hold.
using SharedBytes = std::shared_ptr<const std::string>;

class DefaultEntry;
class EntryKeyObject;
class EntryStore;
class EntrySink;
class KeyListObject;
class KeyPool;
class StreamObject;

// Thread-safe: every record operation and every accessor takes the
// container's mutex. Keys and key lists handed to the module are owned by
// the container and live as long as it does; a stream lives until it is
// closed (the module never uses it afterwards).
//
// A keyed entry's bytes go to a spool file of the container's (an unlinked
// temporary file) as they arrive: when its stream is closed, or while it is
// written once a megabyte or more has come in. A container holding many
// groups' documents thus keeps only their keys and positions in memory.
// Reading an entry, through a stream or entries(), reads it back. Without a
// usable temporary directory the bytes simply stay in memory. A container
// given an entry sink (storeEntriesIn) hands each entry to it instead when
// its stream is closed, and reads it back from there.
//
// The default entry stays in memory, its bytes held once: read streams read
// them in place, and defaultBytes() shares them. A container told to expect
// certain bytes there (expectDefaultEntry) stores nothing while the module
// writes exactly those, and then holds the expected bytes themselves.
class Container {
public:
    // faults null: the container gets a fresh Faults of its own.
    explicit Container(std::string name = "", std::shared_ptr<Faults> faults = nullptr);
    ~Container();
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    CFContainerFile* record() { return &record_; }
    // The container behind a record this host handed out (null for null).
    static Container* fromRecord(CFContainerFile* record);
    const std::string& name() const { return name_; }
    Faults& faults() { return *faults_; }

    // Filling by hosts and tests (no fault check, no counting).
    void setDefaultEntry(std::string data, std::string properties = "");
    // Holds `data` itself, shared with the caller (null counts as empty).
    void setDefaultEntry(SharedBytes data, std::string properties = "");
    // A default entry opened for writing from now on is expected to receive
    // `bytes`: written byte for byte the same, it holds `bytes` rather than
    // a copy (see refhost/context.h, Context::expectDefaultEntries).
    void expectDefaultEntry(SharedBytes bytes);
    void addEntry(std::string key, std::string data, std::string properties = "");
    // Drops every entry and the bytes they hold (a worker's outputs once
    // they have been collected). Keys handed out stay valid but find nothing.
    void clearEntries();
    // Keyed entries from now on go to `sink` as they are finished instead of
    // to the spool (see refhost/container_store.h); entries so far are dropped.
    // The sink is not owned and must outlive everything taken from here.
    void storeEntriesIn(EntrySink* sink);
    // Hands over the keyed entries, finished or not, with the spool holding
    // their bytes (with a sink: unfinished entries are stored there as they
    // stand), and leaves the container without any (as clearEntries).
    // The store is only read from then on; reading it is thread-safe.
    std::shared_ptr<const EntryStore> takeEntries();

    // Inspection.
    std::vector<Entry> entries() const;          // keyed entries, in write order
    size_t entryCount() const;                   // keyed entries so far
    size_t spooledBytes() const;                 // bytes of finished entries in the spool
    std::optional<Entry> defaultEntry() const;   // none when never written
    std::string defaultText() const;             // its data, or empty
    // The complete default entry's bytes, shared (null when there is none
    // or it is still being written).
    SharedBytes defaultBytes() const;
    // As defaultBytes, leaving the container without a default entry.
    SharedBytes takeDefaultBytes();
    bool isClosed() const;         // closeContainer called since the last open
    size_t openCount() const;      // opens through a context or worker record
    size_t closeCount() const;     // closeContainer calls that succeeded
    size_t usesAfterClose() const; // record operations called while closed
    // Bytes delivered and capacity asked per readStream call, for the
    // first kRecordedReads calls.
    static constexpr size_t kRecordedReads = 4096;
    std::vector<size_t> readSizes() const;
    std::vector<size_t> readCapacities() const;
    size_t openStreams() const;    // streams opened and not yet closed

    // Used by the host when it opens the container for someone.
    void noteOpened();

    // Record operations (word 1..4 of CFContainerFile). Public so streams,
    // keys and key lists can reach the container; the module calls them
    // through the record.
    cf_status createKey(CFEntryKey** key, int* err);
    cf_status getKeys(CFKeyList** keys, int* err);
    cf_status openEntry(CFEntryKey* key, int mode, const char* properties, CFStream** stream,
                        int* err);
    cf_status closeContainer(int* err);

    // Used by streams, keys and key lists (the container's mutex is not held
    // by the caller).
    cf_status readStream(StreamObject& stream, char* buffer, size_t capacity, size_t* got,
                         int* err);
    cf_status writeStream(StreamObject& stream, const char* data, size_t length, int* err);
    cf_status closeStream(StreamObject& stream, int* err);
    cf_status setKeyText(EntryKeyObject& key, int kind, const char* text, size_t length,
                         int* err);
    cf_status getKeyText(EntryKeyObject& key, char* buffer, size_t size, size_t* needed,
                         int* err);
    cf_status firstKey(KeyListObject& list, CFEntryKey** key, int* err);
    cf_status releaseKeys(KeyListObject& list, int* err);

private:
    bool refused(const char* op, int* err, cf_status* status);
    void noteUseLocked();
    EntryKeyObject* knownKeyLocked(CFEntryKey* key) const;

    CFContainerFile record_;
    std::string name_;
    std::shared_ptr<Faults> faults_;
    mutable std::mutex mutex_;
    std::unique_ptr<DefaultEntry> default_;  // null when never written
    SharedBytes expectedDefault_;            // see expectDefaultEntry
    std::shared_ptr<EntryStore> store_;  // the keyed entries; never null
    EntrySink* sink_ = nullptr;          // where finished entries go, when set
    uint64_t storeGeneration_ = 0;       // counts the stores dropped or handed over
    std::unique_ptr<KeyPool> keys_;  // made with the first key
    std::vector<std::unique_ptr<KeyListObject>> keyLists_;
    // Open streams by their object; a stream is destroyed when it is closed.
    std::unordered_map<const StreamObject*, std::unique_ptr<StreamObject>> streams_;
    bool closed_ = false;
    size_t opens_ = 0;
    size_t closes_ = 0;
    size_t usesAfterClose_ = 0;
    std::vector<size_t> readSizes_;
    std::vector<size_t> readCapacities_;
};

// Reads a stream to its end through its record operations, in chunks of the
// given capacity; the status of the first failing read is stored in
// *status (0 otherwise).
std::string readAll(CFStream* stream, size_t chunk, cf_status* status);

}  // namespace refhost

#endif

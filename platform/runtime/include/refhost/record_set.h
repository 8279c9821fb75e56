// Host record sets: copies of records taken from an iterator, and iterators
// over them.
#ifndef REFHOST_RECORD_SET_H
#define REFHOST_RECORD_SET_H

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cf_records.h"
#include "refhost/faults.h"

namespace refhost {

class RecordSetIterator;

// A record set copies every field of the source iterator's current record
// (through the source's getFieldCount and getRecordValue words) at addRecord,
// so its records survive the source moving on. Thread-safe. After release
// the set keeps its records but refuses every operation with status 1, and
// so do its iterators (a module that uses a released record set sees a
// failure, not freed memory).
class RecordSet {
public:
    // One value: its bytes, or nothing for a missing value.
    using Value = std::optional<std::vector<unsigned char>>;
    using Record = std::vector<Value>;

    RecordSet(uint64_t sequence, std::string name, std::shared_ptr<Faults> faults = nullptr);
    ~RecordSet();
    RecordSet(const RecordSet&) = delete;
    RecordSet& operator=(const RecordSet&) = delete;

    CFRecordSet* record() { return &record_; }
    static RecordSet* fromRecord(CFRecordSet* record);
    // 0, 1, 2 ... in the order the context created its record sets.
    uint64_t sequence() const { return sequence_; }
    const std::string& name() const { return name_; }
    // The thread that created the set (a host serving GetWorkerTask on a
    // thread learns which set the call made).
    std::thread::id creator() const { return creator_; }
    size_t size() const;
    std::vector<Record> records() const;
    bool released() const;
    void markReleased();

    cf_status addRecord(CFIterator* source, int* err);
    cf_status getIterator(CFIterator** iterator, int* err);

    // Used by its iterators: copies a value's location while holding the
    // set's mutex. Null value for a missing one.
    cf_status valueAt(size_t row, size_t field, void** value, size_t* length) const;
    cf_status fieldCountAt(size_t row, size_t* count) const;

private:
    CFRecordSet record_;
    uint64_t sequence_;
    std::string name_;
    std::thread::id creator_;
    std::shared_ptr<Faults> faults_;
    mutable std::mutex mutex_;
    std::deque<Record> records_;
    bool released_ = false;
    std::vector<std::unique_ptr<RecordSetIterator>> iterators_;
};

// An iterator over a record set, in the order the records were added.
class RecordSetIterator {
public:
    RecordSetIterator(RecordSet& set, std::shared_ptr<Faults> faults);
    CFIterator* record() { return &record_; }
    static RecordSetIterator* fromRecord(CFIterator* record);
    RecordSet& recordSet() const { return set_; }

    cf_status nextRecord(int* more, int* err);
    cf_status rewind(int* err);
    cf_status getRecordValue(size_t field, void** value, size_t* length, int* err);
    cf_status getFieldCount(size_t* count, int* err);

private:
    CFIterator record_;
    RecordSet& set_;
    std::shared_ptr<Faults> faults_;
    long current_ = -1;
};

// The record set behind an iterator this host handed out for one, or null
// (for any other iterator, table iterators included).
RecordSet* recordSetOfIterator(CFIterator* iterator);

}  // namespace refhost

#endif

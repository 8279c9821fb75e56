// Host record sets: copies of records taken from an iterator, and iterators
// over them.
#ifndef REFHOST_RECORD_SET_H
#define REFHOST_RECORD_SET_H

#include <atomic>
#include <cstdint>
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
class Table;
class ColumnValues;
struct Column;

// A record set keeps copies of records added from a source iterator, so its
// records survive the source moving on. A record whose source is this
// host's own table iterator, or one of its source iterators, is kept as a
// reference to that row of the table or block: both are immutable and
// shared, so the reference is as good as a copy and costs nothing per
// value (consecutive rows form one run). Records from any other
// iterator are copied value by value through the source's getFieldCount and
// getRecordValue words into blocks of bytes owned by the set. Thread-safe.
// Release frees the set's records; the set and its iterators stay and
// refuse every operation with status 1 (a module that uses a released
// record set sees a failure, not freed memory). size() still reports how
// many records the set held.
class RecordSet {
public:
    // One value: its bytes, or nothing for a missing value.
    using Value = std::optional<std::vector<unsigned char>>;
    using Record = std::vector<Value>;

    // Where one record lives: a row of a table, or copied bytes.
    struct Location {
        const Table* table = nullptr;
        size_t row = 0;
        const unsigned char* copy = nullptr;
    };

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
    size_t size() const { return size_.load(std::memory_order_acquire); }
    std::vector<Record> records() const;
    bool released() const { return released_.load(std::memory_order_acquire); }
    void markReleased();

    cf_status addRecord(CFIterator* source, int* err);
    cf_status getIterator(CFIterator** iterator, int* err);

    // Used by its iterators. locate finds record `index`; a table-backed
    // record's location stays valid for the set's life, and so does a
    // copied one's. *runEnd is the index after the last record known to
    // lie in the same table run as this one (index + 1 for copies).
    cf_status locate(size_t index, Location* where, size_t* runEnd) const;
    // A located record's field count and value (null value for a missing one).
    // The table holding record `index`, shared; null for a copied record.
    std::shared_ptr<const Table> tableOf(size_t index) const;
    static size_t fieldCount(const Location& where);
    static cf_status value(const Location& where, size_t field, void** value, size_t* length);

    // Consecutive records that are consecutive rows of one table.
    struct TableRun {
        std::shared_ptr<const Table> table;
        size_t first = 0;  // the table's row of the run's first record
        size_t count = 0;
    };
    // Every record, as runs of table rows; false when the set is released,
    // empty, or holds a copied record.
    bool tableRuns(std::vector<TableRun>* runs) const;

private:
    // Consecutive records from one place: rows first .. first+count-1 of a
    // table, or (table null) copied records first .. first+count-1. The
    // last run's count is size() - start; its `count` is set when the next
    // run begins.
    struct Run {
        std::shared_ptr<const Table> table;
        size_t first = 0;
        size_t count = 0;
        size_t start = 0;  // index in the set of the run's first record
    };
    // Held by the one thread adding records (or releasing the set), before
    // mutex_: a lock of one atomic exchange, as an add contends with
    // nothing in the common case.
    class AddingGuard {
    public:
        explicit AddingGuard(std::atomic<bool>& flag) : flag_(flag) {
            while (flag_.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
        }
        ~AddingGuard() { flag_.store(false, std::memory_order_release); }
        AddingGuard(const AddingGuard&) = delete;
        AddingGuard& operator=(const AddingGuard&) = delete;

    private:
        std::atomic<bool>& flag_;
    };
    // The run holding record `index` (< size()); under mutex_.
    std::vector<Run>::const_iterator runOf(size_t index) const;
    cf_status copyRecord(CFIterator* source);
    void appendRow(const std::shared_ptr<const Table>& table, size_t first);
    unsigned char* reserveBytes(size_t bytes);

    CFRecordSet record_;
    uint64_t sequence_;
    std::string name_;
    std::thread::id creator_;
    std::shared_ptr<Faults> faults_;
    std::atomic<bool> adding_{false};
    // Guards runs_, the blocks and copies_ against readers; written only by
    // a thread that holds adding_ as well.
    mutable std::mutex mutex_;
    std::vector<Run> runs_;
    std::atomic<size_t> size_{0};
    std::atomic<bool> released_{false};
    // Copied records: each starts with its field count, then per field the
    // value's length + 1 (0 for missing) and its bytes; lengths are written
    // in 7-bit groups. Blocks never move once allocated.
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    size_t blockFree_ = 0;
    unsigned char* blockNext_ = nullptr;
    std::vector<const unsigned char*> copies_;
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
    // Appends the current record to `values` (one per column), as readTable
    // would from its values' bytes. Counts as no host operation.
    cf_status appendCurrent(const std::vector<Column>& columns, std::vector<ColumnValues>& values);
    // The table row the current record refers to; false for a copied
    // record (or none current). Counts as no host operation.
    bool currentTableRow(const Table** table, size_t* row);
    // The table of currentTableRow, shared (a reader keeps it alive for as
    // long as it views its rows); null for a copied record or none current.
    std::shared_ptr<const Table> currentTable() const;
    // For a host reading its own set whole: when the iterator stands before
    // the first record, counts no host calls (its Faults are off), and every
    // record is a row of a table with at least `columns` columns, hands out
    // the records as runs of rows and stands on the last one, as nextRecord
    // called once per record would leave it. Otherwise false, unmoved.
    bool takeTableRuns(size_t columns, std::vector<RecordSet::TableRun>* runs);

private:
    bool locateCurrent();

    CFIterator record_;
    RecordSet& set_;
    std::shared_ptr<Faults> faults_;
    long current_ = -1;
    RecordSet::Location where_;
    size_t whereIndex_ = 0;  // the record where_ describes
    size_t runEnd_ = 0;      // where_'s run holds records up to here
    bool located_ = false;
    // Value offsets of the current record when it is a copy.
    std::vector<size_t> offsets_;
};

// The record set behind an iterator this host handed out for one, or null
// (for any other iterator, table iterators included).
RecordSet* recordSetOfIterator(CFIterator* iterator);

}  // namespace refhost

#endif

// Host iterators: a rewindable CFIterator over a table.
#ifndef REFHOST_ITERATOR_H
#define REFHOST_ITERATOR_H

#include <memory>

#include "cf_records.h"
#include "refhost/faults.h"
#include "refhost/table.h"

namespace refhost {

// A forward, rewindable iterator over the rows of a shared table. It starts
// before the first row; nextRecord makes the next row current. Values point
// into the table, so they stay valid for the table's life (in particular
// until the iterator moves). Not meant for use by two threads at once, as
// a host iterator is not.
class TableIterator {
public:
    explicit TableIterator(std::shared_ptr<const Table> table,
                           std::shared_ptr<Faults> faults = nullptr);
    TableIterator(const TableIterator&) = delete;
    TableIterator& operator=(const TableIterator&) = delete;

    CFIterator* record() { return &record_; }
    static TableIterator* fromRecord(CFIterator* record);
    const Table& table() const { return *table_; }
    const std::shared_ptr<const Table>& sharedTable() const { return table_; }
    // Index of the current row, or -1 before the first / past the last.
    long position() const { return current_; }
    size_t moves() const { return moves_; }     // nextRecord calls that succeeded
    size_t rewinds() const { return rewinds_; } // rewind calls that succeeded

    cf_status nextRecord(int* more, int* err);
    cf_status rewind(int* err);
    cf_status getRecordValue(size_t field, void** value, size_t* length, int* err);
    cf_status getFieldCount(size_t* count, int* err);

private:
    // The operations themselves, and the same after the fault check: a host
    // without fault injection takes the first straight, with no call out
    // and so no registers to save.
    cf_status move(int* more);
    cf_status value(size_t field, void** value, size_t* length) const;
    [[gnu::noinline]] cf_status checkedNextRecord(int* more, int* err);
    [[gnu::noinline]] cf_status checkedRecordValue(size_t field, void** value, size_t* length, int* err);

    CFIterator record_;
    std::shared_ptr<const Table> table_;
    std::shared_ptr<Faults> faults_;
    bool faultsOn_;
    long current_ = -1;
    bool ended_ = false;
    size_t moves_ = 0;
    size_t rewinds_ = 0;
};

}  // namespace refhost

#endif

// Input records that are read rather than held: a source hands out passes
// over its records, block by block, and the host iterator over it starts a
// new pass on every rewind. A table held in memory is served by
// TableIterator instead; this is for inputs larger than memory (a file read
// again on each pass, or its partitions).
#ifndef REFHOST_RECORD_SOURCE_H
#define REFHOST_RECORD_SOURCE_H

#include <memory>
#include <string>
#include <vector>

#include "cf_records.h"
#include "refhost/faults.h"
#include "refhost/table.h"

namespace refhost {

// One pass over a source's records, from the first.
class RecordPass {
public:
    virtual ~RecordPass() = default;
    // Replaces `block` with the next records: a table with the source's
    // columns and at least one row. False at the end of the records. Throws
    // std::exception when the records cannot be read; the pass is not used
    // again after that. Called by one thread at a time.
    virtual bool next(Table& block) = 0;
};

class RecordSource {
public:
    virtual ~RecordSource() = default;
    // The columns of every block, the same for every pass.
    virtual const std::vector<Column>& columns() const = 0;
    // A new pass. Every pass yields the same records in the same order.
    // Safe to call from several threads; each pass is used by one thread.
    // Throws std::exception when the records cannot be opened.
    virtual std::unique_ptr<RecordPass> open() const = 0;
    // The message of the first error a pass met (a host iterator only says
    // that it failed), or empty. Thread-safe.
    virtual std::string error() const { return {}; }
};

// A forward, rewindable host iterator over a record source. It starts
// before the first record; nextRecord makes the next record current,
// opening a pass first when there is none. rewind drops the pass, so the
// next nextRecord reads the records again from the first. Values stay valid
// until the iterator moves. A pass that throws makes nextRecord return
// CF_FAILED (the source reports why). Not for use by two threads at once.
class SourceIterator {
public:
    explicit SourceIterator(std::shared_ptr<const RecordSource> source,
                            std::shared_ptr<Faults> faults = nullptr);
    SourceIterator(const SourceIterator&) = delete;
    SourceIterator& operator=(const SourceIterator&) = delete;

    CFIterator* record() { return &record_; }
    static SourceIterator* fromRecord(CFIterator* record);
    // The block that holds the current record and the record's row in it;
    // null, -1 when there is no current record. Blocks are never changed
    // once read, so a record set may keep a reference to a row instead of
    // a copy.
    const std::shared_ptr<const Table>& block() const { return block_; }
    long position() const { return current_; }
    size_t moves() const { return moves_; }      // nextRecord calls that succeeded
    size_t rewinds() const { return rewinds_; }  // rewind calls that succeeded
    size_t passes() const { return passes_; }    // passes opened

    cf_status nextRecord(int* more, int* err);
    cf_status rewind(int* err);
    cf_status getRecordValue(size_t field, void** value, size_t* length, int* err);
    cf_status getFieldCount(size_t* count, int* err);

private:
    CFIterator record_;
    std::shared_ptr<const RecordSource> source_;
    std::shared_ptr<Faults> faults_;
    std::unique_ptr<RecordPass> pass_;
    std::shared_ptr<const Table> block_;
    long current_ = -1;   // row of block_, or -1 before the first / past the last
    bool ended_ = false;
    bool failed_ = false;
    size_t moves_ = 0;
    size_t rewinds_ = 0;
    size_t passes_ = 0;
};

}  // namespace refhost

#endif

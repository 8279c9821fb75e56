// platform/runtime/sources: split-run's input sources for the host, one
// refhost::RecordSource per kind besides the host's in-memory table: a CSV
// file read pass by pass (this header). May include platform/grouping,
// platform/csv, platform/common and refhost/; never engines, output or
// commands.
//
// A CSV file as a record source for the host: every pass opens the file
// and reads it again through CsvStream, one block of records at a time, so
// a run over it holds a few blocks, not the file. The columns' storages
// come from an earlier look at the whole file (or a data model); a value
// that does not read as its column's storage ends the pass with the same
// error the loader gives. The file must be one that can be read again: a
// path, not standard input (gzip-compressed or not). Given an InputFile,
// every pass reads that one descriptor, and a pass over a file changed in
// place, or whose header no longer names the columns, fails.
#ifndef SPLITRUN_STREAMED_CSV_SOURCE_H
#define SPLITRUN_STREAMED_CSV_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <refhost/record_source.h>

#include "csv_format.h"
#include "csv_stream.h"
#include "first_error.h"
#include "input_source.h"

namespace splitrun {

class StreamedCsvSource : public refhost::RecordSource {
public:
    // Column i of the records is CSV column csvColumns[i] of `path`, read
    // as columns[i].storage says. `blockRecords` bounds the records of a
    // block.
    StreamedCsvSource(std::string path, CsvFormat format, std::vector<refhost::Column> columns,
                      std::vector<std::size_t> csvColumns, std::size_t blockRecords = 4096);
    // The same over a file held open: every pass reads its descriptor.
    StreamedCsvSource(std::shared_ptr<const InputFile> file, CsvFormat format, std::vector<refhost::Column> columns,
                      std::vector<std::size_t> csvColumns, std::size_t blockRecords = 4096);

    const std::vector<refhost::Column>& columns() const override { return columns_; }
    // Throws InputError when the file cannot be opened or its header is
    // malformed.
    std::unique_ptr<refhost::RecordPass> open() const override;

    std::string error() const override;

    // Called after each block a pass reads with the records the pass has
    // read so far, on the reading thread (for a progress display; the
    // callback serialises itself). Set before the first pass.
    void onBlock(std::function<void(std::size_t records)> callback) { onBlock_ = std::move(callback); }
    // The columns' storages come from a data model, so a value that does
    // not fit advises correcting either. Set before the first pass.
    void storagesFromDataModel(bool given) { fromDataModel_ = given; }

    // A pass that also shows the records as read, for their line numbers.
    class Pass;
    std::unique_ptr<Pass> openPass() const;

private:
    void noteError(const std::string& message) const { error_.note(message); }

    std::string path_;
    std::shared_ptr<const InputFile> file_;   // the file every pass reads, or null to open path_
    CsvFormat format_;
    std::vector<refhost::Column> columns_;
    std::vector<std::size_t> csvColumns_;
    std::size_t blockRecords_;
    std::function<void(std::size_t)> onBlock_;
    bool fromDataModel_ = false;
    mutable FirstError error_;
};

class StreamedCsvSource::Pass : public refhost::RecordPass {
public:
    explicit Pass(const StreamedCsvSource& source);
    bool next(refhost::Table& block) override;
    // Reads past the next `records` records without typing them.
    void skip(std::size_t records);
    // The records of the last block as read: the same rows, with their lines.
    const CsvBlock& records() const { return records_; }

private:
    const StreamedCsvSource& source_;
    InputSource input_;
    CsvStream stream_;
    CsvBlock records_;
    std::size_t read_ = 0;  // records of this pass so far
};

// Reads the file held open as `file` once, typed as the given columns,
// handing every block and its records as read to `eachBlock` in file order:
// the typed reader profileCsvFile takes (TypedCsvReader in csv_table.h). A
// plain file is read in chunks on several threads (readPlainChunks; the
// records of such a block know only their lines) until a chunk needs the
// full reader; from there on, and for any other file, a StreamedCsvSource
// reads the records one block at a time.
void readStreamedCsv(const std::shared_ptr<const InputFile>& file, const CsvFormat& format,
                     const std::vector<refhost::Column>& columns, const std::vector<std::size_t>& csvColumns,
                     bool fromDataModel, const std::function<void(const refhost::Table&, const CsvBlock&)>& eachBlock);

// Checks block by block that records with equal values in the key columns
// are adjacent, as checkGroupedFile does, for a pass that reads the
// records for other ends too. `add` throws InputError as checkGrouped does.
class GroupingCheck {
public:
    // The keys met are held to find a group that reappears; with a
    // `memoryBudget` (bytes, 0 for none), more keys than fit in it are
    // refused, as an external grouping refuses them.
    GroupingCheck(std::vector<std::size_t> keyColumns, std::string sourceName, std::uint64_t memoryBudget = 0);
    ~GroupingCheck();
    // `records` are the rows of `block` as read, for their line numbers.
    void add(const refhost::Table& block, const CsvBlock& records);

private:
    struct State;
    std::vector<std::size_t> keyColumns_;
    std::string sourceName_;
    std::unique_ptr<State> state_;
};

// Checks, in one pass, that records with equal values in the key columns
// are adjacent in the file. Throws InputError as checkGrouped does. The
// keys of the groups met so far are held in memory, not the records.
// `eachBlock`, when given, is called with every block read (so that the
// same pass can copy the records elsewhere).
void checkGroupedFile(const StreamedCsvSource& source, const std::vector<std::size_t>& keyColumns,
                      const std::string& sourceName,
                      const std::function<void(const refhost::Table&)>& eachBlock = {},
                      std::uint64_t memoryBudget = 0);

}  // namespace splitrun

#endif

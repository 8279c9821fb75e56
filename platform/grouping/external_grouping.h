// Grouping records that do not fit in memory by their split key, through
// temporary files. The distinct keys are held in memory (they usually fit
// when the records do not); the records are ordered by key in runs small
// enough to order in memory, each written to a spool file, and the runs
// are then merged into one grouped spool, which the run reads as grouped
// input. Groups come out in sorted key order (missing first,
// numbers numerically, strings bytewise), records in input order within a
// group: the order sortedByKey gives a loaded table.
#ifndef SPLITRUN_EXTERNAL_GROUPING_H
#define SPLITRUN_EXTERNAL_GROUPING_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include <refhost/record_source.h>

#include "errors.h"
#include "record_spool.h"

namespace splitrun {

struct ExternalGroupingSettings {
    std::filesystem::path tempDir;   // --temp-dir: the temporary directory is made in it
    std::string tempDirShownAs = {}; // how messages name it (TempDir::shownAs); empty: --temp-dir
    std::uint64_t memoryLimit = 0;   // --memory-limit in bytes
    std::uint64_t inputBytes = 0;    // the input's size as counted against the limit
    std::size_t records = 0;         // the input's number of records
    SpoolWriteFunction write;        // empty: write(2)
    // Progress of the merge of the sorted runs, in records; may be empty.
    std::function<void(std::size_t done, std::size_t total)> progress;
    // The columns the run reads, by position (empty: all); the others
    // reach the grouped records as missing values (SpoolWriter::carryOnly).
    std::vector<bool> carried = {};
};

// The refusal of a grouping whose distinct keys, `keys` of them so far,
// take more than its share of --memory-limit: the external grouping's
// (`presorted` false) or the check of a --presorted file's (true).
InputError tooManyKeys(std::size_t keys, bool presorted);

// The memory one distinct key of `keyTextBytes` bytes of text in
// `keyColumns` columns takes where a grouping holds it: a map entry, its
// cells and their text.
std::uint64_t keyMemory(std::size_t keyTextBytes, std::size_t keyColumns);

// The first pass of an external grouping, fed block by block by a pass
// that reads the input for other ends too (profiling it): finds the
// distinct keys and writes the records, typed, as sorted runs under a new
// temporary directory in settings.tempDir. The constructor and `add`
// throw InputError as groupExternally does; the directory is removed when
// the object goes away unless it was handed to groupExternally.
class KeyPass {
public:
    KeyPass(std::vector<std::size_t> keyColumns, const ExternalGroupingSettings& settings);
    ~KeyPass();
    KeyPass(KeyPass&&) noexcept;
    KeyPass& operator=(KeyPass&&) = delete;

    void add(const refhost::Table& block);

private:
    friend std::shared_ptr<SpoolSource> groupExternally(KeyPass keys, const std::vector<refhost::Column>& columns,
                                                        const ExternalGroupingSettings& settings);
    struct State;
    std::unique_ptr<State> state_;
};

// Groups the records a KeyPass has seen (by its key columns; their columns
// are `columns`), as the overload below does after its first pass.
std::shared_ptr<SpoolSource> groupExternally(KeyPass keys, const std::vector<refhost::Column>& columns,
                                             const ExternalGroupingSettings& settings);

// Reads `input` once (for its distinct keys, writing the records as sorted
// runs that are then merged) and returns its records grouped by
// `keyColumns`, in a spool under a new temporary directory that lives as
// long as the returned source.
// Throws what a pass over the input throws, and InputError when the
// temporary files cannot be written (a full disk included) or the distinct
// keys alone do not fit in the memory limit; the temporary directory is
// removed before the exception leaves.
std::shared_ptr<SpoolSource> groupExternally(const refhost::RecordSource& input,
                                             const std::vector<std::size_t>& keyColumns,
                                             const ExternalGroupingSettings& settings);

// Copies records that are already grouped, block by block as a pass reads
// them, to a spool under a new temporary directory in `tempDir`, so that
// later passes read them with no parsing. A spool that cannot be written
// (no room under `tempDir`) is dropped with its files, and `add` goes on
// quietly; `finish` then returns null and the caller reads the input itself.
class GroupedSpool {
public:
    // Only the `carried` columns are written (see SpoolWriter::carryOnly).
    explicit GroupedSpool(const std::filesystem::path& tempDir, SpoolWriteFunction write = {},
                          std::vector<bool> carried = {});
    ~GroupedSpool();
    GroupedSpool(const GroupedSpool&) = delete;
    GroupedSpool& operator=(const GroupedSpool&) = delete;

    void add(const refhost::Table& block);
    // Closes the spool and returns it as a source of records with these
    // columns, or null when it could not be written. Call once.
    std::shared_ptr<SpoolSource> finish(const std::vector<refhost::Column>& columns);

private:
    void drop();

    std::shared_ptr<TempDir> dir_;
    std::unique_ptr<SpoolWriter> writer_;
};

// Copies records that are already grouped, as `pass` reads them (it reads
// the input once and calls its argument with every block), to a spool under
// a new temporary directory in `tempDir`, so that later passes read them
// with no parsing. Returns null, with nothing left behind, when the spool
// cannot be written (no room under `tempDir`): `pass` still runs to its end
// and the caller reads the input itself. Throws what `pass` throws.
std::shared_ptr<SpoolSource> spoolGroupedRecords(
    const std::vector<refhost::Column>& columns, const std::filesystem::path& tempDir,
    const std::function<void(const std::function<void(const refhost::Table&)>&)>& pass,
    SpoolWriteFunction write = {}, std::vector<bool> carried = {});

}  // namespace splitrun

#endif

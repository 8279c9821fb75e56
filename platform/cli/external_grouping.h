// Grouping records that do not fit in memory by their split key, through
// temporary files. The distinct keys are held in memory (they usually fit
// when the records do not); the records are range-partitioned by key rank
// into spool files small enough to order in memory, and each partition is
// then ordered and appended to one grouped spool, which the run reads as
// grouped input. Groups come out in sorted key order (missing first,
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

#include "record_spool.h"

namespace splitrun {

struct ExternalGroupingSettings {
    std::filesystem::path tempDir;   // --temp-dir: the temporary directory is made in it
    std::uint64_t memoryLimit = 0;   // --memory-limit in bytes
    std::uint64_t inputBytes = 0;    // the input's size as counted against the limit
    std::size_t records = 0;         // the input's number of records
    SpoolWriteFunction write;        // empty: write(2)
    // Progress of the ordering of partitions, in records; may be empty.
    std::function<void(std::size_t done, std::size_t total)> progress;
};

// Reads `input` once (for its distinct keys, copying the records to a
// temporary spool that is then read to partition them) and returns its records grouped by `keyColumns`, in a spool under
// a new temporary directory that lives as long as the returned source.
// Throws what a pass over the input throws, and InputError when the
// temporary files cannot be written (a full disk included) or the distinct
// keys alone do not fit in the memory limit; the temporary directory is
// removed before the exception leaves.
std::shared_ptr<SpoolSource> groupExternally(const refhost::RecordSource& input,
                                             const std::vector<std::size_t>& keyColumns,
                                             const ExternalGroupingSettings& settings);

// Copies records that are already grouped, as `pass` reads them (it reads
// the input once and calls its argument with every block), to a spool under
// a new temporary directory in `tempDir`, so that later passes read them
// with no parsing. Returns null, with nothing left behind, when the spool
// cannot be written (no room under `tempDir`): `pass` still runs to its end
// and the caller reads the input itself. Throws what `pass` throws.
std::shared_ptr<SpoolSource> spoolGroupedRecords(
    const std::vector<refhost::Column>& columns, const std::filesystem::path& tempDir,
    const std::function<void(const std::function<void(const refhost::Table&)>&)>& pass,
    SpoolWriteFunction write = {});

}  // namespace splitrun

#endif

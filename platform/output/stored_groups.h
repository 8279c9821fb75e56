// What a build keeps of its groups for the next incremental build: the
// groups table of containers.db, and the counts of an incremental build's
// report.
#ifndef SPLITRUN_STORED_GROUPS_H
#define SPLITRUN_STORED_GROUPS_H

#include <cstddef>
#include <string>
#include <vector>

#include <refhost/container_store.h>

#include "group_worker.h"
#include "reusing_engine.h"
#include "run_summary.h"
#include "split_model_file.h"
#include "staged_store.h"

namespace splitrun {

// How an incremental build's groups compare with the previous build's, by
// split values: reused (fingerprint unchanged), refitted (the previous build
// had the group, but something it depends on changed), added (new) and
// removed (gone from the input).
struct ReuseCounts {
    std::size_t reused = 0;
    std::size_t refitted = 0;
    std::size_t added = 0;
    std::size_t removed = 0;
};

// Marks the groups of `summary` whose output was reused and counts them
// against the previous build (none when `previous` is null).
ReuseCounts markReusedGroups(RunSummary& summary, const ReusingEngine& engine, const PreviousBuild* previous,
                             const std::vector<int>& splitStorages);

// Writes a groups row for every group whose worker handed back an output
// (its documents kept against the group's entries in `outputs`, or a reused
// group's stored bytes as they were when they come back alike from its new
// entries), and the build row with the model code version and `settings`.
// With a `feed`, hands it the split model's part of every group with a model
// ID and a PMML entry, in group order (the PMML as read for the row, when it
// was), and finishes it however this ends.
void addStoredGroups(StagedStore& store, const RunSummary& summary, const ReusingEngine& engine,
                     const GroupWorker& worker, const refhost::RunOutputs& outputs,
                     const std::vector<int>& splitStorages, const std::string& settings,
                     SegmentFeed* feed = nullptr);

}  // namespace splitrun

#endif

// platform/output: what a build leaves behind. Owns the output directory and
// its atomic replacement (output_dir.h, output_transaction.h), single output
// files (output_file.h), the CSV tables (tables.h, csv_writer.h), the split
// model file (split_model_file.h) and the summary of a run they are written
// from (this header). May include platform/runtime/engines (for the group
// worker's summaries), platform/csv, platform/common, refhost/ and
// splitmodels/; never the commands.
//
// What became of each split group in a run, gathered from the host's run
// result and the worker's model summaries.
#ifndef SPLITRUN_RUN_SUMMARY_H
#define SPLITRUN_RUN_SUMMARY_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <refhost/run.h>
#include <splitmodels/group_model.h>

#include "group_worker.h"
#include "task_document.h"

namespace splitrun {

struct GroupOutcome {
    std::size_t index = 0;                  // position in distribution order
    // From the group's task document, with real values as the group's first
    // key holds them exactly (the document's text may round them).
    std::vector<TaskSplitValue> values;
    std::size_t records = 0;
    std::string modelId;                    // set when the group produced a model
    std::string failure;                    // why it did not, otherwise
    const KeptModel* model = nullptr;       // the fit's summary, when fitted
    std::optional<std::size_t> pmml;        // the group's entry in the run's "PMML" outputs
    bool reused = false;                    // its worker output came from the previous build
};

struct RunSummary {
    std::vector<GroupOutcome> groups;
    std::size_t models = 0;
    std::size_t failures = 0;
    // Steps of the components that did not return 0, as readable lines.
    std::vector<std::string> componentFailures;
    // Warnings on groups whose records hold several distinct keys that the
    // module took as one (reals within its tolerance, texts equal up to a
    // zero byte), or whose own PMML's split value does not select them exactly.
    std::vector<std::string> keyNotes;
};

// A group produced a model when its worker succeeded and the collect
// component stored its PMML under the group's model ID. The summary points
// into `result` and `worker`, which must outlive it.
RunSummary summariseRun(const refhost::RunResult& result, const GroupWorker& worker);

}  // namespace splitrun

#endif

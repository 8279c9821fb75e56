// The combined split model: one PMML MiningModel whose segments are the
// groups' models, selected by their split values.
#ifndef SPLITRUN_SPLIT_MODEL_FILE_H
#define SPLITRUN_SPLIT_MODEL_FILE_H

#include <filesystem>
#include <ostream>
#include <string>

#include <refhost/run.h>
#include <splitmodels/data.h>

#include "group_worker.h"
#include "field_roles.h"
#include "run_summary.h"

namespace splitrun {

// Writes the PMML text of the split model over every group that produced a
// model to `out`, one segment at a time, from each group's PMML as the
// collect component stored it in the run's outputs (read back one group at
// a time). A group's segment tests every key its records hold, as the
// worker kept them (the task document's values when it kept none). Throws
// RunError when the model library rejects a group's PMML; `out` then holds
// a partial document.
void writeSplitModel(std::ostream& out, const RunSummary& summary, const refhost::RunOutputs& outputs,
                     const GroupWorker& worker, const ModelFields& fields,
                     const splitmodels::ModelSpec& request, const std::string& dataModelText);

// writeSplitModel into the file at `path`. Throws RunError naming the path
// when it cannot be written.
void writeSplitModelFile(const std::filesystem::path& path, const RunSummary& summary,
                         const refhost::RunOutputs& outputs, const GroupWorker& worker,
                         const ModelFields& fields, const splitmodels::ModelSpec& request,
                         const std::string& dataModelText);

}  // namespace splitrun

#endif

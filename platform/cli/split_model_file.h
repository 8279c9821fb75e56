// The combined split model: one PMML MiningModel whose segments are the
// groups' models, selected by their split values.
#ifndef SPLITRUN_SPLIT_MODEL_FILE_H
#define SPLITRUN_SPLIT_MODEL_FILE_H

#include <string>

#include <splitmodels/data.h>

#include "group_worker.h"
#include "model_fields.h"
#include "run_summary.h"

namespace splitrun {

// The PMML text of the split model over every group that produced a model,
// built from each group's PMML as the collect component stored it. A
// group's segment tests every key its records hold, as the worker kept them
// (the task document's values when it kept none). Throws RunError when the
// model library rejects a group's PMML.
std::string composeSplitModel(const RunSummary& summary, const GroupWorker& worker, const ModelFields& fields,
                              const splitmodels::ModelSpec& request, const std::string& dataModelText);

}  // namespace splitrun

#endif

#include "split_model_file.h"

#include <algorithm>
#include <stdexcept>

#include <splitmodels/split_model.h>

#include "errors.h"

namespace splitrun {

namespace {

int storageOf(const std::vector<splitmodels::FieldDef>& defs, const std::string& name)
{
    for (const splitmodels::FieldDef& def : defs)
        if (def.name == name) return def.storage;
    return splitmodels::StorageNone;
}

}  // namespace

std::string composeSplitModel(const RunSummary& summary, const GroupWorker& worker, const ModelFields& fields,
                              const splitmodels::ModelSpec& request, const std::string& dataModelText)
{
    try {
        const std::vector<splitmodels::FieldDef> defs =
            splitmodels::parseDataModelFields(dataModelText);
        splitmodels::SplitModelInput input;
        for (const splitmodels::FieldDef& def : defs) {
            const bool used = def.name == fields.target ||
                              std::find(fields.split.begin(), fields.split.end(), def.name) != fields.split.end() ||
                              std::find(fields.inputs.begin(), fields.inputs.end(), def.name) != fields.inputs.end();
            if (used) input.fields.push_back(def);
        }
        input.splitFields = fields.split;
        input.request = request;
        for (const GroupOutcome& group : summary.groups) {
            if (group.modelId.empty() || !group.pmml) continue;
            splitmodels::SplitSegment segment;
            for (const TaskSplitValue& value : group.values)
                segment.values.push_back(
                    {value.field, value.value, value.missing, storageOf(defs, value.field)});
            if (const std::vector<SplitKey>* keys = worker.splitKeys(group.index)) segment.keys = *keys;
            if (const auto* levels = worker.heldLevels(group.index)) segment.levels = *levels;
            segment.groupPmml = group.pmml->data;
            segment.id = group.modelId;
            input.segments.push_back(std::move(segment));
        }
        return splitmodels::buildSplitModelPmml(input);
    } catch (const std::invalid_argument& e) {
        throw RunError(std::string("cannot assemble split-model.pmml: ") + e.what());
    }
}

}  // namespace splitrun

#include "split_model_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <splitmodels/split_model.h>

#include "errors.h"
#include "output_dir.h"
#include "name_index.h"

namespace splitrun {

namespace {

int storageOf(const std::vector<splitmodels::FieldDef>& defs, const NameIndex& byName, const std::string& name)
{
    const std::optional<std::size_t> position = byName.find(name);
    return position ? defs[*position].storage : splitmodels::StorageNone;
}

}  // namespace

void writeSplitModel(std::ostream& out, const RunSummary& summary, const refhost::RunOutputs& outputs,
                     const GroupWorker& worker, const ModelFields& fields,
                     const splitmodels::ModelSpec& request, const std::string& dataModelText)
{
    try {
        const std::vector<splitmodels::FieldDef> defs =
            splitmodels::parseDataModelFields(dataModelText);
        const auto nameOf = [](const auto& item) -> const std::string& { return item.name; };
        const NameIndex byName(defs, nameOf);
        const auto self = [](const std::string& name) -> const std::string& { return name; };
        const NameIndex split(fields.split, self);
        const NameIndex inputs(fields.inputs, self);
        splitmodels::SplitModelInput head;
        for (const splitmodels::FieldDef& def : defs) {
            const bool used = def.name == fields.target || split.contains(def.name) || inputs.contains(def.name) ||
                              (!request.offset.empty() && def.name == request.offset);
            if (used) head.fields.push_back(def);
        }
        head.splitFields = fields.split;
        head.request = request;
        splitmodels::SplitModelWriter writer(std::move(head), out);
        for (const GroupOutcome& group : summary.groups) {
            if (group.modelId.empty() || !group.pmml) continue;
            splitmodels::SplitSegment segment;
            for (const TaskSplitValue& value : group.values)
                segment.values.push_back(
                    {value.field, value.value, value.missing, storageOf(defs, byName, value.field)});
            if (const std::vector<SplitKey>* keys = worker.splitKeys(group.index)) segment.keys = *keys;
            if (const auto* levels = worker.heldLevels(group.index)) segment.levels = *levels;
            segment.groupPmml = outputs.content("PMML", *group.pmml);
            segment.id = group.modelId;
            writer.add(segment);
        }
        writer.finish();
    } catch (const std::invalid_argument& e) {
        throw RunError(std::string("cannot assemble split-model.pmml: ") + e.what());
    }
}

void writeSplitModelFile(const std::filesystem::path& path, const RunSummary& summary,
                         const refhost::RunOutputs& outputs, const GroupWorker& worker,
                         const ModelFields& fields, const splitmodels::ModelSpec& request,
                         const std::string& dataModelText)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw writeError(path, errno);
    errno = 0;
    writeSplitModel(out, summary, outputs, worker, fields, request, dataModelText);
    out.close();
    // The reason is that of the write or close that failed.
    if (!out) throw writeError(path, errno != 0 ? errno : EIO);
}

}  // namespace splitrun

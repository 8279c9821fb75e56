#include "group_worker.h"

#include <cstdio>
#include <stdexcept>

#include <splitmodels/data.h>

namespace splitrun {

std::string modelIdFor(std::size_t groupIndex)
{
    char text[32];
    std::snprintf(text, sizeof text, "model-%04zu", groupIndex + 1);
    return text;
}

splitmodels::GroupData toGroupData(const refhost::Table& records, const std::string& dataModel)
{
    splitmodels::GroupData data;
    const std::vector<splitmodels::FieldDef> defs = splitmodels::parseDataModelFields(dataModel);
    for (const refhost::Column& column : records.columns()) {
        splitmodels::FieldDef def;
        for (const splitmodels::FieldDef& candidate : defs)
            if (candidate.name == column.name) def = candidate;
        def.name = column.name;
        def.storage = column.storage;
        if (def.measure == splitmodels::MeasureNone) def.measure = column.measure;
        data.fields.push_back(std::move(def));
    }
    const std::size_t width = records.columnCount();
    data.rows.assign(records.rowCount(), std::vector<splitmodels::Cell>(width));
    for (std::size_t c = 0; c < width; ++c) {
        const refhost::ColumnValues& values = records.values(c);
        using Kind = refhost::ColumnValues::Kind;
        for (std::size_t r = 0; r < values.size(); ++r) {
            splitmodels::Cell& cell = data.rows[r][c];
            if (values.isMissing(r))
                cell.missing = true;
            else if (values.kind() == Kind::Real)
                cell.number = values.reals()[r];
            else if (values.kind() == Kind::Integer)
                cell.number = static_cast<double>(values.integers()[r]);
            else if (values.kind() == Kind::Text)
                cell.text = values.dictionary().at(values.codes()[r]);
            else if (const refhost::Cell& raw = values.cells()[r]; raw.isText())
                cell.text = raw.asText();
            else
                cell.number = raw.isInteger() ? static_cast<double>(raw.asInteger()) : raw.asReal();
        }
    }
    return data;
}

GroupWorker::GroupWorker(splitmodels::ModelKind kind, std::string target,
                         std::vector<std::string> inputs, std::string event)
{
    request_.kind = kind;
    request_.target = std::move(target);
    request_.inputs = std::move(inputs);
    request_.event = std::move(event);
}

refhost::WorkerOutput GroupWorker::operator()(const refhost::WorkerJob& job)
{
    splitmodels::ModelSpec request = request_;
    request.modelId = modelIdFor(job.groupIndex);
    request.dataModelXml = job.dataModel;
    splitmodels::GroupModel model = splitmodels::buildGroupModel(toGroupData(job.records, job.dataModel), request);

    refhost::WorkerOutput output;
    output.outcome = model.ok ? 0 : 1;
    output.reason = model.reason;
    output.statXml = std::move(model.statXML);
    output.pmml = std::move(model.pmml);
    model.statXML.clear();
    model.pmml.clear();
    model.fitted.clear();
    model.fitted.shrink_to_fit();
    std::lock_guard<std::mutex> guard(mutex_);
    models_[job.groupIndex] = std::move(model);
    return output;
}

const splitmodels::GroupModel* GroupWorker::model(std::size_t groupIndex) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = models_.find(groupIndex);
    return found == models_.end() ? nullptr : &found->second;
}

}  // namespace splitrun

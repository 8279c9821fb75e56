#include "group_worker.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <span>
#include <stdexcept>

#include <splitmodels/data.h>

#include "group_levels.h"

namespace splitrun {

std::string modelIdFor(std::size_t groupIndex)
{
    // Written by hand: a build asks for every group's ID several times, and
    // snprintf cost about a thousand instructions a call.
    char digits[24];
    const std::size_t number = groupIndex + 1;
    const std::size_t length = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, number).ptr - digits);
    std::string id("model-");
    if (length < 4) id.append(4 - length, '0');
    id.append(digits, length);
    return id;
}

TableRecords::TableRecords(const refhost::TableRows& records, const splitmodels::DataModel& dataModel,
                           bool nonFiniteMissing)
    : records_(records), nonFiniteMissing_(nonFiniteMissing)
{
    dataModel.fields();  // throws for a data model whose fields cannot be read
    fields_.reserve(records.columns().size());
    for (const refhost::Column& column : records.columns()) {
        splitmodels::FieldDef def;
        // The last definition of a name is the one read.
        if (const splitmodels::FieldDef* described = dataModel.field(column.name)) def = *described;
        def.name = column.name;
        def.storage = column.storage;
        if (def.measure == splitmodels::MeasureNone) def.measure = column.measure;
        fields_.push_back(std::move(def));
    }
}

void TableRecords::readField(std::size_t field, splitmodels::FieldColumn& out) const
{
    const refhost::ColumnSlice values = records_.values(field);
    const std::size_t n = values.size();
    const bool text = fields_[field].storage == splitmodels::StorageString;
    using Kind = refhost::ColumnValues::Kind;
    out.missing.assign(n, 0);
    // Reals are read where the table keeps them (a missing one holds 0);
    // other kinds are converted into the column's own numbers.
    std::span<double> numbers;
    if (!text && values.kind() == Kind::Real) {
        out.held.clear();
        out.numbers = values.reals();
    } else {
        numbers = out.holdNumbers(text ? 0 : n);
    }
    out.texts.assign(text ? n : 0, std::string_view());
    if (values.hasMissing())
        for (std::size_t r = 0; r < n; ++r) out.missing[r] = values.isMissing(r);
    switch (values.kind()) {
    case Kind::Real:
        if (!text && nonFiniteMissing_)
            for (std::size_t r = 0; r < n; ++r) out.missing[r] |= !std::isfinite(out.numbers[r]);
        return;
    case Kind::Integer:
        if (!text) {
            const std::span<const std::int64_t> integers = values.integers();
            for (std::size_t r = 0; r < n; ++r) numbers[r] = static_cast<double>(integers[r]);
        }
        return;
    case Kind::Text:
        if (text) {
            const std::span<const std::uint32_t> codes = values.codes();
            for (std::size_t r = 0; r < n; ++r)
                if (!out.missing[r]) out.texts[r] = values.dictionary().at(codes[r]);
        }
        return;
    case Kind::Cells:
        for (std::size_t r = 0; r < n; ++r) {
            const refhost::Cell& cell = values.cells()[r];
            if (out.missing[r]) continue;
            if (text && cell.isText()) out.texts[r] = cell.asText();
            else if (!text && cell.isInteger()) numbers[r] = static_cast<double>(cell.asInteger());
            else if (!text && !cell.isText()) numbers[r] = cell.asReal();
        }
        return;
    }
}

GroupWorker::GroupWorker(splitmodels::ModelSpec request) : request_(std::move(request)) {}

namespace {

// The group's records whose target, an input, the weight or the offset is
// not finite: how many, and the first of them with its field and value.
struct NonFinite {
    std::size_t records = 0;
    std::string field;
    double value = 0;
    std::size_t record = 0;   // 0-based within the group
};

// Whether every value is finite (a missing one holds 0): x - x is 0 for a
// finite x and NaN for any other, and a NaN stays in a sum. Four sums keep
// the adds apart, so the pass runs at the speed of its loads.
bool allFinite(const double* reals, std::size_t rows)
{
    double sums[4] = {0, 0, 0, 0};
    std::size_t r = 0;
    for (; r + 4 <= rows; r += 4)
        for (std::size_t k = 0; k < 4; ++k) sums[k] += reals[r + k] - reals[r + k];
    for (; r < rows; ++r) sums[0] += reals[r] - reals[r];
    return sums[0] + sums[1] + sums[2] + sums[3] == 0;
}

NonFinite nonFiniteRecords(const refhost::TableRows& records, const splitmodels::ModelSpec& request)
{
    NonFinite found;
    std::vector<char> bad(records.rowCount(), 0);
    std::vector<std::string> fields{request.target};
    fields.insert(fields.end(), request.inputs.begin(), request.inputs.end());
    // R's fit stops at an infinite weight or offset as at an infinite input.
    for (const std::string* extra : {&request.weights, &request.offset})
        if (!extra->empty()) fields.push_back(*extra);
    for (const std::string& name : fields) {
        const auto column = records.columnIndex(name);
        if (!column || records.values(*column).kind() != refhost::ColumnValues::Kind::Real) continue;
        const refhost::ColumnSlice values = records.values(*column);
        const double* reals = values.reals().data();
        const std::size_t rows = values.size();
        if (allFinite(reals, rows)) continue;
        // The finite test goes first: it is the cheapest of the three and
        // passes almost every value without a look at the missing flags.
        for (std::size_t r = 0; r < rows; ++r) {
            if (std::isfinite(reals[r]) || values.isMissing(r) || bad[r]) continue;
            bad[r] = 1;
            if (found.records++ == 0 || r < found.record)
                found.field = name, found.value = values.reals()[r], found.record = r;
        }
    }
    return found;
}

// The first input read as categories that has a level per record of the
// group (an identifier, say): nothing when there is none. Its design would
// be a dense matrix with a column per record, slow to factorise for a fit
// that only reproduces the records.
std::optional<std::pair<std::string, std::size_t>> levelPerRecord(const refhost::TableRows& records,
                                                                   const splitmodels::ModelSpec& request)
{
    // A group too small for a parameter per input fails as too small anyway.
    if (records.rowCount() <= request.inputs.size() + 1) return std::nullopt;
    for (const std::string& name : request.inputs) {
        const auto column = records.columnIndex(name);
        if (!column || records.values(*column).kind() != refhost::ColumnValues::Kind::Text) continue;
        const refhost::ColumnSlice values = records.values(*column);
        std::vector<std::uint32_t> codes;
        codes.reserve(values.size());
        for (std::size_t r = 0; r < values.size(); ++r)
            if (!values.isMissing(r)) codes.push_back(values.codes()[r]);
        if (codes.size() < 2) continue;
        std::sort(codes.begin(), codes.end());
        if (std::adjacent_find(codes.begin(), codes.end()) == codes.end()) return std::pair(name, codes.size());
    }
    return std::nullopt;
}

}  // namespace

std::shared_ptr<const splitmodels::DataModel> GroupWorker::dataModelOf(
    const std::shared_ptr<const std::string>& text)
{
    static const auto kNone = std::make_shared<const std::string>();
    const std::shared_ptr<const std::string>& key = text ? text : kNone;
    std::lock_guard<std::mutex> guard(dataModelMutex_);
    if (key != dataModelText_) {
        // The StatXML copies the target's and inputs' Field elements.
        std::vector<std::string> copied{request_.target};
        copied.insert(copied.end(), request_.inputs.begin(), request_.inputs.end());
        dataModel_ = std::make_shared<const splitmodels::DataModel>(*key, copied);
        dataModelText_ = key;
    }
    return dataModel_;
}

GroupWorker::Fitted GroupWorker::fit(const refhost::WorkerJob& job)
{
    splitmodels::ModelSpec request = request_;
    request.modelId = modelIdFor(job.groupIndex);
    request.dataModel = dataModelOf(job.dataModel);
    const TableRecords records(job.records, *request.dataModel, skipNonFinite_);
    // A fit cannot use an infinite value: the group fails, naming it, as
    // R's lm stops; or, when asked, such records are left out like missing ones.
    splitmodels::GroupModel model;
    const NonFinite nonFinite = nonFiniteRecords(job.records, request);
    const bool failNonFinite = nonFinite.records > 0 && !skipNonFinite_;
    const auto perRecord = failNonFinite ? std::nullopt : levelPerRecord(job.records, request);
    Fitted fitted;
    if (perRecord) {
        model.reason = "the input '" + perRecord->first + "' has a different value in each of the group's " +
                       std::to_string(perRecord->second) + " records, so a model would have a parameter per "
                       "record; leave it out of --inputs (it looks like an identifier)";
    } else if (failNonFinite) {
        model.reason = std::string("the field '") + nonFinite.field + "' is " +
                       (nonFinite.value > 0 ? "Inf" : "-Inf") + " in record " +
                       std::to_string(nonFinite.record + 1) + " of the group's " +
                       std::to_string(job.records.rowCount()) +
                       "; a model cannot be fitted to an infinite value; correct it, or give "
                       "--non-finite skip to leave such records out";
    } else {
        fitted.nonFiniteSkipped = nonFinite.records;
        model = splitmodels::buildGroupModel(records, request);
    }

    fitted.output.outcome = model.ok ? 0 : 1;
    fitted.output.reason = model.reason;
    fitted.output.statXml = std::move(model.statXML);
    fitted.output.pmml = std::move(model.pmml);
    fitted.kept.model = KeptModel(model, &shapes_);
    if (!splitFields_.empty()) {
        fitted.kept.keys = distinctSplitKeys(job.records, splitFields_);
        if (model.ok) fitted.kept.levels = heldCategories(records, request.target, request.inputs);
    }
    return fitted;
}

refhost::WorkerOutput GroupWorker::keep(std::size_t groupIndex, Fitted fitted)
{
    nonFiniteSkipped_ += fitted.nonFiniteSkipped;
    std::lock_guard<std::mutex> guard(mutex_);
    if (groups_.size() <= groupIndex) groups_.resize(groupIndex + 1);
    Slot& kept = groups_[groupIndex];
    kept = std::move(fitted.kept);
    kept.worked = true;
    return std::move(fitted.output);
}

const GroupWorker::Slot* GroupWorker::kept(std::size_t groupIndex) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return groupIndex < groups_.size() && groups_[groupIndex].worked ? &groups_[groupIndex] : nullptr;
}

const std::vector<std::pair<std::string, std::vector<std::string>>>* GroupWorker::heldLevels(
    std::size_t groupIndex) const
{
    const Slot* group = kept(groupIndex);
    return group && !splitFields_.empty() && !group->levels.empty() ? &group->levels : nullptr;
}

const std::vector<SplitKey>* GroupWorker::splitKeys(std::size_t groupIndex) const
{
    const Slot* group = kept(groupIndex);
    return group && !splitFields_.empty() ? &group->keys : nullptr;
}

GroupWorker::Kept GroupWorker::release(std::size_t groupIndex)
{
    Kept kept;
    std::lock_guard<std::mutex> guard(mutex_);
    if (groupIndex >= groups_.size() || !groups_[groupIndex].worked) return kept;
    Slot& slot = groups_[groupIndex];
    kept.model = slot.model.expanded();
    kept.keys = std::move(slot.keys);
    kept.levels = std::move(slot.levels);
    slot = Slot();
    return kept;
}

void GroupWorker::adopt(std::size_t groupIndex, Kept kept)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (groups_.size() <= groupIndex) groups_.resize(groupIndex + 1);
    Slot& slot = groups_[groupIndex];
    slot.worked = true;
    slot.model = KeptModel(kept.model, &shapes_);
    if (!splitFields_.empty()) {
        slot.keys = std::move(kept.keys);
        slot.levels = std::move(kept.levels);
    }
}

const KeptModel* GroupWorker::model(std::size_t groupIndex) const
{
    const Slot* group = kept(groupIndex);
    return group ? &group->model : nullptr;
}

}  // namespace splitrun

#include "model_fields.h"

#include <algorithm>
#include <set>

#include <splitmodels/group_model.h>

#include "errors.h"
#include "group_order.h"
#include "name_index.h"

namespace splitrun {

namespace {

std::string fieldList(const refhost::Table& table)
{
    std::string list;
    for (const refhost::Column& column : table.columns())
        list += (list.empty() ? "" : ", ") + column.name;
    return list;
}

std::size_t columnOf(const CsvTable& data, const std::string& name, const std::string& option)
{
    if (auto index = data.table.columnIndex(name)) return *index;
    // One byte order mark is skipped; a second one (a file converted or
    // joined twice) stays in the first name, where it cannot be seen.
    const bool marked = !data.table.columns().empty() && data.table.columns()[0].name.starts_with("\xEF\xBB\xBF");
    throw InputError(option + ": the field '" + name + "' is not a column of " + data.source +
                     " (field names are case-sensitive); its fields are: " + fieldList(data.table) +
                     (marked ? "; the first name starts with a second byte order mark (U+FEFF): remove it" : ""));
}

// The distinct present values of a column in sorted order (numbers
// numerically, strings bytewise), as texts.
std::vector<std::string> distinctValues(const refhost::Table& table, std::size_t column)
{
    std::vector<refhost::Cell> values;
    for (std::size_t row = 0; row < table.rowCount(); ++row)
        if (!table.isMissing(row, column)) values.push_back(table.at(row, column));
    std::sort(values.begin(), values.end(),
              [](const refhost::Cell& a, const refhost::Cell& b) { return compareCells(a, b) < 0; });
    values.erase(std::unique(values.begin(), values.end()), values.end());
    std::vector<std::string> texts;
    for (const refhost::Cell& value : values)
        texts.push_back(cellText(value, table.columns()[column].storage));
    return texts;
}

void checkTarget(const BuildOptions& options, const CsvTable& data, ModelFields& fields)
{
    const refhost::Column& column = data.table.columns()[fields.targetColumn];
    // A column of missing values only is read as text; say what is wrong
    // with it rather than that it holds text.
    if (data.fields[fields.targetColumn].missing == data.recordCount())
        throw InputError("--target " + fields.target + ": the field has no values (every record's is missing); "
                         "choose a target that holds values, or check --na-values");
    const std::string& family = options.glm.family;
    const bool binomial = family == "binomial" || family == "quasibinomial";
    // A target read as text because --categorical names it: say so, not
    // that the field holds text.
    const bool listed = std::find(options.categorical.begin(), options.categorical.end(), fields.target) !=
                        options.categorical.end();
    const std::string heldAsText =
        listed ? ": --categorical " + fields.target + " makes the field a category (leave it out of "
                 "--categorical to read its numbers)"
               : ": the field holds text";
    if (options.model == ModelChoice::Glm && (!binomial || column.storage != 3)) {
        if (column.storage == 3)
            throw InputError("--target " + fields.target + heldAsText + ", but the " + family +
                             " family needs a numeric target; choose a numeric field, or a binomial "
                             "family for a two-valued target");
        return;
    }
    if (options.model == ModelChoice::Linear) {
        if (column.storage == 3)
            throw InputError("--target " + fields.target + heldAsText + ", but a linear "
                             "model needs a numeric target; choose a numeric field, or use "
                             "--model logistic for a two-valued target");
        return;
    }
    fields.targetValues = distinctValues(data.table, fields.targetColumn);
    if (fields.targetValues.size() != 2) {
        std::string shown;
        for (std::size_t i = 0; i < fields.targetValues.size() && i < 5; ++i)
            shown += (i ? ", " : "") + fields.targetValues[i];
        if (fields.targetValues.size() > 5) shown += ", ...";
        throw InputError("--target " + fields.target + ": --model logistic needs a flag target "
                         "with exactly two distinct values over the data, but it has " +
                         std::to_string(fields.targetValues.size()) +
                         (shown.empty() ? "" : " (" + shown + ")") +
                         "; choose a two-valued field or use --model linear");
    }
    if (options.event &&
        std::find(fields.targetValues.begin(), fields.targetValues.end(), *options.event) ==
            fields.targetValues.end())
        throw InputError("--event " + *options.event + ": not a value of the target '" +
                         fields.target + "'; use " + fields.targetValues[0] + " or " +
                         fields.targetValues[1]);
}

// The module compares text split values only up to a zero byte, and its
// task documents end a value there: "a<NUL>x" and "a<NUL>y" would be fitted
// as one group whose documents claim the key "a". Such keys are refused.
void refuseZeroByteKeys(const CsvTable& data, std::size_t column)
{
    const TextTally& tally = data.fields[column].tally;
    if (tally.zeroByteLine == 0) return;
    throw InputError(data.source + ":" + std::to_string(tally.zeroByteLine) + " (field '" + data.fields[column].name +
                     "'): the split value holds a zero byte after '" +
                     tally.zeroByte.substr(0, tally.zeroByte.find('\0')) +
                     "', which a split key cannot carry (keys are compared up to it); "
                     "remove or replace the byte, or split on another field");
}

// A category the model uses (the target's or an input's) that holds a
// control byte XML cannot carry would lose it in the documents: its records
// would match no category the data model lists, and drop out of the fit.
// Such values are refused.
void refuseControlBytes(const CsvTable& data, const ModelFields& fields)
{
    std::vector<std::string> used = {fields.target};
    used.insert(used.end(), fields.inputs.begin(), fields.inputs.end());
    const NameIndex byName(data.fields, [](const FieldSummary& f) -> const std::string& { return f.name; });
    for (const std::string& name : used) {
        const std::optional<std::size_t> position = byName.find(name);
        if (!position) continue;
        const FieldSummary* field = &data.fields[*position];
        if (field->tally.controlByteLine == 0) continue;
        throw InputError(data.source + ":" + std::to_string(field->tally.controlByteLine) + " (field '" + name +
                         "'): the value '" + field->tally.controlByte +
                         "' holds a control character, which the model's documents cannot carry; "
                         "remove or replace it, or leave the field out of the model");
    }
}

// --weights and --offset name numeric fields that are neither split fields
// nor the target.
void checkGlmFields(const BuildOptions& options, const CsvTable& data, const ModelFields& fields)
{
    if (options.model != ModelChoice::Glm) return;
    for (const auto& [option, name] : {std::pair<const char*, const std::string&>{"--weights", options.glm.weights},
                                       std::pair<const char*, const std::string&>{"--offset", options.glm.offset}}) {
        if (name.empty()) continue;
        const std::size_t column = columnOf(data, name, option);
        if (name == fields.target ||
            std::find(fields.split.begin(), fields.split.end(), name) != fields.split.end())
            throw InputError(std::string(option) + " " + name + ": the field is the target or a split field; "
                             "name another numeric field");
        if (data.table.columns()[column].storage == 3)
            throw InputError(std::string(option) + " " + name + ": the field holds text; it must be numeric");
    }
}

// Each --reference names an input and one of the values it holds.
void checkReferences(const BuildOptions& options, const CsvTable& data, const ModelFields& fields)
{
    for (const auto& [field, level] : options.references) {
        if (std::find(fields.inputs.begin(), fields.inputs.end(), field) == fields.inputs.end())
            throw InputError("--reference " + field + "=" + level + ": '" + field +
                             "' is not an input of the model; name a categorical input");
        const std::vector<std::string> levels = distinctValues(data.table, columnOf(data, field, "--reference"));
        if (std::find(levels.begin(), levels.end(), level) == levels.end())
            throw InputError("--reference " + field + "=" + level + ": the field holds no value '" +
                             level + "'; name one of its levels as the data writes it");
    }
}

// The inputs of a --formula build: the fields its right side reads, and for
// "." every field that is neither a split field nor read by the response. A
// plain response is checked as --target is.
void resolveFormulaFields(const BuildOptions& options, const CsvTable& data, const std::set<std::string>& splitSet,
                          ModelFields& fields)
{
    splitmodels::FormulaFields formula;
    splitmodels::checkFormula(options.formula, formula);
    for (const std::string& name : formula.responseFields) columnOf(data, name, "--formula");
    for (const std::string& name : formula.inputs) {
        columnOf(data, name, "--formula");
        if (splitSet.count(name))
            throw InputError("--formula: the field '" + name + "' is a split field; it is the same in every "
                             "record of a group and cannot be a term");
        fields.inputs.push_back(name);
    }
    if (formula.dot) {
        const auto& response = formula.responseFields;
        for (const refhost::Column& column : data.table.columns())
            if (!splitSet.count(column.name) &&
                std::find(response.begin(), response.end(), column.name) == response.end() &&
                std::find(fields.inputs.begin(), fields.inputs.end(), column.name) == fields.inputs.end())
                fields.inputs.push_back(column.name);
    }
    for (const std::string& name : formula.responseFields)
        if (splitSet.count(name))
            throw InputError("--formula: the response reads the split field '" + name + "'; a field cannot be both");
    const bool binomial = options.model == ModelChoice::Logistic ||
                          (options.model == ModelChoice::Glm &&
                           (options.glm.family == "binomial" || options.glm.family == "quasibinomial"));
    if (formula.cbind && !binomial)
        throw InputError("--formula: a cbind(successes, failures) response needs a binomial family; give "
                         "--family binomial or --model logistic");
    if (formula.plainResponse) checkTarget(options, data, fields);
}

}  // namespace

ModelFields resolveModelFields(const BuildOptions& options, const CsvTable& data)
{
    ModelFields fields;
    fields.split = options.splitFields;
    for (const std::string& name : fields.split) {
        fields.splitColumns.push_back(columnOf(data, name, "--split"));
        refuseZeroByteKeys(data, fields.splitColumns.back());
    }
    fields.target = options.target;
    fields.targetColumn = columnOf(data, fields.target, options.formula.empty() ? "--target" : "--formula");
    const std::set<std::string> splitSet(fields.split.begin(), fields.split.end());
    if (splitSet.count(fields.target))
        throw InputError("--target " + fields.target + ": the field is also a split field; a "
                         "field cannot be both");

    if (!options.formula.empty()) {
        resolveFormulaFields(options, data, splitSet, fields);
        checkReferences(options, data, fields);
        checkGlmFields(options, data, fields);
        refuseControlBytes(data, fields);
        return fields;
    }
    if (options.inputs.empty()) {
        for (const refhost::Column& column : data.table.columns())
            if (!splitSet.count(column.name) && column.name != fields.target &&
                column.name != options.glm.weights && column.name != options.glm.offset)
                fields.inputs.push_back(column.name);
    } else {
        for (const std::string& name : options.inputs) {
            columnOf(data, name, "--inputs");
            if (splitSet.count(name) || name == fields.target)
                throw InputError("--inputs: the field '" + name + "' is already the target or a "
                                 "split field; list only other fields as inputs");
            fields.inputs.push_back(name);
        }
    }
    if (fields.inputs.empty())
        throw InputError("--inputs: no field is left as an input; the file needs at least one "
                         "field besides the split fields and the target");
    checkTarget(options, data, fields);
    checkReferences(options, data, fields);
    checkGlmFields(options, data, fields);
    refuseControlBytes(data, fields);
    return fields;
}

}  // namespace splitrun

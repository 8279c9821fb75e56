#include "group_levels.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <set>

#include "name_index.h"

namespace splitrun {

namespace {

bool isCategorical(const splitmodels::FieldDef& field)
{
    return field.storage == splitmodels::StorageString ||
           (field.measure != splitmodels::MeasureContinuous && field.measure != splitmodels::MeasureNone);
}

}  // namespace

std::vector<std::pair<std::string, std::vector<std::string>>> heldCategories(
    const splitmodels::GroupRecords& records, const std::string& target, const std::vector<std::string>& inputs)
{
    const NameIndex byName(records.fields(), [](const splitmodels::FieldDef& def) -> const std::string& { return def.name; });
    const std::optional<std::size_t> targetField = byName.find(target);
    std::vector<std::size_t> fields;
    for (const std::string& name : inputs) {
        const std::optional<std::size_t> field = byName.find(name);
        if (!field || !targetField) return {};
        fields.push_back(*field);
    }
    // Most models have no categorical input: nothing to read.
    if (std::none_of(fields.begin(), fields.end(),
                     [&](std::size_t field) { return isCategorical(records.fields()[field]); }))
        return {};
    // The records the fit uses: target and every input present.
    std::vector<unsigned char> used(records.rowCount(), 1);
    std::vector<splitmodels::FieldColumn> columns(fields.size());
    splitmodels::FieldColumn column;
    records.readField(*targetField, column);
    for (std::size_t r = 0; r < used.size(); ++r) used[r] &= !column.missing[r];
    for (std::size_t i = 0; i < fields.size(); ++i) {
        records.readField(fields[i], columns[i]);
        for (std::size_t r = 0; r < used.size(); ++r) used[r] &= !columns[i].missing[r];
    }
    std::vector<std::pair<std::string, std::vector<std::string>>> held;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const splitmodels::FieldDef& def = records.fields()[fields[i]];
        if (!isCategorical(def)) continue;
        const bool text = def.storage == splitmodels::StorageString;
        std::vector<std::string> values;
        std::set<std::string> seen;
        for (std::size_t r = 0; r < used.size(); ++r) {
            if (!used[r]) continue;
            std::string value;
            if (text) {
                value = std::string(columns[i].texts[r]);
            } else {
                char number[32];
                value.assign(number, std::to_chars(number, number + sizeof number, columns[i].numbers[r]).ptr);
            }
            if (seen.insert(value).second) values.push_back(std::move(value));
        }
        held.emplace_back(def.name, std::move(values));
    }
    return held;
}

}  // namespace splitrun

#include "report.h"

#include <algorithm>
#include <cstdio>

#include "value_parsing.h"

namespace splitrun {

namespace {

std::size_t displayWidth(const std::string& text)
{
    // UTF-8 continuation bytes (10xxxxxx) do not start a character.
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string fixed(double value, int digits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

const char* typeName(int type)
{
    switch (type) {
    case 1: return "information";
    case 2: return "warning";
    default: return "error";
    }
}

}  // namespace

std::string formatTable(const std::vector<std::vector<std::string>>& rows)
{
    // A row's last cell is never padded, so it does not widen its column:
    // a long failure reason can run past the columns of the rows above.
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t i = 0; i + 1 < row.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            widths[i] = std::max(widths[i], displayWidth(row[i]));
        }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - displayWidth(row[i]) + 2, ' ');
        }
        text += line + "\n";
    }
    return text;
}

void printFields(std::ostream& out, const CsvTable& data)
{
    out << "Data: " << data.source << ", " << data.table.rowCount() << " records, "
        << data.table.columnCount() << " fields"
        << (data.dataModelText.empty() ? " (storages inferred)" : " (storages from --data-model)")
        << "\n";
    std::vector<std::vector<std::string>> rows{{"  field", "storage", "measure", "distinct", "missing"}};
    for (const FieldSummary& field : data.fields)
        rows.push_back({"  " + field.name, storageName(static_cast<Storage>(field.storage)),
                        measureName(static_cast<Measure>(field.measure)),
                        std::to_string(field.categories) + (field.moreCategories ? "+" : ""),
                        std::to_string(field.missing)});
    out << formatTable(rows) << "\n";
}

void printGroups(std::ostream& out, const RunSummary& summary,
                 const std::vector<std::string>& splitFields, const std::vector<int>& splitStorages,
                 ModelChoice model)
{
    std::vector<std::string> head = splitFields;
    head.insert(head.end(), {"records", "model"});
    if (model == ModelChoice::Linear)
        head.insert(head.end(), {"R squared", "RMSE"});
    else
        head.insert(head.end(), {"accuracy", "AUC"});
    std::vector<std::vector<std::string>> rows{head};

    for (const GroupOutcome& group : summary.groups) {
        std::vector<std::string> row;
        for (std::size_t i = 0; i < splitFields.size(); ++i)
            row.push_back(i < group.values.size()
                              ? displaySplitValue(group.values[i], splitStorages[i])
                              : "?");
        row.push_back(std::to_string(group.records));
        if (!group.failure.empty()) {
            row.push_back("-");
            row.push_back("failed: " + group.failure);
        } else {
            row.push_back(group.modelId);
            const splitmodels::GroupModel* fit = group.model;
            if (!fit) {
                row.insert(row.end(), {"?", "?"});
            } else if (model == ModelChoice::Linear) {
                row.insert(row.end(), {fixed(fit->rSquared, 4), fixed(fit->rmse, 4)});
            } else {
                row.insert(row.end(), {fixed(fit->accuracy, 4), fixed(fit->auc, 4)});
            }
        }
        rows.push_back(std::move(row));
    }
    out << formatTable(rows);
    out << "\n" << summary.groups.size() << " groups, " << summary.models << " models, "
        << summary.failures << " failed\n";
}

void printMessages(std::ostream& out, const std::string& component,
                   const std::vector<refhost::Message>& messages)
{
    for (const refhost::Message& message : messages)
        out << "  " << component << ": code " << message.code << ", " << typeName(message.type)
            << ": " << refhost::Host::messageText(message.code, message.args) << "\n";
}

}  // namespace splitrun

#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include <splitmodels/group_model.h>

#include "value_parsing.h"
#include "visible_text.h"

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
    if (!std::isfinite(value)) return "NA";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

// Five significant digits: glm figures range from 1e-4 (a dispersion) to
// 1e6 (a deviance).
std::string significant(double value)
{
    if (!std::isfinite(value)) return "NA";
    char text[64];
    std::snprintf(text, sizeof text, "%.5g", value);
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

// Warns about fits that reproduce their records: R squared 1 (linear) or
// zero deviance (logistic) with nothing left to estimate the error from.
void printSaturated(std::ostream& out, const RunSummary& summary, const std::vector<std::string>& splitFields,
                    const std::vector<int>& splitStorages)
{
    constexpr std::size_t kNamed = 5;
    std::size_t count = 0;
    std::string named;
    for (const GroupOutcome& group : summary.groups) {
        if (!group.failure.empty() || !group.model || group.model->dfResidual != 0) continue;
        if (++count > kNamed) continue;
        std::string key;
        for (std::size_t i = 0; i < splitFields.size() && i < group.values.size(); ++i)
            key += (key.empty() ? "" : ", ") + visibleText(displaySplitValue(group.values[i], splitStorages[i]));
        named += (named.empty() ? "" : "; ") + group.modelId + " (" + key + ")";
    }
    if (count == 0) return;
    out << "Warning: " << count << (count == 1 ? " fit is" : " fits are")
        << " saturated, with as many parameters as records used, so it reproduces them and has no "
           "residual degrees of freedom: "
        << named << (count > kNamed ? "; ..." : "") << " (saturated in groups.csv)\n";
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
        line.erase(line.find_last_not_of(' ') + 1);   // an empty last cell leaves no padding
        text += line + "\n";
    }
    return text;
}

void printFields(std::ostream& out, const CsvTable& data)
{
    out << "Data: " << visibleText(data.source) << ", " << data.recordCount() << " records, "
        << data.table.columnCount() << " fields"
        << (data.dataModelText.empty() ? " (storages inferred)" : " (storages from --data-model)")
        << "\n";
    std::vector<std::vector<std::string>> rows{{"  field", "storage", "measure", "distinct", "missing"}};
    const std::size_t listed = std::min(data.fields.size(), kListedFields);
    for (std::size_t f = 0; f < listed; ++f) {
        const FieldSummary& field = data.fields[f];
        rows.push_back({"  " + visibleText(field.name), storageName(static_cast<Storage>(field.storage)),
                        measureName(static_cast<Measure>(field.measure)),
                        std::to_string(field.categories) + (field.moreCategories ? "+" : ""),
                        std::to_string(field.missing)});
    }
    out << formatTable(rows);
    if (listed < data.fields.size()) {
        // A wide file would otherwise fill the terminal with field lines.
        std::map<std::string, std::size_t> byStorage;
        for (std::size_t f = listed; f < data.fields.size(); ++f)
            ++byStorage[storageName(static_cast<Storage>(data.fields[f].storage))];
        out << "  ... " << data.fields.size() - listed << " more fields (";
        const char* separator = "";
        for (const auto& [storage, count] : byStorage) {
            out << separator << count << " " << storage;
            separator = ", ";
        }
        out << ")\n";
    }
    out << "\n";
}

void printGroups(std::ostream& out, const RunSummary& summary,
                 const std::vector<std::string>& splitFields, const std::vector<int>& splitStorages,
                 const BuildOptions& options, const std::string& event)
{
    const ModelChoice model = options.model;
    if (!options.formula.empty()) out << "Formula: " << visibleText(options.formula) << "\n";
    if (model == ModelChoice::Glm)
        out << "Family: " << options.glm.family << ", link: "
            << (options.glm.link.empty() ? splitmodels::glmLinks(options.glm.family).front() : options.glm.link)
            << "\n";
    if (model != ModelChoice::Linear && !event.empty())
        out << "Event modelled: " << event << "\n";
    std::vector<std::string> head;
    for (const std::string& name : splitFields) head.push_back(visibleText(name));
    head.insert(head.end(), {"records", "used", "skipped", "model"});
    if (model == ModelChoice::Linear)
        head.insert(head.end(), {"R squared", "sigma"});
    else if (model == ModelChoice::Glm)
        head.insert(head.end(), {"deviance", "AIC", "dispersion", "iterations"});
    else
        head.insert(head.end(), {"accuracy", "AUC"});
    head.push_back("notes");
    std::vector<std::vector<std::string>> rows{head};

    // Beyond a screenful only the first groups are listed; the full list is
    // in the tables of the output directory.
    const std::size_t listed = std::min(summary.groups.size(), kListedGroups);
    for (std::size_t g = 0; g < listed; ++g) {
        const GroupOutcome& group = summary.groups[g];
        std::vector<std::string> row;
        for (std::size_t i = 0; i < splitFields.size(); ++i)
            row.push_back(i < group.values.size()
                              ? visibleText(displaySplitValue(group.values[i], splitStorages[i]))
                              : "?");
        row.push_back(std::to_string(group.records));
        const KeptModel* fit = group.model;
        row.push_back(fit ? std::to_string(fit->records) : "?");
        row.push_back(fit ? std::to_string(fit->skippedRecords) : "?");
        if (!group.failure.empty()) {
            row.insert(row.end(), {"-", "-", "-"});
            if (model == ModelChoice::Glm) row.insert(row.end(), {"-", "-"});
            row.push_back("failed: " + visibleText(group.failure));
        } else {
            row.push_back(group.modelId);
            if (!fit) {
                row.insert(row.end(), {"?", "?"});
                if (model == ModelChoice::Glm) row.insert(row.end(), {"?", "?"});
                row.push_back("");
            } else {
                if (model == ModelChoice::Linear)
                    row.insert(row.end(), {fixed(fit->rSquared, 4), fixed(fit->sigma, 4)});
                else if (model == ModelChoice::Glm)
                    row.insert(row.end(), {significant(fit->deviance), significant(fit->aic), significant(fit->dispersion),
                                           std::to_string(fit->iterations) + (fit->converged ? "" : " (not converged)")});
                else
                    row.insert(row.end(), {fixed(fit->accuracy, 4), fixed(fit->auc, 4)});
                std::string notes;
                for (const std::string& warning : fit->warnings())
                    notes += (notes.empty() ? "" : "; ") + visibleText(warning);
                row.push_back(notes);
            }
        }
        rows.push_back(std::move(row));
    }
    out << formatTable(rows);
    if (listed < summary.groups.size())
        out << "... " << summary.groups.size() - listed
            << " more groups; every group is listed in groups.csv in the output directory\n";
    out << "\n" << summary.groups.size() << " groups, " << summary.models << " models, "
        << summary.failures << " failed\n";
    printSaturated(out, summary, splitFields, splitStorages);
}

std::vector<std::string> identifierInputs(const CsvTable& data, const std::vector<std::string>& inputs)
{
    // A few records prove nothing: every value may be distinct by chance.
    constexpr std::size_t kFewestRecords = 3;
    std::vector<std::string> found;
    for (const FieldSummary& field : data.fields) {
        if (field.storage != static_cast<int>(Storage::String)) continue;
        if (std::find(inputs.begin(), inputs.end(), field.name) == inputs.end()) continue;
        const std::size_t present = data.recordCount() - field.missing;
        if (present >= kFewestRecords && (field.moreCategories || field.categories == present))
            found.push_back(field.name);
    }
    return found;
}

void printIdentifierWarning(std::ostream& out, const std::vector<std::string>& identifiers)
{
    if (identifiers.empty()) return;
    std::string names;
    for (const std::string& name : identifiers) names += (names.empty() ? "" : ", ") + visibleText(name);
    out << "Warning: the input" << (identifiers.size() > 1 ? "s " : " ") << names
        << (identifiers.size() > 1 ? " have" : " has")
        << " a different text in every record and look" << (identifiers.size() > 1 ? "" : "s")
        << " like an identifier; as a categorical input it gives every record its own "
           "coefficient, so the fits are saturated. Name the inputs with --inputs to leave it out.\n\n";
}

void printMessages(std::ostream& out, const std::string& component,
                   const std::vector<refhost::Message>& messages)
{
    for (const refhost::Message& message : messages)
        out << "  " << component << ": code " << message.code << ", " << typeName(message.type)
            << ": " << visibleText(refhost::Host::messageText(message.code, message.args)) << "\n";
}

}  // namespace splitrun

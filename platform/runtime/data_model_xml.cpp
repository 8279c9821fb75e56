// The data model document that describes a table.
#include <algorithm>
#include <array>
#include <sstream>

#include "refhost/table.h"

namespace refhost {

namespace {

constexpr std::array<const char*, 7> kStorageTexts = {
    "", "integer", "real", "string", "date", "time", "timestamp"};
constexpr std::array<const char*, 6> kMeasureTexts = {
    "", "continuous", "flag", "nominal", "ordinal", "categorical"};

std::string attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + xmlEscape(value) + "\"";
}

// Distinct non-missing values of one column, in first-seen order.
std::vector<const Cell*> categoriesOf(const Table& table, size_t column) {
    std::vector<const Cell*> seen;
    for (const auto& row : table.rows()) {
        const Cell& cell = row[column];
        if (cell.isMissing()) continue;
        const bool known = std::any_of(seen.begin(), seen.end(),
                                       [&](const Cell* other) { return *other == cell; });
        if (!known) seen.push_back(&cell);
    }
    return seen;
}

size_t maxTextLength(const Table& table, size_t column) {
    size_t longest = 0;
    for (const auto& row : table.rows())
        if (row[column].isText()) longest = std::max(longest, row[column].asText().size());
    return longest;
}

void writeGroups(std::ostream& out, const DataModelOptions& options) {
    if (options.groups.empty()) return;
    out << "<FieldGroups count=\"" << options.groups.size() << "\">";
    for (const auto& group : options.groups) {
        out << "<FieldGroup" << attribute("groupType", group.type)
            << attribute("name", group.name) << ">";
        for (const auto& field : group.fields) out << "<FieldName" << attribute("name", field) << "/>";
        out << "</FieldGroup>";
    }
    out << "</FieldGroups>";
}

void writeField(std::ostream& out, const Table& table, size_t index,
                const DataModelOptions& options) {
    const Column& column = table.columns()[index];
    out << "<Field" << attribute("name", column.name)
        << attribute("storage", storageText(column.storage))
        << attribute("measure", measureText(column.measure));
    if (auto role = options.roles.find(column.name); role != options.roles.end())
        out << attribute("role", role->second);
    if (column.storage == 3)
        out << attribute("maxStringLength", std::to_string(maxTextLength(table, index)));
    if (auto label = options.displayLabels.find(column.name); label != options.displayLabels.end())
        out << attribute("displayLabel", label->second);
    const bool listed = options.categories && column.measure >= 2 && column.measure <= 5;
    const auto categories = listed ? categoriesOf(table, index) : std::vector<const Cell*>();
    if (categories.empty()) {
        out << "/>";
        return;
    }
    out << ">";
    for (const Cell* cell : categories) out << "<Value" << attribute("value", cell->toString()) << "/>";
    out << "</Field>";
}

}  // namespace

const char* storageText(int storage) {
    return storage >= 1 && storage <= 6 ? kStorageTexts[storage] : "";
}

const char* measureText(int measure) {
    return measure >= 1 && measure <= 5 ? kMeasureTexts[measure] : "";
}

int storageCode(const std::string& text) {
    for (int code = 1; code <= 6; ++code)
        if (text == kStorageTexts[code]) return code;
    return 0;
}

int measureCode(const std::string& text) {
    for (int code = 1; code <= 5; ++code)
        if (text == kMeasureTexts[code]) return code;
    return 0;
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\t': out += "&#9;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            default:
                if (byte >= 0x20) out += c;
                break;
        }
    }
    return out;
}

std::string dataModelXml(const Table& table, const DataModelOptions& options) {
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DataModel version=\"1.0\">";
    if (options.fieldFormats) out << "<FieldFormats/>";
    writeGroups(out, options);
    if (options.recordCounts) out << "<RecordCounts total=\"" << table.rowCount() << "\"/>";
    out << "<Fields caseSensitive=\"true\" count=\"" << table.columnCount() << "\">";
    for (size_t i = 0; i < table.columnCount(); ++i) writeField(out, table, i, options);
    out << "</Fields></DataModel>\n";
    return out.str();
}

}  // namespace refhost

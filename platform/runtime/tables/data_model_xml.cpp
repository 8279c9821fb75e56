// The data model document that describes a table.
#include <algorithm>
#include <array>
#include <sstream>
#include <unordered_set>

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

// The values of a column with runs of one value (a split field of grouped
// records) looked up once per run: a value equal to the one before was
// seen then. Calls `add` with each row that starts a run of present values.
template <typename Value, typename Add>
void eachRunStart(const ColumnValues& values, const Value* data, const Add& add) {
    bool previousPresent = false;
    Value previous{};
    for (size_t row = 0; row < values.size(); ++row) {
        if (values.isMissing(row)) {
            previousPresent = false;
            continue;
        }
        if (previousPresent && data[row] == previous) continue;
        previousPresent = true;
        previous = data[row];
        add(row);
    }
}

// Distinct non-missing values of one column, in first-seen order.
std::vector<Cell> categoriesOf(const Table& table, size_t column) {
    const ColumnValues& values = table.values(column);
    std::vector<Cell> seen;
    switch (values.kind()) {
        case ColumnValues::Kind::Text: {
            std::vector<bool> listed(values.dictionary().size(), false);
            const uint32_t* codes = values.codes().data();
            eachRunStart(values, codes, [&](size_t row) {
                if (listed[codes[row]]) return;
                listed[codes[row]] = true;
                seen.push_back(Cell::text(std::string(values.dictionary().at(codes[row]))));
            });
            return seen;
        }
        case ColumnValues::Kind::Integer: {
            std::unordered_set<int64_t> known;
            const int64_t* integers = values.integers().data();
            eachRunStart(values, integers, [&](size_t row) {
                if (known.insert(integers[row]).second) seen.push_back(Cell::integer(integers[row]));
            });
            return seen;
        }
        case ColumnValues::Kind::Real: {
            // 0 and -0 are one key of the set, and equal: one run. A NaN
            // equals nothing, so each is looked up, as the set alone would.
            std::unordered_set<double> known;
            const double* reals = values.reals().data();
            eachRunStart(values, reals, [&](size_t row) {
                if (known.insert(reals[row]).second) seen.push_back(Cell::real(reals[row]));
            });
            return seen;
        }
        case ColumnValues::Kind::Cells:
            for (const Cell& cell : values.cells()) {
                if (cell.isMissing()) continue;
                if (std::find(seen.begin(), seen.end(), cell) == seen.end()) seen.push_back(cell);
            }
            return seen;
    }
    return seen;
}

size_t maxTextLength(const Table& table, size_t column) {
    const ColumnValues& values = table.values(column);
    if (values.kind() == ColumnValues::Kind::Text) return values.dictionary().longest();
    size_t longest = 0;
    for (const Cell& cell : values.cells())
        if (cell.isText()) longest = std::max(longest, cell.asText().size());
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
        // Storage codes without a name (7 and above) are written as numbers.
        << attribute("storage", column.storage > 6 ? std::to_string(column.storage)
                                                   : std::string(storageText(column.storage)))
        << attribute("measure", measureText(column.measure));
    const auto role = options.roles.find(column.name);
    const bool split = role != options.roles.end() && role->second == "split";
    if (role != options.roles.end()) out << attribute("role", role->second);
    if (column.storage == 3)
        out << attribute("maxStringLength", std::to_string(maxTextLength(table, index)));
    if (auto label = options.displayLabels.find(column.name); label != options.displayLabels.end())
        out << attribute("displayLabel", label->second);
    const bool listed = options.categories && column.measure >= 2 && column.measure <= 5;
    auto categories = listed ? categoriesOf(table, index) : std::vector<Cell>();
    if (split && categories.size() > options.maxSplitCategories) categories.clear();
    if (categories.empty()) {
        out << "/>";
        return;
    }
    out << ">";
    for (const Cell& cell : categories) out << "<Value" << attribute("value", cell.toString()) << "/>";
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
    // A storage without a name is written as its code (7 and above).
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() < 10)
        return std::stoi(text);
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

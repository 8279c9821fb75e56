#include "csv_table.h"

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include <splitmodels/data.h>

#include "column_profile.h"
#include "csv_reader.h"
#include "errors.h"
#include "value_parsing.h"

namespace splitrun {

namespace {

struct RawData {
    std::vector<std::string> header;
    std::vector<CsvRecord> records;
};

RawData readRaw(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw InputError("--data " + path + ": cannot open the file; check the path and that "
                         "the file is readable");
    CsvReader reader(in, path);
    RawData raw;
    raw.header = reader.header();
    CsvRecord record;
    while (reader.next(record)) raw.records.push_back(std::move(record));
    if (in.bad()) throw InputError("--data " + path + ": reading the file failed");
    return raw;
}

// The cell for a present text of a column of the given storage, or nothing
// when it does not read as that storage.
std::optional<refhost::Cell> toCell(const CsvField& field, Storage storage)
{
    if (field.isMissing()) return refhost::Cell::missing();
    switch (storage) {
    case Storage::String: return refhost::Cell::text(field.value);
    case Storage::Integer:
        if (auto v = parseInteger(field.value)) return refhost::Cell::integer(*v);
        return std::nullopt;
    case Storage::Real:
        if (auto v = parseReal(field.value)) return refhost::Cell::real(*v);
        return std::nullopt;
    default:
        if (auto v = parseNumber(storage, field.value)) return refhost::Cell::real(*v);
        return std::nullopt;
    }
}

const char* storageExample(Storage storage)
{
    switch (storage) {
    case Storage::Integer: return "a whole number such as 42";
    case Storage::Real: return "a number such as 3.25";
    case Storage::Date: return "a date written YYYY-MM-DD";
    case Storage::Time: return "a time written HH:MM:SS";
    case Storage::Timestamp: return "a timestamp written YYYY-MM-DD HH:MM:SS";
    default: return "text";
    }
}

// Fills the table from the raw records; column i of the table reads CSV
// column source[i].
void fillTable(CsvTable& result, const RawData& raw, const std::vector<std::size_t>& source,
               bool fromDataModel)
{
    const auto& columns = result.table.columns();
    for (const CsvRecord& record : raw.records) {
        std::vector<refhost::Cell> row;
        row.reserve(columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const CsvField& field = record.fields[source[i]];
            const auto storage = static_cast<Storage>(columns[i].storage);
            auto cell = toCell(field, storage);
            if (!cell)
                throw InputError(
                    result.source + ":" + std::to_string(record.line) + ":" +
                    std::to_string(source[i] + 1) + " (field '" + columns[i].name + "'): the value '" +
                    field.value + "' is not " + storageExample(storage) + " as the field's storage " +
                    storageName(storage) + " requires; " +
                    (fromDataModel ? "correct the value or the field's storage in --data-model"
                                   : "correct the value"));
            if (cell->isMissing()) ++result.fields[i].missing;
            row.push_back(std::move(*cell));
        }
        result.table.addRow(std::move(row));
        result.lines.push_back(record.line);
    }
}

void inferColumns(CsvTable& result, const RawData& raw, std::vector<std::size_t>& source)
{
    std::vector<ColumnProfile> profiles(raw.header.size());
    for (const CsvRecord& record : raw.records)
        for (std::size_t i = 0; i < profiles.size(); ++i) profiles[i].observe(record.fields[i]);
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        const int storage = static_cast<int>(profiles[i].storage());
        const int measure = static_cast<int>(profiles[i].measure());
        result.table.addColumn({raw.header[i], storage, measure});
        result.fields.push_back({raw.header[i], storage, measure, profiles[i].categoryCount(), 0});
        source.push_back(i);
    }
}

void columnsFromDataModel(CsvTable& result, const RawData& raw, const std::string& path,
                          std::vector<std::size_t>& source)
{
    result.dataModelText = readInputFile(path, "--data-model");
    std::vector<splitmodels::FieldDef> defs;
    try {
        defs = splitmodels::parseDataModelFields(result.dataModelText);
    } catch (const std::exception& e) {
        throw InputError("--data-model " + path + ": " + e.what() +
                         "; give a DataModel document with a Fields element of Field elements");
    }
    std::map<std::string, std::size_t> csvColumn;
    for (std::size_t i = 0; i < raw.header.size(); ++i) csvColumn[raw.header[i]] = i;
    std::set<std::string> described;
    for (const splitmodels::FieldDef& def : defs) {
        const auto found = csvColumn.find(def.name);
        if (found == csvColumn.end())
            throw InputError("--data-model " + path + ": the field '" + def.name +
                             "' is not a column of " + result.source +
                             "; the data model must describe exactly the CSV header's fields");
        if (!described.insert(def.name).second)
            throw InputError("--data-model " + path + ": the field '" + def.name +
                             "' is described twice; describe each field once");
        if (def.storage < 1 || def.storage > 6)
            throw InputError("--data-model " + path + ": the field '" + def.name +
                             "' has no usable storage; use integer, real, string, date, time "
                             "or timestamp");
        result.table.addColumn({def.name, def.storage, def.measure});
        result.fields.push_back({def.name, def.storage, def.measure, 0, 0});
        source.push_back(found->second);
    }
    for (const std::string& name : raw.header)
        if (!described.count(name))
            throw InputError("--data-model " + path + ": the CSV column '" + name +
                             "' is not described; add a Field for it to the data model");
}

void countCategories(CsvTable& result)
{
    for (std::size_t c = 0; c < result.table.columnCount(); ++c) {
        if (result.fields[c].categories != 0) continue;
        std::set<std::string> seen;
        for (const auto& row : result.table.rows())
            if (!row[c].isMissing()) seen.insert(row[c].toString());
        result.fields[c].categories = seen.size();
    }
}

}  // namespace

std::string readInputFile(const std::string& path, const std::string& option)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw InputError(option + " " + path +
                         ": cannot open the file; check the path and that the file is readable");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw InputError(option + " " + path + ": reading the file failed");
    return text.str();
}

CsvTable readCsvTable(const std::string& csvPath, const std::string& dataModelPath)
{
    CsvTable result;
    result.source = csvPath;
    const RawData raw = readRaw(csvPath);
    std::vector<std::size_t> source;
    if (dataModelPath.empty())
        inferColumns(result, raw, source);
    else
        columnsFromDataModel(result, raw, dataModelPath, source);
    fillTable(result, raw, source, !dataModelPath.empty());
    countCategories(result);
    return result;
}

}  // namespace splitrun

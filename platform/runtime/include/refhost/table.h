// An in-memory typed table (the host's data sets) and the data model document
// that describes one.
#ifndef REFHOST_TABLE_H
#define REFHOST_TABLE_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cf_records.h"

namespace refhost {

// One value: missing, a 64-bit integer, a double, or string bytes (which may
// contain zero bytes).
class Cell {
public:
    Cell() = default;  // missing
    static Cell missing() { return Cell(); }
    static Cell integer(int64_t v) { Cell c; c.v_ = v; return c; }
    static Cell real(double v) { Cell c; c.v_ = v; return c; }
    static Cell text(std::string v) { Cell c; c.v_ = std::move(v); return c; }

    bool isMissing() const { return std::holds_alternative<std::monostate>(v_); }
    bool isInteger() const { return std::holds_alternative<int64_t>(v_); }
    bool isReal() const { return std::holds_alternative<double>(v_); }
    bool isText() const { return std::holds_alternative<std::string>(v_); }
    int64_t asInteger() const { return std::get<int64_t>(v_); }
    double asReal() const { return std::get<double>(v_); }
    const std::string& asText() const { return std::get<std::string>(v_); }

    // The value's bytes as a host iterator hands them out: 8 bytes for
    // numbers, the string's bytes for text; null for a missing value. Text of
    // length 0 still yields a non-null pointer.
    const void* bytes() const;
    size_t length() const;

    // Readable rendering (integers in decimal, reals shortest round-trip,
    // text as is, missing as the empty text).
    std::string toString() const;

    bool operator==(const Cell& other) const = default;

private:
    std::variant<std::monostate, int64_t, double, std::string> v_;
};

// A column: its name, storage code (1 integer, 2 real, 3 string, 4 date,
// 5 time, 6 timestamp) and measure code (1 continuous, 2 flag, 3 nominal,
// 4 ordinal, 5 categorical, 0 none).
struct Column {
    std::string name;
    int storage = 3;
    int measure = 3;
    bool operator==(const Column&) const = default;
};

class Table {
public:
    Table() = default;
    explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}

    size_t addColumn(Column column);  // only while the table has no rows
    const std::vector<Column>& columns() const { return columns_; }
    size_t columnCount() const { return columns_.size(); }
    std::optional<size_t> columnIndex(const std::string& name) const;

    // Adds a row of exactly columnCount() cells. Cells are stored in their
    // column's storage: an integer in a column of storage 2, 4, 5 or 6
    // becomes a real. A real in an integer column, text in a numeric column
    // or a number in a string column throws std::invalid_argument.
    void addRow(std::vector<Cell> row);
    // Adds a row of exactly columnCount() cells as they are, without the
    // storage checks (for values read back from a module, which may not fit).
    void addRawRow(std::vector<Cell> row);
    size_t rowCount() const { return rows_.size(); }
    const std::vector<Cell>& row(size_t index) const { return rows_.at(index); }
    const std::vector<std::vector<Cell>>& rows() const { return rows_; }
    const Cell& at(size_t row, size_t column) const { return rows_.at(row).at(column); }

    bool operator==(const Table&) const = default;

private:
    std::vector<Column> columns_;
    std::vector<std::vector<Cell>> rows_;
};

// Reads every record an iterator yields from its current position on (it
// calls nextRecord first) into a table with the given columns, turning each
// value's bytes back into a cell by the column's storage. A failing
// operation ends the reading; its status is stored in *status (0 when all
// went well) and the rows read so far are returned.
Table readTable(CFIterator* iterator, const std::vector<Column>& columns, cf_status* status);

// Options of the data model document built from a table.
struct DataModelOptions {
    // Value children (categories) for fields whose measure is not
    // continuous (measure 2 to 5): their distinct non-missing values in
    // first-seen order.
    bool categories = true;
    // Role of a field by name ("input", "target", "split", "none"); fields
    // not named get no role attribute.
    std::map<std::string, std::string> roles;
    // Display labels by field name; fields not named get none.
    std::map<std::string, std::string> displayLabels;
    // A <RecordCounts total="N"/> element with the table's row count.
    bool recordCounts = false;
    // An empty <FieldFormats/> element.
    bool fieldFormats = false;
    // Field groups: (group type, group name, member field names).
    struct Group {
        std::string type;
        std::string name;
        std::vector<std::string> fields;
    };
    std::vector<Group> groups;
};

// The data model document of a table: root <DataModel version="1.0">, then
// optional FieldFormats, FieldGroups (count attribute), RecordCounts, and
// <Fields caseSensitive="true" count="N"> with one Field per column in
// column order (name, storage, measure, role, maxStringLength for string
// fields, displayLabel) and its categories as <Value value=".."/> children.
std::string dataModelXml(const Table& table, const DataModelOptions& options = {});

// Storage and measure texts of the data model document, and back (unknown
// texts give 0).
const char* storageText(int storage);
const char* measureText(int measure);
int storageCode(const std::string& text);
int measureCode(const std::string& text);

// XML-escapes text for use in an attribute value. Characters that XML 1.0
// cannot carry (control characters other than tab, line feed and carriage
// return) are dropped.
std::string xmlEscape(const std::string& text);

}  // namespace refhost

#endif

// An in-memory typed table (the host's data sets) and the data model document
// that describes one.
#ifndef REFHOST_TABLE_H
#define REFHOST_TABLE_H

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "cf_records.h"
#include "refhost/cell.h"
#include "refhost/column_values.h"

namespace refhost {

// A column: its name, storage code (1 integer, 2 real, 3 string, 4 date,
// 5 time, 6 timestamp) and measure code (1 continuous, 2 flag, 3 nominal,
// 4 ordinal, 5 categorical, 0 none).
struct Column {
    std::string name;
    int storage = 3;
    int measure = 3;
    bool operator==(const Column&) const = default;
};

// Rows are stored column by column (see ColumnValues); a table handed to
// iterators is not changed any more, so value bytes stay where they are.
class Table {
public:
    Table() = default;
    explicit Table(std::vector<Column> columns);
    // A table over columns filled by a loader: one ColumnValues per column,
    // all of one size, each of the kind its column's storage keeps (or
    // cells). Throws std::invalid_argument otherwise.
    Table(std::vector<Column> columns, std::vector<ColumnValues> values);

    size_t addColumn(Column column);  // only while the table has no rows
    const std::vector<Column>& columns() const { return columns_; }
    size_t columnCount() const { return columns_.size(); }
    // The first column of that name. Constant time on a wide table, which
    // keeps an index by name; a narrow one is scanned.
    std::optional<size_t> columnIndex(const std::string& name) const;
    // Changes a column's measure (the values stay as they are).
    void setMeasure(size_t column, int measure) { columns_.at(column).measure = measure; }

    // Adds a row of exactly columnCount() cells. Cells are stored in their
    // column's storage: an integer in a column of storage 2, 4, 5 or 6
    // becomes a real. A real in an integer column, text in a numeric column
    // or a number in a string column throws std::invalid_argument.
    void addRow(const std::vector<Cell>& row);
    // Adds a row of exactly columnCount() cells as they are, without the
    // storage checks (for values read back from a module, which may not fit).
    void addRawRow(const std::vector<Cell>& row);
    // Adds row `row` of `other`, whose columns have the same storages.
    void addRowFrom(const Table& other, size_t row);
    size_t rowCount() const { return rows_; }
    // Rows and cells are assembled from the columns on each call; loops over
    // large tables read the columns instead.
    std::vector<Cell> row(size_t index) const;
    std::vector<std::vector<Cell>> rows() const;
    Cell at(size_t row, size_t column) const;
    bool isMissing(size_t row, size_t column) const { return values_[column].isMissing(row); }
    const ColumnValues& values(size_t column) const { return values_.at(column); }
    // The bytes an iterator hands out for a value (null when missing).
    const void* valueBytes(size_t row, size_t column, size_t* length) const {
        return values_[column].bytes(row, length);
    }
    // Whether two rows hold the same value in a column (missing equals
    // missing).
    bool sameValue(size_t a, size_t b, size_t column) const;
    // Reorders the rows: row i becomes the old row order[i]. One column is
    // copied at a time, its rows split among `threads` threads; the columns
    // of one kind share a spare, given back before the next kind's, so that
    // under a ColumnBlockReuse the integers take the reals' spare.
    void permuteRows(std::span<const uint32_t> order, unsigned threads = 1);

    bool operator==(const Table& other) const;

private:
    void checkWidth(size_t cells) const;
    void indexNames();

    std::vector<Column> columns_;
    // Position of each name's first column; filled only on a wide table.
    std::unordered_map<std::string, size_t> byName_;
    std::vector<ColumnValues> values_;
    size_t rows_ = 0;
};

// Appends a value given as an iterator hands it out (null: missing) to a
// column of the given storage: 8 bytes as an integer or real, text as
// text; a value that fits neither is kept as its bytes.
void appendValueBytes(ColumnValues& column, const void* value, size_t length, int storage);

// The most categories a split field lists in a data model document.
inline constexpr size_t kMaxSplitCategories = 64;

// Options of the data model document built from a table.
struct DataModelOptions {
    // Value children (categories) for fields whose measure is not
    // continuous (measure 2 to 5): their distinct non-missing values in
    // first-seen order.
    bool categories = true;
    // Role of a field by name ("input", "target", "split", "none"); fields
    // not named get no role attribute.
    std::map<std::string, std::string> roles;
    // A field with role "split" lists its categories only when it has at
    // most this many. The collect component copies each split field's
    // definition into every group's StatXML, so a split field with one
    // category per group would make each group's document as long as the
    // number of groups. Fields of other roles always list them all.
    size_t maxSplitCategories = kMaxSplitCategories;
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

// A group's records as a worker reads them: rows of a table, either a table
// of their own or a range of rows of a table they share, and the reading of
// an iterator's records into them.
// One column's values over rows first .. first+count-1, read as a column of
// `count` values: row 0 is the range's first. The read side of
// ColumnValues; valid while the column is.
class ColumnSlice {
public:
    using Kind = ColumnValues::Kind;

    ColumnSlice(const ColumnValues& values, size_t first, size_t count)
        : values_(&values), first_(first), count_(count) {}

    Kind kind() const { return values_->kind(); }
    size_t size() const { return count_; }
    bool isMissing(size_t row) const { return values_->isMissing(first_ + row); }
    // Whether a value of the range (not of the whole column) is missing.
    bool hasMissing() const { return values_->hasMissing(first_, count_); }
    Cell cell(size_t row) const { return values_->cell(first_ + row); }
    const void* bytes(size_t row, size_t* length) const { return values_->bytes(first_ + row, length); }

    // Typed access, as ColumnValues gives it: empty for another kind.
    std::span<const int64_t> integers() const { return part(values_->integers(), Kind::Integer); }
    std::span<const double> reals() const { return part(values_->reals(), Kind::Real); }
    std::span<const uint32_t> codes() const { return part(values_->codes(), Kind::Text); }
    std::span<const Cell> cells() const { return part(values_->cells(), Kind::Cells); }
    // The codes are the whole column's: its dictionary may hold texts no
    // row of the range has.
    const TextDictionary& dictionary() const { return values_->dictionary(); }

private:
    template <class Values>
    std::span<const typename Values::value_type> part(const Values& all, Kind kind) const {
        if (values_->kind() != kind) return {};
        return std::span<const typename Values::value_type>(all.data() + first_, count_);
    }

    const ColumnValues* values_;
    size_t first_;
    size_t count_;
};

// Rows of a table, read column by column through ColumnSlice. Either a table
// of their own, or a view of consecutive rows of a table the view shares
// (and so keeps alive: the rows cannot outlive it). A view's rows are the
// values a copy would hold; only a text column's codes differ, since they
// stay the codes of the whole table's dictionary. Copies share the table.
class TableRows {
public:
    // No columns and no rows.
    TableRows();
    // The rows of `table`, held by these rows alone.
    TableRows(Table table);  // implicit: a table is rows of its own
    // Rows first .. first+count-1 of `table`, which must hold them.
    TableRows(std::shared_ptr<const Table> table, size_t first, size_t count);

    const std::vector<Column>& columns() const { return table_->columns(); }
    size_t columnCount() const { return table_->columnCount(); }
    std::optional<size_t> columnIndex(const std::string& name) const { return table_->columnIndex(name); }
    size_t rowCount() const { return count_; }
    ColumnSlice values(size_t column) const { return ColumnSlice(table_->values(column), first_, count_); }
    // Cells and rows assembled on each call, as Table's; out of range throws
    // std::out_of_range.
    Cell at(size_t row, size_t column) const;
    std::vector<Cell> row(size_t index) const;
    std::vector<std::vector<Cell>> rows() const;

    // Whether the rows are a range of a shared table rather than their own.
    bool isView() const { return view_; }
    // The table the rows are in, and where in it they start.
    const Table& table() const { return *table_; }
    size_t firstRow() const { return first_; }
    // The rows as a table of their own: each column of its storage's kind,
    // texts coded in the order the rows first hold them.
    Table copy() const;

private:
    std::shared_ptr<const Table> table_;
    size_t first_ = 0;
    size_t count_ = 0;
    bool view_ = false;
};

// Reads every record an iterator yields from its current position on (it
// calls nextRecord first, once per record, and stops at the first failing
// call). Records of this host's own record sets are taken from where the
// set keeps them instead of through getRecordValue (and, when the host
// counts no calls, a run of rows at a time, without a nextRecord call per
// record: the iterator is left where those calls would leave it); when they are all
// consecutive rows of one table whose columns are `columns`, each kept in
// its storage's kind, the result is a view of those rows and no value is
// copied. Otherwise the records are copied into a table with the given
// columns, each value's bytes turned back into a cell by the column's
// storage. *status is the failing call's status (0 when all went well);
// after a failure the rows read so far are returned, as a copy.
TableRows readTable(CFIterator* iterator, const std::vector<Column>& columns, cf_status* status);

}  // namespace refhost

#endif

// A group's records as a worker reads them: rows of a table, either a table
// of their own or a range of rows of a table they share, and the reading of
// an iterator's records into them.
#ifndef REFHOST_TABLE_ROWS_H
#define REFHOST_TABLE_ROWS_H

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cf_records.h"
#include "refhost/table.h"

namespace refhost {

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
// set keeps them instead of through getRecordValue; when they are all
// consecutive rows of one table whose columns are `columns`, each kept in
// its storage's kind, the result is a view of those rows and no value is
// copied. Otherwise the records are copied into a table with the given
// columns, each value's bytes turned back into a cell by the column's
// storage. *status is the failing call's status (0 when all went well);
// after a failure the rows read so far are returned, as a copy.
TableRows readTable(CFIterator* iterator, const std::vector<Column>& columns, cf_status* status);

}  // namespace refhost

#endif

// Typed in-memory tables: cells and rows, and values as an iterator hands
// them out appended to a column.
#include "refhost/table.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace refhost {

namespace {

// Tables this wide keep an index of their column names: a scan of a few
// names is as quick, and a group's table of a narrow file is built without one.
constexpr size_t kIndexedWidth = 16;

bool isRealStorage(int storage) {
    return storage == 2 || storage == 4 || storage == 5 || storage == 6;
}

}  // namespace

const void* Cell::bytes() const {
    if (auto* i = std::get_if<int64_t>(&v_)) return i;
    if (auto* d = std::get_if<double>(&v_)) return d;
    if (auto* s = std::get_if<std::string>(&v_)) return s->data();
    return nullptr;
}

size_t Cell::length() const {
    if (isInteger() || isReal()) return 8;
    if (auto* s = std::get_if<std::string>(&v_)) return s->size();
    return 0;
}

std::string Cell::toString() const {
    if (isInteger()) return std::to_string(asInteger());
    if (isReal()) {
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, asReal());
        return std::string(buffer, result.ptr);
    }
    if (isText()) return asText();
    return std::string();
}

Table::Table(std::vector<Column> columns) : columns_(std::move(columns)) {
    for (const Column& column : columns_) values_.emplace_back(ColumnValues::kindFor(column.storage));
    indexNames();
}

Table::Table(std::vector<Column> columns, std::vector<ColumnValues> values)
    : columns_(std::move(columns)), values_(std::move(values)) {
    if (values_.size() != columns_.size())
        throw std::invalid_argument("values for " + std::to_string(values_.size()) + " of " +
                                    std::to_string(columns_.size()) + " columns");
    rows_ = values_.empty() ? 0 : values_.front().size();
    indexNames();
    for (size_t i = 0; i < values_.size(); ++i) {
        const auto kind = values_[i].kind();
        if (values_[i].size() != rows_ ||
            (kind != ColumnValues::Kind::Cells && kind != ColumnValues::kindFor(columns_[i].storage)))
            throw std::invalid_argument("values of column '" + columns_[i].name +
                                        "' do not fit the table");
    }
}

size_t Table::addColumn(Column column) {
    if (rows_ != 0) throw std::logic_error("columns cannot be added to a table with rows");
    values_.emplace_back(ColumnValues::kindFor(column.storage));
    columns_.push_back(std::move(column));
    if (!byName_.empty())
        byName_.emplace(columns_.back().name, columns_.size() - 1);
    else
        indexNames();
    return columns_.size() - 1;
}

void Table::indexNames() {
    if (columns_.size() <= kIndexedWidth) return;
    byName_.reserve(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) byName_.emplace(columns_[i].name, i);   // the first one stays
}

std::optional<size_t> Table::columnIndex(const std::string& name) const {
    if (!byName_.empty()) {
        const auto found = byName_.find(name);
        if (found == byName_.end()) return std::nullopt;
        return found->second;
    }
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i].name == name) return i;
    }
    return std::nullopt;
}

void Table::checkWidth(size_t cells) const {
    if (cells != columns_.size()) {
        throw std::invalid_argument("row of " + std::to_string(cells) + " cells for " +
                                    std::to_string(columns_.size()) + " columns");
    }
}

void Table::addRow(const std::vector<Cell>& row) {
    checkWidth(row.size());
    // Checked in full before anything is stored, so a refused row leaves the
    // table as it was.
    for (size_t i = 0; i < row.size(); ++i) {
        const Cell& cell = row[i];
        const Column& column = columns_[i];
        if (cell.isMissing()) continue;
        const int storage = column.storage;
        if (storage == 1) {
            if (!cell.isInteger())
                throw std::invalid_argument("column '" + column.name + "' holds integers");
        } else if (isRealStorage(storage)) {
            if (!cell.isInteger() && !cell.isReal())
                throw std::invalid_argument("column '" + column.name + "' holds numbers");
        } else if (storage == 3) {
            if (!cell.isText())
                throw std::invalid_argument("column '" + column.name + "' holds text");
        }
    }
    for (size_t i = 0; i < row.size(); ++i) {
        const Cell& cell = row[i];
        if (cell.isInteger() && isRealStorage(columns_[i].storage))
            values_[i].append(Cell::real(static_cast<double>(cell.asInteger())));
        else
            values_[i].append(cell);
    }
    ++rows_;
}

void Table::addRawRow(const std::vector<Cell>& row) {
    checkWidth(row.size());
    for (size_t i = 0; i < row.size(); ++i) values_[i].append(row[i]);
    ++rows_;
}

void Table::addRowFrom(const Table& other, size_t row) {
    checkWidth(other.columnCount());
    for (size_t i = 0; i < values_.size(); ++i) values_[i].appendFrom(other.values_[i], row);
    ++rows_;
}

std::vector<Cell> Table::row(size_t index) const {
    if (index >= rows_) throw std::out_of_range("row " + std::to_string(index));
    std::vector<Cell> cells;
    cells.reserve(values_.size());
    for (const ColumnValues& column : values_) cells.push_back(column.cell(index));
    return cells;
}

std::vector<std::vector<Cell>> Table::rows() const {
    std::vector<std::vector<Cell>> all;
    all.reserve(rows_);
    for (size_t i = 0; i < rows_; ++i) all.push_back(row(i));
    return all;
}

Cell Table::at(size_t row, size_t column) const {
    if (row >= rows_ || column >= values_.size())
        throw std::out_of_range("cell " + std::to_string(row) + "," + std::to_string(column));
    return values_[column].cell(row);
}

bool Table::sameValue(size_t a, size_t b, size_t column) const {
    const ColumnValues& values = values_[column];
    const bool missingA = values.isMissing(a);
    if (missingA || values.isMissing(b)) return missingA == values.isMissing(b);
    switch (values.kind()) {
        case ColumnValues::Kind::Integer: return values.integers()[a] == values.integers()[b];
        case ColumnValues::Kind::Real: return values.reals()[a] == values.reals()[b];
        case ColumnValues::Kind::Text: return values.codes()[a] == values.codes()[b];
        case ColumnValues::Kind::Cells: break;
    }
    return values.cells()[a] == values.cells()[b];
}

void Table::permuteRows(std::span<const uint32_t> order, unsigned threads) {
    if (order.size() != rows_) throw std::invalid_argument("row order of the wrong size");
    PermuteBuffers buffers;
    using Kind = ColumnValues::Kind;
    // The 8-byte kinds first: the text codes' spare, half their size, then
    // fits in the block the last of them gives back.
    for (const Kind kind : {Kind::Real, Kind::Integer, Kind::Text, Kind::Cells}) {
        for (ColumnValues& column : values_)
            if (column.kind() == kind) column.permute(order, buffers, threads);
        // The kind's spare is given back for the next kind to take.
        buffers = PermuteBuffers();
    }
}

bool Table::operator==(const Table& other) const {
    return columns_ == other.columns_ && rows_ == other.rows_ && values_ == other.values_;
}

void appendValueBytes(ColumnValues& column, const void* value, size_t length, int storage) {
    if (value == nullptr) return column.appendMissing();
    const auto kind = column.kind();
    if (storage == 1 && length == 8 && kind == ColumnValues::Kind::Integer) {
        int64_t v;
        std::memcpy(&v, value, 8);
        return column.appendInteger(v);
    }
    if (isRealStorage(storage) && length == 8 && kind == ColumnValues::Kind::Real) {
        double v;
        std::memcpy(&v, value, 8);
        return column.appendReal(v);
    }
    if (storage == 3 && kind == ColumnValues::Kind::Text)
        return column.appendText(std::string_view(static_cast<const char*>(value), length));
    // A value whose size does not fit its storage, or an unknown storage:
    // kept as it is, or as its bytes.
    Cell cell;
    if (storage == 1 && length == 8) {
        int64_t v;
        std::memcpy(&v, value, 8);
        cell = Cell::integer(v);
    } else if (isRealStorage(storage) && length == 8) {
        double v;
        std::memcpy(&v, value, 8);
        cell = Cell::real(v);
    } else {
        cell = Cell::text(std::string(static_cast<const char*>(value), length));
    }
    column.append(cell);
}

}  // namespace refhost

// Typed in-memory tables: cells, rows, and reading records back from an
// iterator.
#include "refhost/table.h"

#include <charconv>
#include <cstring>
#include <stdexcept>

namespace refhost {

namespace {

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

size_t Table::addColumn(Column column) {
    if (!rows_.empty()) throw std::logic_error("columns cannot be added to a table with rows");
    columns_.push_back(std::move(column));
    return columns_.size() - 1;
}

std::optional<size_t> Table::columnIndex(const std::string& name) const {
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i].name == name) return i;
    }
    return std::nullopt;
}

void Table::addRow(std::vector<Cell> row) {
    if (row.size() != columns_.size()) {
        throw std::invalid_argument("row of " + std::to_string(row.size()) + " cells for " +
                                    std::to_string(columns_.size()) + " columns");
    }
    for (size_t i = 0; i < row.size(); ++i) {
        Cell& cell = row[i];
        const Column& column = columns_[i];
        if (cell.isMissing()) continue;
        const int storage = column.storage;
        if (storage == 1) {
            if (!cell.isInteger())
                throw std::invalid_argument("column '" + column.name + "' holds integers");
        } else if (isRealStorage(storage)) {
            if (cell.isInteger()) cell = Cell::real(static_cast<double>(cell.asInteger()));
            if (!cell.isReal())
                throw std::invalid_argument("column '" + column.name + "' holds numbers");
        } else if (storage == 3) {
            if (!cell.isText())
                throw std::invalid_argument("column '" + column.name + "' holds text");
        }
    }
    rows_.push_back(std::move(row));
}

void Table::addRawRow(std::vector<Cell> row) {
    if (row.size() != columns_.size()) {
        throw std::invalid_argument("row of " + std::to_string(row.size()) + " cells for " +
                                    std::to_string(columns_.size()) + " columns");
    }
    rows_.push_back(std::move(row));
}

Table readTable(CFIterator* iterator, const std::vector<Column>& columns, cf_status* status) {
    Table table(columns);
    *status = 0;
    if (iterator == nullptr || iterator->nextRecord == nullptr ||
        iterator->getRecordValue == nullptr) {
        *status = CF_FAILED;
        return table;
    }
    for (;;) {
        int err = 0;
        int more = 0;
        cf_status s = iterator->nextRecord(iterator->handle, &more, &err);
        if (s != 0) {
            *status = s;
            return table;
        }
        if (more == 0) return table;
        std::vector<Cell> row;
        row.reserve(columns.size());
        for (size_t field = 0; field < columns.size(); ++field) {
            void* value = nullptr;
            size_t length = 0;
            s = iterator->getRecordValue(iterator->handle, field, &value, &length, &err);
            if (s != 0) {
                *status = s;
                return table;
            }
            const int storage = columns[field].storage;
            if (value == nullptr) {
                row.push_back(Cell::missing());
            } else if (storage == 1 && length == 8) {
                int64_t v;
                std::memcpy(&v, value, 8);
                row.push_back(Cell::integer(v));
            } else if (isRealStorage(storage) && length == 8) {
                double v;
                std::memcpy(&v, value, 8);
                row.push_back(Cell::real(v));
            } else if (storage == 3) {
                row.push_back(Cell::text(std::string(static_cast<const char*>(value), length)));
            } else {
                // A value whose size does not fit its storage, or an unknown
                // storage: kept as its bytes.
                row.push_back(Cell::text(std::string(static_cast<const char*>(value), length)));
            }
        }
        // Stored as they came: a value that does not fit its column stays
        // visible to the caller instead of being rejected.
        table.addRawRow(std::move(row));
    }
}

}  // namespace refhost

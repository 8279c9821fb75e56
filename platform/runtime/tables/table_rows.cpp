// A group's records: rows of their own or a view of a shared table's rows,
// and reading an iterator's records into them.
#include "refhost/table.h"

#include <algorithm>
#include <stdexcept>

#include "refhost/record_set.h"

namespace refhost {

namespace {

const std::shared_ptr<const Table>& noTable() {
    static const auto empty = std::make_shared<const Table>();
    return empty;
}

}  // namespace

TableRows::TableRows() : table_(noTable()) {}

TableRows::TableRows(Table table)
    : table_(std::make_shared<const Table>(std::move(table))), count_(table_->rowCount()) {}

TableRows::TableRows(std::shared_ptr<const Table> table, size_t first, size_t count)
    : table_(table ? std::move(table) : noTable()), first_(first), count_(count), view_(true) {
    if (first_ > table_->rowCount() || count_ > table_->rowCount() - first_)
        throw std::out_of_range("rows " + std::to_string(first_) + "+" + std::to_string(count_) +
                                " of a table of " + std::to_string(table_->rowCount()));
}

Cell TableRows::at(size_t row, size_t column) const {
    if (row >= count_) throw std::out_of_range("cell " + std::to_string(row) + "," + std::to_string(column));
    return table_->at(first_ + row, column);
}

std::vector<Cell> TableRows::row(size_t index) const {
    if (index >= count_) throw std::out_of_range("row " + std::to_string(index));
    return table_->row(first_ + index);
}

std::vector<std::vector<Cell>> TableRows::rows() const {
    std::vector<std::vector<Cell>> all;
    all.reserve(count_);
    for (size_t i = 0; i < count_; ++i) all.push_back(table_->row(first_ + i));
    return all;
}

Table TableRows::copy() const {
    if (!view_) return *table_;
    std::vector<ColumnValues> values;
    values.reserve(columnCount());
    for (size_t c = 0; c < columnCount(); ++c) {
        values.emplace_back(ColumnValues::kindFor(columns()[c].storage));
        values.back().appendRange(table_->values(c), first_, count_);
    }
    return Table(columns(), std::move(values));
}

namespace {

// Consecutive rows of one table met while reading a record set, appended
// together once the run ends (or, when they are all the records and the
// table's columns are the reader's, viewed where they are).
struct PendingRows {
    const Table* table = nullptr;
    size_t first = 0;
    size_t count = 0;

    void flush(const std::vector<Column>& columns, std::vector<ColumnValues>& values) {
        for (size_t field = 0; count != 0 && field < columns.size(); ++field) {
            const ColumnValues& source = table->values(field);
            if (source.kind() == values[field].kind()) {
                values[field].appendRange(source, first, count);
                continue;
            }
            for (size_t row = first; row < first + count; ++row) {
                size_t length = 0;
                const void* bytes = source.bytes(row, &length);
                appendValueBytes(values[field], bytes, length, columns[field].storage);
            }
        }
        count = 0;
    }
};

// Whether a table's rows read with `columns` are the rows a copy would
// hold: the same columns, each kept in its storage's kind (a copy would
// convert any other).
bool viewable(const Table& table, const std::vector<Column>& columns) {
    if (columns.empty() || table.columns() != columns) return false;
    for (size_t c = 0; c < columns.size(); ++c)
        if (table.values(c).kind() != ColumnValues::kindFor(columns[c].storage)) return false;
    return true;
}

}  // namespace

TableRows readTable(CFIterator* iterator, const std::vector<Column>& columns, cf_status* status) {
    *status = 0;
    std::vector<ColumnValues> values;
    for (const Column& column : columns) values.emplace_back(ColumnValues::kindFor(column.storage));
    PendingRows pending;
    // The table of the first run, while no record has been copied.
    std::shared_ptr<const Table> first;
    auto copied = [&] { return !values.empty() && values.front().size() != 0; };
    auto finish = [&](cf_status s) -> TableRows {
        *status = s;
        if (s == 0 && !copied() && pending.count != 0 && first.get() == pending.table &&
            viewable(*pending.table, columns))
            return TableRows(std::move(first), pending.first, pending.count);
        pending.flush(columns, values);
        // A record cut short by a failing read is dropped.
        size_t rows = values.empty() ? 0 : values.front().size();
        for (const ColumnValues& column : values) rows = std::min(rows, column.size());
        if (s != 0 && !values.empty() && values.back().size() != values.front().size()) {
            std::vector<ColumnValues> whole;
            for (size_t c = 0; c < values.size(); ++c) {
                whole.emplace_back(values[c].kind());
                for (size_t r = 0; r < rows; ++r) whole.back().appendFrom(values[c], r);
            }
            values = std::move(whole);
        }
        return Table(columns, std::move(values));
    };
    if (iterator == nullptr || iterator->nextRecord == nullptr ||
        iterator->getRecordValue == nullptr)
        return finish(CF_FAILED);
    // Records of this host's own record sets are taken straight from where
    // the set keeps them; any other iterator is read value by value.
    RecordSetIterator* own = RecordSetIterator::fromRecord(iterator);
    // A host that counts no calls takes its own set's rows a run at a time,
    // then goes on from the last record as below (which finds no more).
    std::vector<RecordSet::TableRun> runs;
    if (own != nullptr && own->takeTableRuns(columns.size(), &runs)) {
        for (const RecordSet::TableRun& run : runs) {
            const Table* table = run.table.get();
            if (pending.count != 0 && pending.table == table && pending.first + pending.count == run.first) {
                pending.count += run.count;
                continue;
            }
            pending.flush(columns, values);
            if (!copied()) first = run.table;
            pending = PendingRows{table, run.first, run.count};
        }
    }
    for (;;) {
        int err = 0;
        int more = 0;
        cf_status s = iterator->nextRecord(iterator->handle, &more, &err);
        if (s != 0) return finish(s);
        if (more == 0) return finish(0);
        if (own != nullptr) {
            const Table* table = nullptr;
            size_t row = 0;
            if (own->currentTableRow(&table, &row) && table->columnCount() >= columns.size()) {
                if (pending.count != 0 && pending.table == table && pending.first + pending.count == row) {
                    ++pending.count;
                } else {
                    pending.flush(columns, values);
                    if (!copied()) first = own->currentTable();
                    pending = PendingRows{table, row, 1};
                }
                continue;
            }
            pending.flush(columns, values);
            s = own->appendCurrent(columns, values);
            if (s != 0) return finish(s);
            continue;
        }
        for (size_t field = 0; field < columns.size(); ++field) {
            void* value = nullptr;
            size_t length = 0;
            s = iterator->getRecordValue(iterator->handle, field, &value, &length, &err);
            if (s != 0) return finish(s);
            // Stored as they came: a value that does not fit its column
            // stays visible to the caller instead of being rejected.
            appendValueBytes(values[field], value, length, columns[field].storage);
        }
    }
}

}  // namespace refhost

// Reading a record set back: one run of one table's rows, read with the
// table's own columns, comes back as a view of those rows; anything else
// (rows that skip, a second table, a copied record, other columns, a read
// that fails) as a copy. Either way the rows, their missing flags and the
// host calls made are those of a copy; a host that counts no calls (its
// Faults off) reads the same rows, a run at a time, and leaves the iterator
// past the end as the calls would.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "refhost/iterator.h"
#include "refhost/record_set.h"
#include "refhost/table.h"

namespace refhost {
namespace {

// 130 rows; x is missing in rows 63 and 64, on both sides of a bitmap word's end.
std::shared_ptr<const Table> inputTable(const std::string& prefix) {
    auto table = std::make_shared<Table>(std::vector<Column>{{"k", 3, 3}, {"x", 2, 1}, {"n", 1, 1}});
    for (int r = 0; r < 130; ++r)
        table->addRow({Cell::text(prefix + std::to_string(r % 3)),
                       r == 63 || r == 64 ? Cell::missing() : Cell::real(r / 4.0), Cell::integer(r)});
    return table;
}

// Adds rows of `table` to `set` as the distribute component does: from an
// iterator standing on the row.
void addRows(RecordSet& set, const std::shared_ptr<const Table>& table, int first, int count) {
    for (int row = first; row < first + count; ++row) {
        TableIterator rows(table);
        int more = 0, err = 0;
        for (int i = 0; i <= row; ++i) rows.nextRecord(&more, &err);
        ASSERT_EQ(set.addRecord(rows.record(), &err), 0u);
    }
}

TEST(TableRows, OneRunOfTheTablesRowsIsViewedAndAnythingElseCopied) {
    const auto table = inputTable("a"), other = inputTable("b");
    // other: the rows come from the second table
    struct Piece { bool other; int first, count; };
    // copiedRecord: the last record copied value by value; refuseNext: the nth nextRecord fails (0: none);
    // otherMeasure: read with a measure the table's columns do not have
    struct Case { const char* name; std::vector<Piece> pieces; bool copiedRecord; int refuseNext; bool otherMeasure, view; }
        cases[] = {
        {"one run", {{false, 60, 10}}, false, 0, false, true},
        {"run before the missing values", {{false, 0, 63}}, false, 0, false, true},
        {"run after them", {{false, 65, 65}}, false, 0, false, true},
        {"rows that skip one", {{false, 60, 3}, {false, 64, 4}}, false, 0, false, false},
        {"a second table", {{false, 60, 5}, {true, 65, 5}}, false, 0, false, false},
        {"a copied record after", {{false, 60, 5}}, true, 0, false, false},
        {"a read failing part way", {{false, 60, 10}}, false, 6, false, false},
        {"other columns", {{false, 60, 10}}, false, 0, true, false},
    };
    for (const Case& c : cases)
        for (const Faults::Mode mode : {Faults::Mode::On, Faults::Mode::Off}) {
            if (mode == Faults::Mode::Off && c.refuseNext != 0) continue;
            SCOPED_TRACE(std::string(c.name) + (mode == Faults::Mode::On ? "" : ", faults off"));
            auto faults = std::make_shared<Faults>(mode);
            RecordSet set(0, "group", faults);
            std::vector<Column> columns = table->columns();
            if (c.otherMeasure) columns[0].measure = 2;
            Table expected(columns);
            for (const Piece& piece : c.pieces) {
                const auto& from = piece.other ? other : table;
                addRows(set, from, piece.first, piece.count);
                for (int r = piece.first; r < piece.first + piece.count; ++r) expected.addRow(from->row(r));
            }
            if (c.copiedRecord) {
                // A record whose source is another set's iterator is copied.
                RecordSet source(1, "source");
                addRows(source, table, 5, 1);
                CFIterator* it = nullptr;
                int more = 0, err = 0;
                ASSERT_EQ(source.getIterator(&it, &err), 0u);
                it->nextRecord(it->handle, &more, &err);
                ASSERT_EQ(set.addRecord(it, &err), 0u);
                expected.addRow(table->row(5));
            }
            const size_t records = set.size();
            if (c.refuseNext != 0) faults->refuse("nextRecord", c.refuseNext, 7);
            CFIterator* iterator = nullptr;
            int err = 0;
            ASSERT_EQ(set.getIterator(&iterator, &err), 0u);
            cf_status status = 0;
            const TableRows rows = readTable(iterator, columns, &status);

            EXPECT_EQ(rows.isView(), c.view);
            const size_t read = c.refuseNext != 0 ? static_cast<size_t>(c.refuseNext - 1) : records;
            EXPECT_EQ(status, c.refuseNext != 0 ? 7u : 0u);
            if (mode == Faults::Mode::On) {
                // One nextRecord per record and one for the end, or up to the failing one.
                EXPECT_EQ(faults->calls("nextRecord"), c.refuseNext != 0 ? read + 1 : records + 1);
                EXPECT_EQ(faults->calls("getRecordValue"), 0u);
            } else {
                int more = 1;
                EXPECT_EQ(iterator->nextRecord(iterator->handle, &more, &err), 0u);
                EXPECT_EQ(more, 0);
            }
            EXPECT_EQ(rows.columns(), columns);
            ASSERT_EQ(rows.rowCount(), read);
            for (size_t col = 0; col < columns.size(); ++col) {
                const ColumnSlice values = rows.values(col);
                EXPECT_EQ(values.kind(), ColumnValues::kindFor(columns[col].storage));
                EXPECT_EQ(values.hasMissing(), expected.values(col).hasMissing(0, read)) << col;
                for (size_t r = 0; r < read; ++r) ASSERT_EQ(rows.at(r, col), expected.at(r, col)) << r << "," << col;
            }
            // A view's copy is the copy the reader would have made.
            if (read == expected.rowCount()) { EXPECT_TRUE(rows.copy() == expected); }
        }
}

}  // namespace
}  // namespace refhost

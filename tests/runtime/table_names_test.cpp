// Finding a column by name: a narrow table scans its names, a wide one keeps
// an index; both give a repeated name's first column, and a column added to
// either is found at once.
#include <gtest/gtest.h>

#include <string>

#include "refhost/table.h"

namespace refhost {
namespace {

TEST(TableNames, NarrowAndWideTablesFindTheFirstColumnOfAName) {
    for (size_t width : {3, 16, 17, 40}) {
        SCOPED_TRACE(width);
        std::vector<Column> columns;
        for (size_t i = 0; i < width; ++i) columns.push_back({"c" + std::to_string(i), 2, 1});
        columns.push_back({"c1", 2, 1});   // a repeated name
        Table built(columns);
        Table added;
        for (const Column& column : columns) added.addColumn(column);   // crosses into an index on the way
        for (const Table* table : {&built, &added}) {
            EXPECT_EQ(table->columnIndex("c0"), 0u);
            EXPECT_EQ(table->columnIndex("c1"), 1u);
            EXPECT_EQ(table->columnIndex("c" + std::to_string(width - 1)), width - 1);
            EXPECT_EQ(table->columnIndex("c" + std::to_string(width)), std::nullopt);
            EXPECT_EQ(table->columnIndex(""), std::nullopt);
        }
        Table copy = added;
        copy.addColumn({"late", 3, 3});
        EXPECT_EQ(copy.columnIndex("late"), width + 1);
        EXPECT_EQ(added.columnIndex("late"), std::nullopt);
    }
}

}  // namespace
}  // namespace refhost

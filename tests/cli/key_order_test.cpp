// Grouping by counting over key codes gives exactly the stable comparison
// sort's order, and falls back where codes cannot be exact; reordering a
// table's columns through reused buffers moves every value with its row.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "group_keys.h"
#include "group_order.h"
#include "key_codes.h"

using namespace splitrun;
using refhost::Cell;

namespace {

struct OrderCase {
    const char* name;
    std::vector<refhost::Column> columns;
    std::vector<std::vector<Cell>> rows;
};

refhost::Table tableOf(const OrderCase& c)
{
    refhost::Table table(c.columns);
    for (const auto& row : c.rows) table.addRow(row);
    return table;
}

std::vector<std::size_t> allColumns(const refhost::Table& table)
{
    std::vector<std::size_t> columns(table.columnCount());
    for (std::size_t i = 0; i < columns.size(); ++i) columns[i] = i;
    return columns;
}

Cell text(std::string s) { return Cell::text(std::move(s)); }
Cell real(double v) { return Cell::real(v); }
Cell integer(std::int64_t v) { return Cell::integer(v); }

TEST(KeyOrder, CountingMatchesComparisonOnTableCases)
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::int64_t big = std::numeric_limits<std::int64_t>::max();
    const std::vector<OrderCase> cases = {
        {"strings bytewise, missing before empty",
         {{"s", 3, 3}},
         {{text("b")}, {text("")}, {Cell()}, {text("B")}, {text("\xC3\xA9")}, {text("b")}, {Cell()}, {text(std::string("a\0b", 3))}}},
        {"integers across the whole range",
         {{"i", 1, 1}},
         {{integer(3)}, {integer(-big - 1)}, {integer(big)}, {integer(-1)}, {Cell()}, {integer(3)}, {integer(0)}}},
        {"reals: zeros equal, infinities at the ends",
         {{"r", 2, 1}},
         {{real(0.0)}, {real(-0.0)}, {real(inf)}, {real(-inf)}, {real(1e-300)}, {Cell()}, {real(-0.0)}, {real(0.0)}}},
        {"dates as days",
         {{"d", 4, 1}},
         {{real(19000)}, {real(-5)}, {Cell()}, {real(19000)}, {real(0)}}},
        {"text then number, missing in both",
         {{"region", 3, 3}, {"size", 2, 1}},
         {{text("b"), real(10)}, {text("B"), real(2)}, {Cell(), real(1)}, {text("b"), real(9)},
          {text(""), real(1)}, {text("b"), real(10)}, {text("\xC3\xA9"), Cell()}, {text("b"), Cell()}}},
        {"number then text",
         {{"n", 1, 1}, {"s", 3, 3}},
         {{integer(2), text("x")}, {integer(1), text("y")}, {integer(2), text("a")}, {Cell(), Cell()},
          {integer(1), text("y")}, {integer(2), Cell()}}},
        {"no rows", {{"s", 3, 3}, {"n", 2, 1}}, {}},
        {"every value missing", {{"s", 3, 3}, {"n", 2, 1}}, {{Cell(), Cell()}, {Cell(), Cell()}, {Cell(), Cell()}}},
        {"one row", {{"s", 3, 3}}, {{text("only")}}},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const refhost::Table table = tableOf(c);
        const std::optional<std::vector<std::size_t>> counted = countingOrder(table, allColumns(table));
        ASSERT_TRUE(counted.has_value());
        EXPECT_EQ(*counted, sortedByComparison(table, allColumns(table)));
        EXPECT_EQ(sortedByKey(table, allColumns(table)), *counted);
    }
}

TEST(KeyOrder, FallsBackWhereCodesCannotBeExact)
{
    const std::vector<OrderCase> cases = {
        {"a NaN among reals",
         {{"s", 3, 3}, {"r", 2, 1}},
         {{text("a"), real(2)}, {text("a"), real(std::nan(""))}, {text("a"), real(1)}, {text("b"), real(0)}}},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const refhost::Table table = tableOf(c);
        EXPECT_FALSE(countingOrder(table, allColumns(table)).has_value());
        EXPECT_EQ(sortedByKey(table, allColumns(table)), sortedByComparison(table, allColumns(table)));
    }
    // A column of raw cells of mixed kinds.
    refhost::Table mixed({{"k", 3, 3}});
    for (const Cell& cell : {text("b"), integer(2), Cell(), real(1.5), text("a"), integer(2)})
        mixed.addRawRow({cell});
    EXPECT_FALSE(countingOrder(mixed, {0}).has_value());
    EXPECT_EQ(sortedByKey(mixed, {0}), sortedByComparison(mixed, {0}));
}

// Random tables over few and many distinct values, so that some key
// combinations fit one counting pass and others need one pass per column.
TEST(KeyOrder, CountingMatchesComparisonOnRandomTables)
{
    std::mt19937_64 random(20261206);
    for (int round = 0; round < 40; ++round) {
        const std::size_t rows = std::uniform_int_distribution<std::size_t>(0, 3000)(random);
        const int distinct = round % 2 == 0 ? 5 : 400;
        const int missingPercent = round % 3 == 0 ? 0 : 10;
        refhost::Table table({{"s", 3, 3}, {"i", 1, 1}, {"r", 2, 1}, {"t", 3, 3}});
        std::uniform_int_distribution<int> value(0, distinct - 1);
        std::uniform_int_distribution<int> percent(0, 99);
        auto maybe = [&](Cell cell) { return percent(random) < missingPercent ? Cell() : cell; };
        for (std::size_t r = 0; r < rows; ++r) {
            const int a = value(random), b = value(random), c = value(random), d = value(random);
            table.addRow({maybe(Cell::text("k" + std::to_string(a))), maybe(integer(b - distinct / 2)),
                          maybe(real((c - distinct / 2) * 0.25)), maybe(Cell::text(std::string(d % 3, 'x')))});
        }
        SCOPED_TRACE("round " + std::to_string(round));
        for (const std::vector<std::size_t>& keys :
             std::vector<std::vector<std::size_t>>{{0}, {1}, {2}, {0, 1}, {2, 0}, {0, 1, 2, 3}, {3, 2, 1}}) {
            const std::optional<std::vector<std::size_t>> counted = countingOrder(table, keys);
            ASSERT_TRUE(counted.has_value());
            EXPECT_EQ(*counted, sortedByComparison(table, keys));
        }
    }
}

TEST(KeyOrder, PermutingThroughSharedBuffersMovesWholeRows)
{
    refhost::Table table({{"s", 3, 3}, {"i", 1, 1}, {"r", 2, 1}, {"q", 2, 1}});
    std::mt19937_64 random(7);
    for (int r = 0; r < 300; ++r) {
        const Cell missing;
        table.addRow({r % 7 == 0 ? missing : Cell::text("v" + std::to_string(r % 11)), integer(r),
                      r % 5 == 0 ? missing : real(r * 0.5), real(-r)});
    }
    std::vector<std::size_t> order(table.rowCount());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random);

    refhost::Table permuted = table;
    permuted.permuteRows(order);
    for (std::size_t i = 0; i < order.size(); ++i) ASSERT_EQ(permuted.row(i), table.row(order[i])) << i;

    // A second reordering through the buffers the first one left behind.
    std::reverse(order.begin(), order.end());
    refhost::PermuteBuffers buffers;
    refhost::ColumnValues reals = table.values(2);
    refhost::ColumnValues others = table.values(3);
    reals.permute(order, buffers);
    others.permute(order, buffers);
    reals.permute(order, buffers);
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(others.cell(i), table.at(order[i], 3));
        EXPECT_EQ(reals.cell(i), table.at(order[order[i]], 2));
    }
}

TEST(GroupKeys, RepeatedRowsAddNoKeyButZeroSignsStayApart)
{
    refhost::Table table({{"g", 3, 3}, {"x", 2, 1}});
    for (const auto& [g, x] : std::vector<std::pair<Cell, Cell>>{
             {text("a"), real(0.0)}, {text("a"), real(0.0)}, {text("a"), real(-0.0)},
             {text("a"), real(0.0)}, {Cell(), real(0.0)}, {Cell(), real(0.0)}})
        table.addRow({g, x});
    const std::vector<SplitKey> keys = distinctSplitKeys(table, {"g", "x"});
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0][1].value, "0");
    EXPECT_EQ(keys[1][1].value, "-0");
    EXPECT_TRUE(keys[2][0].missing);
}

}  // namespace

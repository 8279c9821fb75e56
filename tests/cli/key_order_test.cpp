// Counting over key codes orders groups exactly as the stable comparison sort; repeated rows add no key;
// keys as messages show them; the check of a presorted table finds on threads what it finds on one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>

#include "errors.h"
#include "group_keys.h"
#include "group_order.h"
#include "key_codes.h"

using namespace splitrun;
using refhost::Cell;

namespace {

Cell str(std::string s) { return Cell::text(std::move(s)); }
Cell real(double v) { return Cell::real(v); }
Cell i64(std::int64_t v) { return Cell::integer(v); }

// Columns "0", "1", ... of the given storage codes (1 integer, 2 real, 3 string, 4 date), then the rows.
refhost::Table tableOf(const std::string& storages, const std::vector<std::vector<Cell>>& rows = {}, bool raw = false)
{
    refhost::Table table;
    for (char s : storages) table.addColumn({std::to_string(table.columnCount()), s - '0', s == '3' ? 3 : 1});
    for (const auto& row : rows) raw ? table.addRawRow(row) : table.addRow(row);
    return table;
}

// Counting gives the comparison sort's order, or nothing where codes cannot be exact; sortedByKey gives it either way.
void checkOrder(const refhost::Table& table, std::vector<std::size_t> keys, bool exact, unsigned threads = 1)
{
    if (keys.empty()) keys.resize(table.columnCount()), std::iota(keys.begin(), keys.end(), 0);
    const std::optional<RowOrder> counted = countingOrder(table, keys, threads);
    ASSERT_EQ(counted.has_value(), exact);
    EXPECT_EQ(counted.value_or(sortedByComparison(table, keys)), sortedByComparison(table, keys));
    EXPECT_EQ(sortedByKey(table, keys), sortedByComparison(table, keys));
}

TEST(KeyOrder, CountingMatchesComparisonOrFallsBackOnTableCases)
{
    const Cell na, a = str("a"), b = str("b"), B = str("B"), none = str(""), e = str("\xC3\xA9");
    const Cell zero = real(0), minus = real(-0.0), one = real(1);
    const std::vector<std::pair<std::string, std::vector<std::vector<Cell>>>> exact = {
        {"3", {{b}, {none}, {na}, {B}, {e}, {b}, {na}, {str({"a\0b", 3})}}}, {"32", {{na, na}, {na, na}, {na, na}}},
        {"4", {{real(19000)}, {real(-5)}, {na}, {real(19000)}, {real(0)}}}, {"3", {{str("only")}}}, {"32", {}},
        {"1", {{i64(3)}, {i64(INT64_MIN)}, {i64(INT64_MAX)}, {i64(-1)}, {na}, {i64(3)}, {i64(0)}}},
        {"2", {{zero}, {minus}, {real(INFINITY)}, {real(-INFINITY)}, {real(1e-300)}, {na}, {minus}, {zero}}},
        {"32", {{b, real(10)}, {B, real(2)}, {na, one}, {b, real(9)}, {none, one}, {b, real(10)}, {e, na}, {b, na}}},
        {"13", {{i64(2), str("x")}, {i64(1), str("y")}, {i64(2), a}, {na, na}, {i64(1), str("y")}, {i64(2), na}}},
        // Integers without missing values, ranked by their span or, beyond it, hashed.
        {"1", {{i64(-1)}, {i64(-3)}, {i64(-1)}, {i64(-2)}, {i64(-3)}}}, {"1", {{i64(INT64_MAX)}, {i64(INT64_MIN)}, {i64(5)}}},
    };
    for (const auto& [storages, rows] : exact) checkOrder(tableOf(storages, rows), {}, true);
    // missing < "" < "B" < "b" < "\xC3\xA9"; within "b": missing < 9 < 10, and the two (b, 10) rows keep their file order.
    EXPECT_EQ(sortedByKey(tableOf("32", exact[7].second), {0, 1}), (RowOrder{2, 4, 1, 7, 3, 0, 5, 6}));
    checkOrder(tableOf("32", {{a, real(2)}, {a, real(NAN)}, {a, real(1)}, {b, real(0)}}), {}, false);
    checkOrder(tableOf("3", {{b}, {i64(2)}, {na}, {real(1.5)}, {a}, {i64(2)}}, true), {}, false);   // raw cells
}

// Few and many distinct values, so that some keys fit one counting pass and others need one pass per column,
// and some numeric keys outgrow the first table of distinct numbers (1,024).
TEST(KeyOrder, CountingMatchesComparisonOnRandomTables)
{
    std::mt19937_64 random(20261206);
    // The last round is large enough for its key columns to be coded on threads of their own.
    for (int round = 0; round <= 40; ++round) {
        const int distinct = round % 2 == 0 ? 5 : round % 4 == 1 ? 400 : 2500;
        const int missingPercent = round % 3 == 0 ? 0 : 10;
        auto maybe = [&](Cell cell) { return static_cast<int>(random() % 100) < missingPercent ? Cell() : cell; };
        auto value = [&] { return static_cast<int>(random() % distinct); };
        refhost::Table table = tableOf("3123");
        for (std::size_t r = 0, rows = round == 40 ? 100000 : random() % 3001; r < rows; ++r)
            table.addRow({maybe(str("k" + std::to_string(value()))), maybe(i64(value() - distinct / 2)),
                          maybe(real((value() - distinct / 2) * 0.25)), maybe(str(std::string(value() % 3, 'x')))});
        for (const std::vector<std::size_t>& k : {std::vector<std::size_t>{0}, {1}, {2}, {0, 1}, {2, 0}, {3, 2, 1}, {}})
            checkOrder(table, k, true, round == 40 ? 3 : 1);
    }
}

// Each thread looks for key changes in its share of the rows: a group across a share's end stays one
// group, and a key back after another group is refused with the same message however many threads look.
TEST(GroupOrder, PresortedCheckOnThreadsFindsWhatOneThreadFinds)
{
    constexpr std::size_t kRows = 70000;   // enough for threads; the halves meet at row 35000, inside a group
    const struct Case { const char* name; std::size_t back; std::string lines; } cases[] = {
        {"grouped", 0, ""}, {"a key back in the second half", 50000, "line 2 and reappears at line 50002"},
        {"a key back where the halves meet", 35000, "line 2 and reappears at line 35002"},
        {"a key back in the last row", kRows - 1, "line 2 and reappears at line 70001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        refhost::Table table = tableOf("31");
        for (std::size_t r = 0; r < kRows; ++r) {
            const std::size_t group = r == c.back && c.back != 0 ? 0 : (r + 500) / 1000;
            table.addRow({str("g" + std::to_string(group % 7)), i64(static_cast<std::int64_t>(group))});
        }
        for (const unsigned threads : {1u, 2u, 3u}) {
            std::string message;
            try {
                checkGrouped(table, {0, 1}, SourceLines(), "f.csv", threads);
            } catch (const InputError& error) {
                message = error.what();
            }
            if (c.lines.empty()) {
                EXPECT_EQ(message, "") << threads;
            } else {
                EXPECT_NE(message.find("the split key 0=g0, 1=0 first appears at " + c.lines), std::string::npos)
                    << threads << ": " << message;
            }
        }
    }
}

TEST(GroupKeys, RepeatedRowsAddNoKeyButZeroSignsStayApart)
{
    const Cell a = str("a"), zero = real(0.0);
    const std::vector<SplitKey> keys = distinctSplitKeys(
        tableOf("32", {{a, zero}, {a, zero}, {a, real(-0.0)}, {a, zero}, {Cell(), zero}, {Cell(), zero}}), {"0", "1"});
    EXPECT_TRUE(keys.size() == 3 && keys[0][1].value == "0" && keys[1][1].value == "-0" && keys[2][0].missing);
}

// A key's text in messages: dates as dates, and reals beyond any date (or
// not finite) as numbers, without casting them out of range.
TEST(GroupOrder, KeyTextsOfDatesAndOfRealsBeyondThem)
{
    const int date = static_cast<int>(Storage::Date);
    const std::vector<std::pair<Cell, std::string>> cases = {
        {Cell::real(19782), "2024-02-29"}, {Cell::real(1e300), Cell::real(1e300).toString()},
        {Cell::real(-1e19), Cell::real(-1e19).toString()}, {Cell::real(INFINITY), Cell::real(INFINITY).toString()},
    };
    for (const auto& [cell, text] : cases) EXPECT_EQ(cellText(cell, date), text);
}

}  // namespace

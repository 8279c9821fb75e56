// Reordering columns through shared spare storage: each column ends up with exactly the values the order
// names, whatever size of storage the column before it left in the buffers; and the large blocks a reorder
// frees are taken again by the next request that fits while a ColumnBlockReuse is alive. Also: a text
// column's dictionary tells apart texts of one length that differ in a single byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refhost/column_values.h"

namespace refhost {
namespace {

ColumnValues columnOf(ColumnValues::Kind kind, size_t rows, int seed) {
    ColumnValues column(kind);
    for (size_t r = 0; r < rows; ++r) {
        const int v = static_cast<int>(r) * 7 + seed;
        if (v % 5 == 0) {
            column.appendMissing();
            continue;
        }
        switch (kind) {
            case ColumnValues::Kind::Integer: column.appendInteger(v); break;
            case ColumnValues::Kind::Real: column.appendReal(v / 4.0); break;
            case ColumnValues::Kind::Text: column.appendText("t" + std::to_string(v % 13)); break;
            case ColumnValues::Kind::Cells: column.append(v % 2 ? Cell::integer(v) : Cell::text("c")); break;
        }
    }
    return column;
}

// Texts are compared in words: a difference anywhere, at any length around
// the word sizes, is a different text, and the same bytes are the same code.
TEST(ColumnValues, TextsDifferingInOneByteKeepCodesOfTheirOwn) {
    std::vector<std::string> texts;
    for (size_t length = 1; length <= 20; ++length)
        for (size_t at = 0; at <= length; ++at)
            for (char c : {'b', 'c', 'd'}) {
                std::string text(length, 'a');
                if (at < length) text[at] = c;
                if (at < length || c == 'b') texts.push_back(text);
            }
    ColumnValues column(ColumnValues::Kind::Text);
    for (int round = 0; round < 2; ++round)
        for (const std::string& text : texts) column.appendText(text);
    ASSERT_EQ(column.dictionary().size(), texts.size());
    for (size_t i = 0; i < 2 * texts.size(); ++i) ASSERT_EQ(column.codes()[i], i % texts.size()) << i;
}

TEST(ColumnPermute, EveryKindThroughBuffersLeftBySizesBeforeIt) {
    struct Case { const char* name; size_t rows; std::vector<uint32_t> order; bool repeats = false; unsigned threads = 1; };
    const Case cases[] = {
        {"a full reversal", 9, {8, 7, 6, 5, 4, 3, 2, 1, 0}}, {"fewer rows than the column", 9, {4, 0, 8}},
        {"rows repeated beyond the column's size", 3, {2, 2, 0, 1, 1, 0, 2}, true},  // not for cells: moved
        {"no rows", 4, {}}, {"a long column again", 200, {}},
        {"a column gathered by three threads", 300000, {}, false, 3},
    };
    using Kind = ColumnValues::Kind;
    PermuteBuffers buffers;   // shared, so each case gathers into storage sized by the one before
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint32_t> order = c.order;
        if (c.rows == 200)
            for (size_t r = 0; r < 150; ++r) order.push_back(static_cast<uint32_t>((r * 37) % 200));
        if (c.threads > 1)   // every row once, scattered (7919 is prime to the row count)
            for (size_t r = 0; r < c.rows; ++r) order.push_back(static_cast<uint32_t>((r * 7919) % c.rows));
        for (Kind kind : {Kind::Integer, Kind::Real, Kind::Text, Kind::Cells}) {
            if (c.repeats && kind == Kind::Cells) continue;
            for (int seed : {0, 3}) {
                const ColumnValues before = columnOf(kind, c.rows, seed);
                ColumnValues after = before;
                after.permute(order, buffers, c.threads);
                ASSERT_EQ(after.size(), order.size());
                for (size_t i = 0; i < order.size(); ++i) ASSERT_EQ(after.cell(i), before.cell(order[i])) << i;
            }
        }
    }
}

TEST(ColumnPermute, FreedLargeBlocksServeLaterRequestsThatFitWhileReuseIsOn) {
    constexpr size_t kWords = size_t{3} << 20;   // 12 MiB of 4-byte values, a large block
    struct Case { const char* name; size_t words; bool taken; };
    const Case cases[] = {
        {"the same size", kWords, true}, {"a little less", kWords - 1000, true},
        {"more than it holds", kWords + (size_t{1} << 19), false}, {"a third of it", kWords / 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ColumnBlockReuse reuse;
        ColumnVector<uint32_t> first(kWords);
        const uint32_t* const block = first.data();
        ColumnVector<uint32_t>().swap(first);
        const ColumnVector<uint32_t> next(c.words);
        EXPECT_EQ(next.data() == block, c.taken);
    }
}

}  // namespace
}  // namespace refhost

// The reading threads' prefault of the columns: which bytes of each column
// are asked for before chunk k is parsed, placed by the rows the chunks
// joined so far held.
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "column_prefault.h"

namespace {

using refhost::ColumnValues;
using splitrun::ColumnPrefault;

constexpr std::size_t kRows = std::size_t{4} << 20;   // 32 MiB of reals

// The ranges asked for, as byte offsets into the large column.
std::vector<std::pair<char*, char*>> asked;

void record(char* begin, char* end) { asked.emplace_back(begin, end); }

TEST(ColumnPrefault, AsksForTheRowsTheNextChunkIsExpectedToHold)
{
    struct Case {
        const char* what;
        std::size_t joinedRows, joinedChunks, chunk;
        std::optional<std::pair<std::size_t, std::size_t>> bytes;   // of the large column
    };
    const Case cases[] = {
        // 10,000 rows a chunk so far: chunk 100 holds rows 1,000,000 on,
        // with a quarter chunk's slack.
        {"ahead of the join", 100000, 10, 100, std::pair{8000000, 8100000}},
        // The same file whose first ten chunks held 20% more rows each:
        // chunk 100 lands further on, whatever the first chunk suggested.
        {"rows per chunk as joined", 120000, 10, 100, std::pair{9600000, 9720000}},
        // The rows joined are counted exactly; only those still to come
        // are estimated.
        {"from the rows joined", 100005, 10, 100, std::pair{8000040, 8100040}},
        {"the next chunk to join", 400000, 10, 10, std::pair{3200000, 3600000}},
        {"a chunk already joined", 400000, 10, 9, std::nullopt},
        {"past the reserved storage", 400000, 10, 1000, std::nullopt},
        {"its end at the reserved storage", 4000000, 10, 10, std::pair{32000000, 8 * kRows}},
    };
    ColumnValues large(ColumnValues::Kind::Real);
    large.reserve(kRows);
    ColumnValues small(ColumnValues::Kind::Integer);   // under a MiB: left to the join
    small.reserve(1000);
    char* const base = reinterpret_cast<char*>(const_cast<double*>(large.reals().data()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ColumnPrefault prefault(record);
        asked.clear();
        prefault.before(c.chunk);
        EXPECT_TRUE(asked.empty()) << "nothing joined yet: no rows to place";
        prefault.note({&small, &large}, c.joinedRows, c.joinedChunks);
        prefault.before(c.chunk);
        if (!c.bytes) {
            EXPECT_TRUE(asked.empty());
            continue;
        }
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].first - base, static_cast<std::ptrdiff_t>(c.bytes->first));
        EXPECT_EQ(asked[0].second - base, static_cast<std::ptrdiff_t>(c.bytes->second));
    }
}

}  // namespace

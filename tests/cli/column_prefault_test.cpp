// The reading threads' prefault of the columns: the pages a chunk's rows
// will land on are in memory before the join writes them, placed by the
// rows the chunks joined so far held.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "column_prefault.h"

namespace {

using refhost::ColumnValues;
using splitrun::ColumnPrefault;

constexpr std::size_t kRows = std::size_t{4} << 20;   // 32 MiB of reals
constexpr std::size_t kMiB = std::size_t{1} << 20;

// Whether every page of [offset, offset + bytes) of the column's storage is in memory.
bool resident(const ColumnValues& column, std::size_t offset, std::size_t bytes)
{
    const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(column.reals().data()) + offset;
    const std::uintptr_t from = begin & ~(page - 1);
    const std::uintptr_t to = (begin + bytes + page - 1) & ~(page - 1);
    std::vector<unsigned char> pages((to - from) / page);
    if (::mincore(reinterpret_cast<void*>(from), to - from, pages.data()) != 0) return false;
    for (const unsigned char state : pages)
        if ((state & 1) == 0) return false;
    return true;
}

// Whether this kernel faults pages in on advice; without it the prefault does nothing.
bool kernelPopulates()
{
#ifdef MADV_POPULATE_WRITE
    void* probe = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (probe == MAP_FAILED) return false;
    const bool populates = ::madvise(probe, 4096, MADV_POPULATE_WRITE) == 0;
    ::munmap(probe, 4096);
    return populates;
#else
    return false;
#endif
}

TEST(ColumnPrefault, FaultsInTheRowsTheNextChunkIsExpectedToHold)
{
    if (!kernelPopulates()) GTEST_SKIP() << "the kernel does not populate on advice";
    struct Case {
        const char* what;
        std::size_t joinedRows, joinedChunks, chunk;
        std::size_t expectedByte;   // where the chunk's rows start, at 8 bytes a row
    };
    const Case cases[] = {
        // 10,000 rows a chunk so far: chunk 100 starts at row 1,000,000.
        {"ahead of the join", 100000, 10, 100, 8000000},
        // The same file whose first ten chunks held 20% more rows each:
        // chunk 100 lands further on, whatever the first chunk suggested.
        {"rows per chunk as joined", 120000, 10, 100, 9600000},
        {"the next chunk to join", 400000, 10, 10, 3200000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ColumnValues column(ColumnValues::Kind::Real);
        column.reserve(kRows);
        const std::size_t chunkBytes = 8 * c.joinedRows / c.joinedChunks;
        ASSERT_FALSE(resident(column, c.expectedByte, chunkBytes));
        ColumnPrefault prefault;
        prefault.before(c.chunk);   // nothing joined yet: no rows to place
        EXPECT_FALSE(resident(column, c.expectedByte, chunkBytes));
        prefault.note({&column}, c.joinedRows, c.joinedChunks);
        prefault.before(c.chunk);
        EXPECT_TRUE(resident(column, c.expectedByte, chunkBytes));
        // Far from every case's rows: faulted in by none.
        EXPECT_FALSE(resident(column, 28 * kMiB, 4096));
    }
}

}  // namespace

// Column blocks: large ones 2 MiB aligned, backed by huge pages while the
// kernel hands those out quickly, and kept for reuse while a
// ColumnBlockReuse is alive.
//
// Whether huge pages pay depends on the machine more than on the program.
// On the virtual machines we measure on, the first access to a fresh
// 4 KiB page cost 5 to 13 microseconds on one, and a fresh huge page as
// little as a fifteenth of that per 4 KiB; on another, huge pages came
// slowly after another process had freed its memory, up to twice the time
// of 4 KiB pages (docs/performance.md, "Huge pages"). So each new block asks
// for huge pages and faults in its first 2 MiB at once, timing it: a block
// whose first huge page took longer than a fast machine takes to clear one
// gives the advice back for the rest of it, and is filled with 4 KiB pages.
#include "refhost/column_allocator.h"

#include <sys/mman.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace refhost {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLargeBlock = std::size_t{4} << 20;

struct KeptBlock {
    void* block;
    std::size_t bytes;   // rounded to whole huge pages
};

// The blocks kept for reuse, and how many ColumnBlockReuse are alive.
struct Reuse {
    std::mutex lock;
    unsigned scopes = 0;
    std::vector<KeptBlock> kept;
};

Reuse& reuse() {
    static Reuse state;
    return state;
}

std::size_t roundedSize(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

// The longest the first huge page of a block may take to fault in for the
// block to keep huge pages: clearing 2 MiB at about 2 GB per second. Warm
// huge pages took 0.1 to 0.4 ms where we measured, cold ones 4 to 10 ms.
constexpr std::chrono::microseconds kSlowHugePage{1000};

// Asks for huge pages for a new block of `bytes` (whole huge pages, 2 MiB
// aligned) and faults in its first one, keeping them only when that came
// quickly. Only advice: a kernel without it leaves the block as it is.
void adviseHugePages(void* block, std::size_t bytes) {
#if defined(MADV_HUGEPAGE) && defined(MADV_POPULATE_WRITE)
    if (::madvise(block, bytes, MADV_HUGEPAGE) != 0) return;
    const auto start = std::chrono::steady_clock::now();
    if (::madvise(block, kHugePage, MADV_POPULATE_WRITE) != 0) {
        // No way to time it: 4 KiB pages, as without the advice.
        ::madvise(block, bytes, MADV_NOHUGEPAGE);
        return;
    }
    if (std::chrono::steady_clock::now() - start > kSlowHugePage)
        ::madvise(static_cast<char*>(block) + kHugePage, bytes - kHugePage, MADV_NOHUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

// The smallest kept block of at least `bytes`, taken off the list; null
// when none holds that much.
void* takeKept(std::size_t bytes) {
    Reuse& state = reuse();
    const std::lock_guard<std::mutex> guard(state.lock);
    auto best = state.kept.end();
    for (auto it = state.kept.begin(); it != state.kept.end(); ++it)
        if (it->bytes >= bytes && (best == state.kept.end() || it->bytes < best->bytes)) best = it;
    if (best == state.kept.end()) return nullptr;
    void* block = best->block;
    state.kept.erase(best);
    return block;
}

}  // namespace

ColumnBlockReuse::ColumnBlockReuse() {
    Reuse& state = reuse();
    const std::lock_guard<std::mutex> guard(state.lock);
    ++state.scopes;
}

ColumnBlockReuse::~ColumnBlockReuse() {
    Reuse& state = reuse();
    std::vector<KeptBlock> kept;
    {
        const std::lock_guard<std::mutex> guard(state.lock);
        if (--state.scopes == 0) kept.swap(state.kept);
    }
    for (const KeptBlock& block : kept) std::free(block.block);
}

namespace detail {

void* allocateColumnBlock(std::size_t bytes) {
    if (bytes < kLargeBlock) {
        void* block = std::malloc(bytes == 0 ? 1 : bytes);
        if (block == nullptr) throw std::bad_alloc();
        return block;
    }
    const std::size_t rounded = roundedSize(bytes);
    if (void* block = takeKept(rounded)) return block;
    void* block = std::aligned_alloc(kHugePage, rounded);
    if (block == nullptr) throw std::bad_alloc();
    adviseHugePages(block, rounded);
    return block;
}

void freeColumnBlock(void* block, std::size_t bytes) noexcept {
    if (block != nullptr && bytes >= kLargeBlock) {
        Reuse& state = reuse();
        const std::lock_guard<std::mutex> guard(state.lock);
        if (state.scopes > 0) {
            // A block taken for a smaller request than it was made for is
            // kept at that request's size: never more than it holds.
            try {
                state.kept.push_back({block, roundedSize(bytes)});
                return;
            } catch (const std::bad_alloc&) {
                // no room to note it: give it back below
            }
        }
    }
    std::free(block);
}

}  // namespace detail

}  // namespace refhost

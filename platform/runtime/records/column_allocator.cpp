// Column blocks: large ones 2 MiB aligned, and kept for reuse while a
// ColumnBlockReuse is alive.
//
// They are not marked for huge pages (MADV_HUGEPAGE). On the virtual
// machine we measure on, a fresh huge page came quickly only while the
// memory of a run just ended was still at hand; after another process had
// run, a build spent up to its whole user time again in the kernel clearing
// them, where 4 KiB pages cost the same little every time
// (docs/performance.md, "Huge pages").
#include "refhost/column_allocator.h"

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

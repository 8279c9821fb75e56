// Column blocks: large ones 2 MiB aligned and marked for huge pages.
#include "refhost/column_allocator.h"

#include <sys/mman.h>

#include <cstdlib>

namespace refhost::detail {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLargeBlock = std::size_t{4} << 20;

}  // namespace

void* allocateColumnBlock(std::size_t bytes) {
    if (bytes < kLargeBlock) {
        void* block = std::malloc(bytes == 0 ? 1 : bytes);
        if (block == nullptr) throw std::bad_alloc();
        return block;
    }
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* block = std::aligned_alloc(kHugePage, rounded);
    if (block == nullptr) throw std::bad_alloc();
    // Only advice: without huge pages the block works all the same.
    ::madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}

void freeColumnBlock(void* block, std::size_t /*bytes*/) noexcept { std::free(block); }

}  // namespace refhost::detail

// The allocator of column storage. Columns of large tables run to hundreds
// of megabytes, and touching them page by page costs a page fault per 4 KiB;
// large blocks are therefore aligned to 2 MiB and offered to the kernel for
// transparent huge pages. Small blocks come from the ordinary heap.
#ifndef REFHOST_COLUMN_ALLOCATOR_H
#define REFHOST_COLUMN_ALLOCATOR_H

#include <cstddef>
#include <new>
#include <vector>

namespace refhost {

namespace detail {
void* allocateColumnBlock(std::size_t bytes);
void freeColumnBlock(void* block, std::size_t bytes) noexcept;
}  // namespace detail

template <typename T>
struct ColumnAllocator {
    using value_type = T;
    ColumnAllocator() = default;
    template <typename U>
    ColumnAllocator(const ColumnAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(detail::allocateColumnBlock(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept {
        detail::freeColumnBlock(block, count * sizeof(T));
    }
    template <typename U>
    bool operator==(const ColumnAllocator<U>&) const noexcept { return true; }
};

template <typename T>
using ColumnVector = std::vector<T, ColumnAllocator<T>>;

}  // namespace refhost

#endif

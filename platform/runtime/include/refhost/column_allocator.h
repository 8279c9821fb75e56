// The allocator of column storage. Columns of large tables run to hundreds
// of megabytes: large blocks are aligned to 2 MiB, backed by huge pages
// while the kernel hands those out quickly, and kept for reuse within a
// scope, so that fresh memory is touched once. Small blocks come from the
// ordinary heap.
#ifndef REFHOST_COLUMN_ALLOCATOR_H
#define REFHOST_COLUMN_ALLOCATOR_H

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace refhost {

namespace detail {
void* allocateColumnBlock(std::size_t bytes);
void freeColumnBlock(void* block, std::size_t bytes) noexcept;
}  // namespace detail

// While one is alive, large column blocks that are freed are kept rather
// than given back, and a later request that fits one takes it: its pages
// are mapped already, so filling it costs neither page faults nor the
// kernel's zeroing of fresh pages. The kept blocks are given back when the
// last one ends. Meant for a step that frees and allocates columns of like
// sizes in turn, such as ordering a table's rows (key codes, the row order,
// the gather's spare columns). Blocks may be allocated and freed on any
// thread meanwhile; the objects themselves are made and ended on one.
class ColumnBlockReuse {
public:
    ColumnBlockReuse();
    ~ColumnBlockReuse();
    ColumnBlockReuse(const ColumnBlockReuse&) = delete;
    ColumnBlockReuse& operator=(const ColumnBlockReuse&) = delete;
};

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
    // Values a column grows by without one (resize) are left uninitialised:
    // every such column is written in full right after, and clearing it
    // first would be a second pass over fresh memory.
    template <typename U>
    void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const ColumnAllocator<U>&) const noexcept { return true; }
};

template <typename T>
using ColumnVector = std::vector<T, ColumnAllocator<T>>;

}  // namespace refhost

#endif

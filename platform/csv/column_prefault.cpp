#include "column_prefault.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

namespace splitrun {

namespace {

constexpr std::uintptr_t kPage = 4096;
// Columns with less storage are left to fault in as they are written: a
// few pages each, while a wide file's many small columns would cost a call
// per column for every chunk.
constexpr std::size_t kSmallestSpan = std::size_t{1} << 20;

// Faults in [begin, end) as writes would, keeping the bytes: pages already
// there are left alone. Only advice; a kernel without it does nothing.
void populate(char* begin, char* end)
{
#ifdef MADV_POPULATE_WRITE
    const auto from = reinterpret_cast<std::uintptr_t>(begin) & ~(kPage - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(end) + kPage - 1) & ~(kPage - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)begin;
    (void)end;
#endif
}

}  // namespace

void ColumnPrefault::note(const std::vector<const refhost::ColumnValues*>& columns, std::size_t expectedRows)
{
    using Kind = refhost::ColumnValues::Kind;
    std::vector<Span> spans;
    spans.reserve(columns.size());
    for (const refhost::ColumnValues* values : columns) {
        auto add = [&](const auto& storage) {
            using Value = typename std::decay_t<decltype(storage)>::value_type;
            if (storage.capacity() * sizeof(Value) < kSmallestSpan) return;
            spans.push_back(Span{reinterpret_cast<char*>(const_cast<Value*>(storage.data())),
                                 storage.capacity() * sizeof(Value), sizeof(Value)});
        };
        switch (values->kind()) {
        case Kind::Integer: add(values->integers()); break;
        case Kind::Real: add(values->reals()); break;
        case Kind::Text: add(values->codes()); break;
        case Kind::Cells: break;
        }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (spans != spans_) spans_ = std::move(spans);
    expectedRows_ = expectedRows;
}

void ColumnPrefault::before(std::size_t k)
{
    std::vector<Span> spans;
    std::size_t rows = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (spans_.empty() || chunks_ == 0) return;
        spans = spans_;
        rows = expectedRows_;
    }
    // Chunks hold about equal shares of the rows.
    const std::size_t first = rows * k / chunks_;
    const std::size_t last = rows * (k + 1) / chunks_;
    for (const Span& span : spans) {
        const std::size_t from = std::min(first * span.width, span.bytes);
        const std::size_t to = std::min(last * span.width, span.bytes);
        if (to > from) populate(span.begin + from, span.begin + to);
    }
}

}  // namespace splitrun

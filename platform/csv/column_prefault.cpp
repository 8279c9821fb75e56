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

}  // namespace

// Pages already there are left alone.
void ColumnPrefault::populateWritable(char* begin, char* end)
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

void ColumnPrefault::note(const std::vector<const refhost::ColumnValues*>& columns, std::size_t joinedRows,
                          std::size_t joinedChunks)
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
    joinedRows_ = joinedRows;
    joinedChunks_ = joinedChunks;
}

void ColumnPrefault::before(std::size_t k)
{
    std::vector<Span> spans;
    std::size_t joinedRows = 0;
    std::size_t joinedChunks = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (spans_.empty() || joinedChunks_ == 0 || k < joinedChunks_) return;
        spans = spans_;
        joinedRows = joinedRows_;
        joinedChunks = joinedChunks_;
    }
    // The chunks between the last joined and k hold as many rows each as
    // the joined ones did on average; a quarter chunk more is faulted in
    // for a chunk that holds more.
    const std::size_t perChunk = joinedRows / joinedChunks;
    const std::size_t first = joinedRows + (k - joinedChunks) * perChunk;
    const std::size_t last = first + perChunk + perChunk / 4;
    for (const Span& span : spans) {
        const std::size_t from = std::min(first * span.width, span.bytes);
        const std::size_t to = std::min(last * span.width, span.bytes);
        if (to > from) populate_(span.begin + from, span.begin + to);
    }
}

}  // namespace splitrun

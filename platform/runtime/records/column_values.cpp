// Column storage of tables: typed vectors, a string dictionary and a
// missing-value bitmap.
#include "refhost/column_values.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <system_error>
#include <thread>
#include <type_traits>

namespace refhost {

namespace {

// The slot hash of a dictionary's texts. Split fields, categories and key
// texts are mostly short, and std::hash reads them a byte at a time: a text
// of up to 16 bytes is read as two overlapping words and mixed by one wide
// multiplication instead. Only the slots depend on the hash, never the
// codes, which follow the order texts were first added.
size_t hashOf(std::string_view text) {
    const size_t n = text.size();
    if (n > 16) return std::hash<std::string_view>{}(text);
    const char* const p = text.data();
    uint64_t head = 0;
    uint64_t tail = 0;
    if (n >= 8) {
        std::memcpy(&head, p, 8);
        std::memcpy(&tail, p + n - 8, 8);
    } else if (n >= 4) {
        uint32_t first = 0;
        uint32_t last = 0;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        head = first;
        tail = last;
    } else if (n > 0) {
        head = static_cast<uint64_t>(static_cast<unsigned char>(p[0])) |
               static_cast<uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
               static_cast<uint64_t>(static_cast<unsigned char>(p[n - 1])) << 16;
    }
    const unsigned __int128 product = static_cast<unsigned __int128>(head ^ 0xa0761d6478bd642fu) *
                                      (tail ^ (n * 0x9e3779b97f4a7c15u) ^ 0xe7037ed1a0b428dbu);
    return static_cast<size_t>(static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64));
}

// Whether the n bytes at a and b are the same, read as their first and
// last word; n is at least the word's size and at most twice it.
template <typename Word>
bool sameEnds(const char* a, const char* b, size_t n) {
    Word x[2];
    Word y[2];
    std::memcpy(&x[0], a, sizeof(Word));
    std::memcpy(&x[1], a + n - sizeof(Word), sizeof(Word));
    std::memcpy(&y[0], b, sizeof(Word));
    std::memcpy(&y[1], b + n - sizeof(Word), sizeof(Word));
    return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
}

// Whether the n bytes at a and b are the same: short texts, the usual
// dictionary entries, as two overlapping words rather than by a call.
bool sameBytes(const char* a, const char* b, size_t n) {
    if (n > 16) return std::memcmp(a, b, n) == 0;
    if (n >= 8) return sameEnds<uint64_t>(a, b, n);
    if (n >= 4) return sameEnds<uint32_t>(a, b, n);
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Appends `count` values from `first` as one block copy: inserting a range
// would construct them one by one through the column allocator, which
// does not compile down to a copy. The values the column grows by are left
// uninitialised (see ColumnAllocator) and written here.
template <typename T>
void appendBlock(ColumnVector<T>& to, const T* first, size_t count) {
    const size_t at = to.size();
    to.resize(at + count);
    if (count != 0) std::memcpy(to.data() + at, first, count * sizeof(T));
}

}  // namespace

uint32_t TextDictionary::intern(std::string_view text) {
    if (slots_.empty() || (size() + 1) * 2 > slots_.size()) grow();
    const size_t mask = slots_.size() - 1;
    for (size_t slot = hashOf(text) & mask;; slot = (slot + 1) & mask) {
        const uint32_t entry = slots_[slot];
        if (entry == 0) {
            const auto code = static_cast<uint32_t>(size());
            bytes_.append(text.data(), text.size());
            offsets_.push_back(bytes_.size());
            if (text.size() > longest_) longest_ = text.size();
            slots_[slot] = code + 1;
            return code;
        }
        const std::string_view known = at(entry - 1);
        if (known.size() == text.size() && sameBytes(known.data(), text.data(), text.size())) return entry - 1;
    }
}

void TextDictionary::grow() {
    std::vector<uint32_t> slots(slots_.empty() ? 64 : slots_.size() * 2, 0);
    const size_t mask = slots.size() - 1;
    for (uint32_t code = 0; code < size(); ++code) {
        size_t slot = hashOf(at(code)) & mask;
        while (slots[slot] != 0) slot = (slot + 1) & mask;
        slots[slot] = code + 1;
    }
    slots_ = std::move(slots);
}

ColumnValues::Kind ColumnValues::kindFor(int storage) {
    switch (storage) {
        case 1: return Kind::Integer;
        case 2: case 4: case 5: case 6: return Kind::Real;
        case 3: return Kind::Text;
        default: return Kind::Cells;
    }
}

void ColumnValues::reserve(size_t rows) {
    switch (kind_) {
        case Kind::Integer: ints_.reserve(rows); break;
        case Kind::Real: reals_.reserve(rows); break;
        case Kind::Text: codes_.reserve(rows); break;
        case Kind::Cells: cells_.reserve(rows); break;
    }
}

void ColumnValues::clear() {
    size_ = 0;
    ints_.clear();
    reals_.clear();
    codes_.clear();
    dict_ = TextDictionary();
    cells_.clear();
    missing_.clear();
}

void ColumnValues::setMissing(size_t row) {
    if (missing_.size() <= (row >> 6)) missing_.resize((row >> 6) + 1, 0);
    missing_[row >> 6] |= uint64_t{1} << (row & 63);
}

bool ColumnValues::hasMissing() const {
    if (kind_ == Kind::Cells) {
        for (const Cell& cell : cells_)
            if (cell.isMissing()) return true;
        return false;
    }
    for (uint64_t word : missing_)
        if (word != 0) return true;
    return false;
}

bool ColumnValues::hasMissing(size_t first, size_t count) const {
    if (kind_ == Kind::Cells) {
        for (size_t row = first; row < first + count; ++row)
            if (cells_[row].isMissing()) return true;
        return false;
    }
    // Word by word: the first and last words masked to the range's bits.
    const size_t end = std::min(first + count, missing_.size() * 64);
    for (size_t row = first; row < end;) {
        const size_t bit = row & 63;
        const size_t bits = std::min<size_t>(64 - bit, end - row);
        uint64_t word = missing_[row >> 6] >> bit;
        if (bits < 64) word &= (uint64_t{1} << bits) - 1;
        if (word != 0) return true;
        row += bits;
    }
    return false;
}

void ColumnValues::appendMissing() {
    switch (kind_) {
        case Kind::Integer: ints_.push_back(0); break;
        case Kind::Real: reals_.push_back(0.0); break;
        case Kind::Text: codes_.push_back(0); break;
        case Kind::Cells: cells_.emplace_back(); ++size_; return;
    }
    setMissing(size_);
    ++size_;
}

void ColumnValues::append(const Cell& cell) {
    if (cell.isMissing()) return appendMissing();
    if (kind_ == Kind::Integer && cell.isInteger()) return appendInteger(cell.asInteger());
    if (kind_ == Kind::Real && cell.isReal()) return appendReal(cell.asReal());
    if (kind_ == Kind::Text && cell.isText()) return appendText(cell.asText());
    toCells();
    cells_.push_back(cell);
    ++size_;
}

void ColumnValues::appendFrom(const ColumnValues& other, size_t row) {
    if (other.kind_ != kind_) return append(other.cell(row));
    if (other.isMissing(row)) return appendMissing();
    switch (kind_) {
        case Kind::Integer: appendInteger(other.ints_[row]); break;
        case Kind::Real: appendReal(other.reals_[row]); break;
        case Kind::Text: appendText(other.dict_.at(other.codes_[row])); break;
        case Kind::Cells: cells_.push_back(other.cells_[row]); ++size_; break;
    }
}

void ColumnValues::appendRange(const ColumnValues& other, size_t first, size_t count) {
    if (other.kind_ != kind_ || kind_ == Kind::Cells || kind_ == Kind::Text) {
        // Text is re-coded value by value; a run of one value (a split
        // field) is looked up once.
        uint32_t lastCode = 0;
        uint32_t lastOwn = 0;
        bool haveLast = false;
        for (size_t row = first; row < first + count; ++row) {
            if (kind_ != Kind::Text || other.kind_ != Kind::Text || other.isMissing(row)) {
                appendFrom(other, row);
                continue;
            }
            const uint32_t code = other.codes_[row];
            if (!haveLast || code != lastCode) {
                lastOwn = dict_.intern(other.dict_.at(code));
                lastCode = code;
                haveLast = true;
            }
            appendCode(lastOwn);
        }
        return;
    }
    const size_t base = size_;
    if (kind_ == Kind::Integer)
        appendBlock(ints_, other.ints_.data() + first, count);
    else
        appendBlock(reals_, other.reals_.data() + first, count);
    size_ += count;
    if (other.missing_.empty()) return;
    for (size_t row = first; row < first + count; ++row)
        if (other.isMissing(row)) setMissing(base + row - first);
}

void ColumnValues::appendAll(const ColumnValues& other) {
    if (other.kind_ != kind_ || kind_ == Kind::Cells) {
        for (size_t row = 0; row < other.size_; ++row) append(other.cell(row));
        return;
    }
    const size_t base = size_;
    switch (kind_) {
        case Kind::Integer: appendBlock(ints_, other.ints_.data(), other.ints_.size()); break;
        case Kind::Real: appendBlock(reals_, other.reals_.data(), other.reals_.size()); break;
        case Kind::Text: {
            // The other column's codes, renumbered in this dictionary.
            std::vector<uint32_t> recode(other.dict_.size());
            for (uint32_t code = 0; code < recode.size(); ++code)
                recode[code] = dict_.intern(other.dict_.at(code));
            codes_.reserve(codes_.size() + other.codes_.size());
            for (size_t row = 0; row < other.size_; ++row)
                codes_.push_back(other.isMissing(row) ? 0 : recode[other.codes_[row]]);
            break;
        }
        case Kind::Cells: break;
    }
    size_ += other.size_;
    for (size_t word = 0; word < other.missing_.size(); ++word) {
        for (uint64_t bits = other.missing_[word]; bits != 0; bits &= bits - 1) {
            const size_t row = word * 64 + static_cast<size_t>(__builtin_ctzll(bits));
            setMissing(base + row);
        }
    }
}

Cell ColumnValues::cell(size_t row) const {
    if (kind_ == Kind::Cells) return cells_[row];
    if (isMissing(row)) return Cell::missing();
    switch (kind_) {
        case Kind::Integer: return Cell::integer(ints_[row]);
        case Kind::Real: return Cell::real(reals_[row]);
        case Kind::Text: return Cell::text(std::string(dict_.at(codes_[row])));
        case Kind::Cells: break;
    }
    return Cell::missing();
}

const void* ColumnValues::cellBytes(size_t row, size_t* length) const {
    *length = cells_[row].length();
    return cells_[row].bytes();
}

void ColumnValues::integersToReals() {
    if (kind_ != Kind::Integer) return;
    reals_.resize(ints_.size());
    for (size_t row = 0; row < ints_.size(); ++row) reals_[row] = static_cast<double>(ints_[row]);
    ColumnVector<int64_t>().swap(ints_);
    kind_ = Kind::Real;
}

void ColumnValues::toCells() {
    if (kind_ == Kind::Cells) return;
    std::vector<Cell> cells;
    cells.reserve(size_ + 1);
    for (size_t row = 0; row < size_; ++row) cells.push_back(cell(row));
    cells_ = std::move(cells);
    ColumnVector<int64_t>().swap(ints_);
    ColumnVector<double>().swap(reals_);
    ColumnVector<uint32_t>().swap(codes_);
    dict_ = TextDictionary();
    std::vector<uint64_t>().swap(missing_);
    kind_ = Kind::Cells;
}

namespace {

// Below this many rows a gather is not worth a thread.
constexpr size_t kRowsPerThread = size_t{1} << 16;

// Calls part(begin, end) for `threads` consecutive ranges of [0, count),
// the first on this thread and the others on threads of their own, which a
// gather of a large column (a cache miss per value) keeps busy. A range
// whose thread cannot be started runs here.
template <typename Part>
void inParts(size_t count, unsigned threads, const Part& part) {
    threads = static_cast<unsigned>(std::min<size_t>(threads, count / kRowsPerThread));
    if (threads <= 1) return part(0, count);
    const size_t step = (count + threads - 1) / threads;
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) {
        const size_t begin = t * step;
        const size_t end = std::min(count, begin + step);
        try {
            helpers.emplace_back(part, begin, end);
        } catch (const std::system_error&) {
            part(begin, end);
        }
    }
    part(0, step);
    for (std::thread& helper : helpers) helper.join();
}

// Gathers values[order[i]] into spare, then swaps the two. Plain values are
// gathered by index into a spare of the full size: a push_back per value
// (a capacity check and a store of the end) made the gather, which waits
// on a cache miss per value, half as fast again. The spare only needs
// sizing for the first column of its kind; later ones get back a column's
// old storage of the same size. Cells are moved, so an order that repeats
// a row leaves the repeats of a column of cells empty.
template <typename Vector>
void permuteVector(Vector& values, std::span<const uint32_t> order, Vector& spare, unsigned threads) {
    using Value = typename Vector::value_type;
    const size_t count = order.size();
    if constexpr (std::is_trivially_copyable_v<Value>) {
        spare.resize(count);
        Value* out = spare.data();
        const Value* in = values.data();
        const uint32_t* from = order.data();
        inParts(count, threads, [=](size_t begin, size_t end) {
            for (size_t row = begin; row < end; ++row) out[row] = in[from[row]];
        });
    } else {
        spare.clear();
        spare.reserve(count);
        for (const uint32_t from : order) spare.push_back(std::move(values[from]));
    }
    values.swap(spare);
}

}  // namespace

void ColumnValues::permute(std::span<const uint32_t> order) {
    PermuteBuffers buffers;
    permute(order, buffers);
}

void ColumnValues::permute(std::span<const uint32_t> order, PermuteBuffers& buffers, unsigned threads) {
    switch (kind_) {
        case Kind::Integer: permuteVector(ints_, order, buffers.integers, threads); break;
        case Kind::Real: permuteVector(reals_, order, buffers.reals, threads); break;
        case Kind::Text: permuteVector(codes_, order, buffers.codes, threads); break;
        case Kind::Cells: {
            std::vector<Cell> spare;
            permuteVector(cells_, order, spare, 1);
            break;
        }
    }
    if (!missing_.empty()) {
        std::vector<uint64_t>& old = buffers.missing;
        old.swap(missing_);
        missing_.assign((order.size() + 63) >> 6, 0);
        for (size_t row = 0; row < order.size(); ++row) {
            const size_t from = order[row];
            if ((from >> 6) < old.size() && ((old[from >> 6] >> (from & 63)) & 1u) != 0)
                missing_[row >> 6] |= uint64_t{1} << (row & 63);
        }
    }
    size_ = order.size();
}

void ColumnValues::shrink() {
    ints_.shrink_to_fit();
    reals_.shrink_to_fit();
    codes_.shrink_to_fit();
    cells_.shrink_to_fit();
    missing_.shrink_to_fit();
}

bool ColumnValues::operator==(const ColumnValues& other) const {
    if (size_ != other.size_) return false;
    for (size_t row = 0; row < size_; ++row)
        if (!(cell(row) == other.cell(row))) return false;
    return true;
}

}  // namespace refhost

#include "key_codes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>
#include <string_view>

#include "thread_shares.h"

namespace splitrun {

namespace {

using Kind = refhost::ColumnValues::Kind;

// Numbers by their 64-bit pattern, numbered in order of first appearance.
// Open addressing, at most half full.
class DistinctNumbers {
public:
    explicit DistinctNumbers(std::size_t expected)
    {
        std::size_t size = 64;
        while (size < expected * 2 && size < (std::size_t{1} << 31)) size *= 2;
        slots_.assign(size, 0);
        shift_ = 64 - std::countr_zero(size);
    }

    // The number of `bits`, adding it when it is new.
    std::uint32_t id(std::uint64_t bits)
    {
        if ((values_.size() + 1) * 2 > slots_.size()) grow();
        for (std::size_t slot = slotOf(bits);; slot = (slot + 1) & (slots_.size() - 1)) {
            const std::uint32_t entry = slots_[slot];
            if (entry == 0) {
                const auto number = static_cast<std::uint32_t>(values_.size());
                values_.push_back(bits);
                slots_[slot] = number + 1;
                return number;
            }
            if (values_[entry - 1] == bits) return entry - 1;
        }
    }

    // The distinct patterns, indexed by number.
    const std::vector<std::uint64_t>& values() const { return values_; }

private:
    std::size_t slotOf(std::uint64_t bits) const
    {
        return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> shift_);
    }

    void grow()
    {
        slots_.assign(slots_.size() * 2, 0);
        --shift_;
        for (std::uint32_t i = 0; i < values_.size(); ++i) {
            std::size_t slot = slotOf(values_[i]);
            while (slots_[slot] != 0) slot = (slot + 1) & (slots_.size() - 1);
            slots_[slot] = i + 1;
        }
    }

    std::vector<std::uint32_t> slots_;  // number + 1; 0 marks a free slot
    std::vector<std::uint64_t> values_;
    int shift_ = 58;
};

// Codes of a dictionary-coded column: the dictionary sorted bytewise once.
KeyCodes textCodes(const refhost::ColumnValues& values, std::size_t rows)
{
    const refhost::TextDictionary& dictionary = values.dictionary();
    std::vector<std::uint32_t> byText(dictionary.size());
    std::iota(byText.begin(), byText.end(), 0u);
    std::sort(byText.begin(), byText.end(), [&](std::uint32_t a, std::uint32_t b) {
        return dictionary.at(a) < dictionary.at(b);   // bytewise, unsigned
    });
    std::vector<std::uint32_t> rank(dictionary.size());
    for (std::uint32_t i = 0; i < byText.size(); ++i) rank[byText[i]] = i + 1;

    KeyCodes result;
    result.levels = static_cast<std::uint32_t>(dictionary.size() + 1);
    result.codes.resize(rows);
    if (dictionary.size() == 0) return result;   // every value is missing
    const std::uint32_t* codes = values.codes().data();
    for (std::size_t row = 0; row < rows; ++row) result.codes[row] = rank[codes[row]];
    if (values.hasMissing())
        for (std::size_t row = 0; row < rows; ++row)
            if (values.isMissing(row)) result.codes[row] = 0;
    return result;
}

// Codes of a numeric column. `bitsOf` gives a value's pattern (equal
// patterns for values that compare equal), `less` orders two patterns as
// their values; NaN has been ruled out.
template <typename Bits, typename Less>
KeyCodes numberCodes(const refhost::ColumnValues& values, std::size_t rows, Bits bitsOf, Less less)
{
    KeyCodes result;
    result.codes.resize(rows);
    const bool hasMissing = values.hasMissing();
    DistinctNumbers distinct(std::min<std::size_t>(rows, 1024));
    // Numbers first, a run of one value (grouped input) looked up once.
    std::uint64_t last = 0;
    std::uint32_t lastId = 0;
    bool haveLast = false;
    for (std::size_t row = 0; row < rows; ++row) {
        if (hasMissing && values.isMissing(row)) continue;
        const std::uint64_t bits = bitsOf(row);
        if (!haveLast || bits != last) {
            lastId = distinct.id(bits);
            last = bits;
            haveLast = true;
        }
        result.codes[row] = lastId;
    }
    const std::vector<std::uint64_t>& patterns = distinct.values();
    std::vector<std::uint32_t> byValue(patterns.size());
    std::iota(byValue.begin(), byValue.end(), 0u);
    std::sort(byValue.begin(), byValue.end(),
              [&](std::uint32_t a, std::uint32_t b) { return less(patterns[a], patterns[b]); });
    std::vector<std::uint32_t> rank(patterns.size());
    for (std::uint32_t i = 0; i < byValue.size(); ++i) rank[byValue[i]] = i + 1;
    for (std::size_t row = 0; row < rows; ++row)
        result.codes[row] = hasMissing && values.isMissing(row) ? 0 : rank[result.codes[row]];
    result.levels = static_cast<std::uint32_t>(patterns.size() + 1);
    return result;
}

// Orders `order` (a permutation of the rows, or empty for table order)
// stably by key[row] < levels.
std::vector<std::size_t> countingPass(const std::vector<std::size_t>& order,
                                      const std::vector<std::uint32_t>& key, std::uint64_t levels)
{
    std::vector<std::size_t> start(static_cast<std::size_t>(levels) + 1, 0);
    for (std::uint32_t k : key) ++start[k + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<std::size_t> result(key.size());
    if (order.empty()) {
        for (std::size_t row = 0; row < key.size(); ++row) result[start[key[row]]++] = row;
    } else {
        for (std::size_t row : order) result[start[key[row]]++] = row;
    }
    return result;
}

// Below this many rows the key columns are coded on one thread.
constexpr std::size_t kRowsForThreads = std::size_t{1} << 16;

std::vector<std::optional<KeyCodes>> codesOfColumns(const refhost::Table& table,
                                                    const std::vector<std::size_t>& keyColumns,
                                                    unsigned threads);

}  // namespace

std::optional<KeyCodes> keyCodes(const refhost::Table& table, std::size_t column)
{
    const refhost::ColumnValues& values = table.values(column);
    const std::size_t rows = table.rowCount();
    // Codes, distinct values and their count must fit 32 bits.
    if (rows >= std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    switch (values.kind()) {
    case Kind::Text:
        if (values.dictionary().size() >= std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        return textCodes(values, rows);
    case Kind::Integer: {
        const std::int64_t* v = values.integers().data();
        return numberCodes(
            values, rows, [v](std::size_t row) { return static_cast<std::uint64_t>(v[row]); },
            [](std::uint64_t a, std::uint64_t b) {
                return static_cast<std::int64_t>(a) < static_cast<std::int64_t>(b);
            });
    }
    case Kind::Real: {
        const double* v = values.reals().data();
        const bool hasMissing = values.hasMissing();
        for (std::size_t row = 0; row < rows; ++row)
            if (std::isnan(v[row]) && !(hasMissing && values.isMissing(row))) return std::nullopt;
        // -0.0 + 0.0 is +0.0: the two zeros compare equal and share a code.
        return numberCodes(
            values, rows, [v](std::size_t row) { return std::bit_cast<std::uint64_t>(v[row] + 0.0); },
            [](std::uint64_t a, std::uint64_t b) {
                return std::bit_cast<double>(a) < std::bit_cast<double>(b);
            });
    }
    case Kind::Cells: break;
    }
    return std::nullopt;
}

std::optional<std::vector<std::size_t>> countingOrder(const refhost::Table& table,
                                                      const std::vector<std::size_t>& keyColumns,
                                                      unsigned threads)
{
    const std::size_t rows = table.rowCount();
    std::vector<std::optional<KeyCodes>> found = codesOfColumns(table, keyColumns, threads);
    std::vector<KeyCodes> columns;
    for (std::optional<KeyCodes>& codes : found) {
        if (!codes) return std::nullopt;
        columns.push_back(std::move(*codes));
    }
    if (columns.empty()) {
        std::vector<std::size_t> order(rows);
        std::iota(order.begin(), order.end(), std::size_t{0});
        return order;
    }

    // Adjacent columns are merged into one code (the earlier column the more
    // significant) while the combinations stay within `limit`, so that the
    // count table is no larger than the row order; each merged code is one
    // stable counting pass, the least significant first.
    const std::uint64_t limit = std::max<std::uint64_t>(rows, 1u << 16);
    std::vector<std::size_t> order;   // empty: table order
    std::vector<std::uint32_t> merged = std::move(columns.back().codes);
    std::uint64_t levels = columns.back().levels;
    for (std::size_t c = columns.size() - 1; c-- > 0;) {
        const KeyCodes& next = columns[c];
        if (levels * next.levels <= limit) {
            for (std::size_t row = 0; row < rows; ++row)
                merged[row] = static_cast<std::uint32_t>(next.codes[row] * levels + merged[row]);
            levels *= next.levels;
        } else {
            order = countingPass(order, merged, levels);
            merged = std::move(columns[c].codes);
            levels = columns[c].levels;
        }
        std::vector<std::uint32_t>().swap(columns[c].codes);
    }
    return countingPass(order, merged, levels);
}

namespace {

// The codes of each key column. With several threads and a large table the
// columns are shared out, each thread coding every threads-th column: the
// columns are independent and each is a pass over all rows.
std::vector<std::optional<KeyCodes>> codesOfColumns(const refhost::Table& table,
                                                    const std::vector<std::size_t>& keyColumns,
                                                    unsigned threads)
{
    std::vector<std::optional<KeyCodes>> codes(keyColumns.size());
    const std::size_t shares = table.rowCount() < kRowsForThreads
                                   ? 1
                                   : std::max<std::size_t>(std::min<std::size_t>(threads, keyColumns.size()), 1);
    runShares(shares, [&](std::size_t first) {
        for (std::size_t i = first; i < keyColumns.size(); i += shares) codes[i] = keyCodes(table, keyColumns[i]);
    });
    return codes;
}

}  // namespace

}  // namespace splitrun

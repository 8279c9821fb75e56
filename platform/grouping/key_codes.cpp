#include "key_codes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>
#include <span>
#include <string_view>
#include <utility>

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
// Without missing values the codes are read through the column's own (see
// KeyCodes), so a large table's key takes no fresh memory.
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
    if (dictionary.size() == 0) {   // every value is missing
        result.codes.assign(rows, 0);
        return result;
    }
    const std::uint32_t* codes = values.codes().data();
    if (!values.hasMissing()) {
        result.text = codes;
        result.rank = std::move(rank);
        return result;
    }
    result.codes.resize(rows);
    for (std::size_t row = 0; row < rows; ++row)
        result.codes[row] = values.isMissing(row) ? 0 : rank[codes[row]];
    return result;
}

// Codes of an integer column without missing values whose values span
// fewer than `rows` (and a few million): a rank per value of the span, read
// through the column's own integers, so that neither hashing nor fresh
// memory for the rows' codes is needed. Nothing for any other column.
std::optional<KeyCodes> spanCodes(const refhost::ColumnValues& values, std::size_t rows)
{
    constexpr std::uint64_t kLongestSpan = std::uint64_t{1} << 22;
    if (rows == 0 || values.hasMissing()) return std::nullopt;
    const std::int64_t* v = values.integers().data();
    const auto [low, high] = std::minmax_element(v, v + rows);
    const std::uint64_t span = static_cast<std::uint64_t>(*high) - static_cast<std::uint64_t>(*low);
    if (span >= std::min<std::uint64_t>(rows, kLongestSpan)) return std::nullopt;
    KeyCodes result;
    result.integers = v;
    result.low = *low;
    result.rank.assign(span + 1, 0);
    for (std::size_t row = 0; row < rows; ++row) result.rank[static_cast<std::uint64_t>(v[row] - *low)] = 1;
    std::uint32_t levels = 1;
    for (std::uint32_t& rank : result.rank)
        if (rank != 0) rank = levels++;
    result.levels = levels;
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

// One key column's part in a combined code: the code of a row under
// several columns is the sum of each column's code times its weight, the
// last column weighing 1 and each one before it as much as the
// combinations of the columns after it.
struct KeyPart {
    const KeyCodes* column;
    std::uint64_t weight;
};

[[gnu::always_inline]] inline std::uint32_t combinedCode(std::span<const KeyPart> parts, std::size_t row)
{
    std::uint64_t code = 0;
    for (const KeyPart& part : parts) code += part.column->at(row) * part.weight;
    return static_cast<std::uint32_t>(code);
}

// Orders `order` (a permutation of the rows, or empty for table order)
// stably by the combined code of `parts`, below `levels`. A large table's
// positions are shared out in consecutive ranges, one per thread: each
// thread counts its range's keys, and a key's rows from range s are placed
// after those of the ranges before it, so the order is the one a single
// pass gives. Each thread keeps a count per level, so threads are used
// only while the levels are few against the rows. The result takes the
// block of a key column freed before it, where the caller reuses blocks.
RowOrder countingPass(const RowOrder& order, std::span<const KeyPart> parts, std::size_t rows,
                      std::uint64_t levels, unsigned threads)
{
    std::size_t shares = std::max(1u, threads);
    if (rows < kRowsForThreads || levels * 8 * shares > rows) shares = 1;
    const auto rowAt = [&](std::size_t position) { return order.empty() ? position : order[position]; };
    const auto range = [&](std::size_t share) {
        return std::pair{rows * share / shares, rows * (share + 1) / shares};
    };

    std::vector<std::vector<std::size_t>> next(shares);
    runShares(shares, [&](std::size_t share) {
        std::vector<std::size_t>& counts = next[share];
        counts.assign(static_cast<std::size_t>(levels), 0);
        const auto [begin, end] = range(share);
        for (std::size_t position = begin; position < end; ++position)
            ++counts[combinedCode(parts, rowAt(position))];
    });
    // Counts become first positions: level by level, range by range.
    std::size_t placed = 0;
    for (std::size_t level = 0; level < levels; ++level)
        for (std::vector<std::size_t>& counts : next) placed += std::exchange(counts[level], placed);

    RowOrder result(rows);   // every position is written below
    runShares(shares, [&](std::size_t share) {
        std::size_t* at = next[share].data();
        std::uint32_t* out = result.data();
        const auto [begin, end] = range(share);
        for (std::size_t position = begin; position < end; ++position) {
            const std::size_t row = rowAt(position);
            out[at[combinedCode(parts, row)]++] = static_cast<std::uint32_t>(row);
        }
    });
    return result;
}

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
        if (std::optional<KeyCodes> codes = spanCodes(values, rows)) return codes;
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

std::optional<RowOrder> countingOrder(const refhost::Table& table, const std::vector<std::size_t>& keyColumns,
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
        RowOrder order(rows);
        std::iota(order.begin(), order.end(), std::uint32_t{0});
        return order;
    }

    // Adjacent columns are combined into one code (the earlier column the
    // more significant) while the combinations stay within `limit`, so that
    // the count table is no larger than the row order; each combined code is
    // one stable counting pass, the least significant first. The combined
    // codes are computed as the passes read them, never stored.
    const std::uint64_t limit = std::max<std::uint64_t>(rows, 1u << 16);
    RowOrder order;   // empty: table order
    std::vector<KeyPart> parts{{&columns.back(), 1}};
    std::uint64_t levels = columns.back().levels;
    std::size_t partsEnd = columns.size();   // parts are the columns c + 1 .. partsEnd - 1
    for (std::size_t c = columns.size() - 1; c-- > 0;) {
        if (levels * columns[c].levels <= limit) {
            parts.push_back({&columns[c], levels});
            levels *= columns[c].levels;
            continue;
        }
        order = countingPass(order, parts, rows, levels, threads);
        // The columns just passed are done with: their blocks go back
        // before the next pass takes some.
        for (std::size_t passed = c + 1; passed < partsEnd; ++passed)
            refhost::ColumnVector<std::uint32_t>().swap(columns[passed].codes);
        partsEnd = c + 1;
        parts.assign({{&columns[c], 1}});
        levels = columns[c].levels;
    }
    return countingPass(order, parts, rows, levels, threads);
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

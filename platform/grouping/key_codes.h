// Grouping rows by split key in linear time: every key value gets a small
// code that sorts like the value, and the rows are ordered by counting.
#ifndef SPLITRUN_KEY_CODES_H
#define SPLITRUN_KEY_CODES_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <refhost/column_allocator.h>
#include <refhost/table.h>

namespace splitrun {

// A permutation of a table's rows, in 32-bit row numbers (a loaded table
// has fewer rows than that; see sortedByKey). A large table's order runs to
// 4 bytes per row; column storage gives it huge pages and leaves it
// uncleared until the counting pass writes it.
using RowOrder = refhost::ColumnVector<std::uint32_t>;

// The rank codes of one key column: at(row) is 0 for a missing value and
// otherwise 1 + the rank of the value among the column's distinct values
// (strings bytewise, numbers numerically), so that two rows' codes compare
// as their values do. `levels` is one more than the largest code possible.
// A text column without missing values keeps no codes of its own: a row's
// code is the rank of its dictionary code, read through the column, which
// must outlive this.
struct KeyCodes {
    refhost::ColumnVector<std::uint32_t> codes;   // empty when `text` or `integers` is set
    std::uint32_t levels = 1;
    const std::uint32_t* text = nullptr;          // the column's dictionary codes
    const std::int64_t* integers = nullptr;       // the column's integers, each at least `low`
    std::int64_t low = 0;
    std::vector<std::uint32_t> rank;              // by dictionary code, or by integer less `low`

    std::uint32_t at(std::size_t row) const {
        if (text != nullptr) return rank[text[row]];
        if (integers != nullptr) return rank[static_cast<std::uint64_t>(integers[row] - low)];
        return codes[row];
    }
};

// The codes of column `column`, or nothing when codes cannot order it
// exactly as the comparison does: a column of mixed cells, or reals holding
// a NaN (which compares equal to every number).
std::optional<KeyCodes> keyCodes(const refhost::Table& table, std::size_t column);

// Row indices of `table` ordered by the values of `keyColumns` (missing
// first, numbers numerically, strings bytewise), rows with equal keys in
// table order: the order a stable comparison sort gives, found by counting
// passes over the key codes in time linear in the rows (plus sorting each
// column's distinct values). Nothing when a key column has no exact codes.
// The key columns of a large table are coded, and its rows counted and
// placed, on up to `threads` threads.
std::optional<RowOrder> countingOrder(const refhost::Table& table,
                                                      const std::vector<std::size_t>& keyColumns,
                                                      unsigned threads = 1);

}  // namespace splitrun

#endif

// platform/grouping: bringing the records of each split group together.
// Owns the order of a loaded table by split key (this header, key_codes.h),
// grouping that does not fit in memory through spool files
// (external_grouping.h, record_spool.h), and the key and levels of each
// group (group_keys.h, group_levels.h). May include platform/csv,
// platform/common, refhost/ and splitmodels/; never engines, output or
// commands.
//
// Bringing the records of each split group together before distribution.
#ifndef SPLITRUN_GROUP_ORDER_H
#define SPLITRUN_GROUP_ORDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <refhost/table.h>

#include "csv_table.h"
#include "key_codes.h"

namespace splitrun {

// Orders two cells of one column: missing first, numbers numerically,
// strings bytewise. Negative, zero or positive like strcmp.
int compareCells(const refhost::Cell& a, const refhost::Cell& b);

// Row indices of `table` in a stable order by the values of `keyColumns`:
// by counting over key codes (see key_codes.h) where the key columns allow
// it, by comparisons otherwise. Both give the same order. Counting codes
// the key columns on up to `threads` threads. A table of more rows than a
// RowOrder can number is refused with InputError.
RowOrder sortedByKey(const refhost::Table& table, const std::vector<std::size_t>& keyColumns, unsigned threads = 1);

// The same order by a stable comparison sort with compareCells' order.
RowOrder sortedByComparison(const refhost::Table& table, const std::vector<std::size_t>& keyColumns);

// Marks in changed[i] whether row first + i holds another key than the row
// before it (first >= 1; first + changed.size() at most the table's rows).
void markKeyChanges(const refhost::Table& table, const std::vector<std::size_t>& keyColumns,
                    std::size_t first, std::vector<unsigned char>& changed);
// Checks that rows with equal keys are adjacent in the table's order.
// Throws InputError naming the key, the line where its group first started,
// and the line where it reappears (lines[i] is the source line of row i).
// The rows are compared on up to `threads` threads.
void checkGrouped(const refhost::Table& table, const std::vector<std::size_t>& keyColumns,
                  const SourceLines& lines, const std::string& sourceName, unsigned threads = 1);

// The value as the input wrote it: dates, times and timestamps in their
// text forms, numbers in decimal, strings as they are; missing is empty.
std::string cellText(const refhost::Cell& cell, int storage);

// "name=value, name=value" for the key of row `row`; a missing value reads
// <missing> and an empty string "".
std::string describeKey(const refhost::Table& table, const std::vector<std::size_t>& keyColumns,
                        std::size_t row);

}  // namespace splitrun

#endif

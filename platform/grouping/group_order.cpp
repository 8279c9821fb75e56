#include "group_order.h"

#include <algorithm>
#include <limits>
#include <map>
#include <numeric>

#include "errors.h"
#include "key_codes.h"
#include "thread_shares.h"
#include "value_parsing.h"

namespace splitrun {

namespace {

template <typename T>
int compareNumbers(T x, T y) { return (x > y) - (x < y); }

// compareCells for two values of one column, read from the column's storage.
int compareValues(const refhost::Table& table, std::size_t column, std::size_t a, std::size_t b)
{
    using Kind = refhost::ColumnValues::Kind;
    const refhost::ColumnValues& values = table.values(column);
    if (values.kind() == Kind::Cells) return compareCells(table.at(a, column), table.at(b, column));
    const bool missingA = values.isMissing(a);
    const bool missingB = values.isMissing(b);
    if (missingA || missingB) return int(missingB) - int(missingA);
    switch (values.kind()) {
    case Kind::Integer: return compareNumbers(values.integers()[a], values.integers()[b]);
    case Kind::Real: return compareNumbers(values.reals()[a], values.reals()[b]);
    default: break;
    }
    const std::uint32_t codeA = values.codes()[a];
    const std::uint32_t codeB = values.codes()[b];
    if (codeA == codeB) return 0;
    const int order = values.dictionary().at(codeA).compare(values.dictionary().at(codeB));   // bytewise
    return (order > 0) - (order < 0);
}

int compareKeys(const refhost::Table& table, const std::vector<std::size_t>& keyColumns,
                std::size_t a, std::size_t b)
{
    for (std::size_t column : keyColumns) {
        const int order = compareValues(table, column, a, b);
        if (order != 0) return order;
    }
    return 0;
}

}  // namespace

// Columns without missing values are compared as plain arrays, a block of
// rows at a time; the rest value by value.
void markKeyChanges(const refhost::Table& table, const std::vector<std::size_t>& keyColumns,
                    std::size_t first, std::vector<unsigned char>& changed)
{
    std::fill(changed.begin(), changed.end(), 0);
    const std::size_t count = changed.size();
    using Kind = refhost::ColumnValues::Kind;
    for (std::size_t column : keyColumns) {
        const refhost::ColumnValues& values = table.values(column);
        const Kind kind = values.kind();
        if (kind == Kind::Cells || values.hasMissing()) {
            for (std::size_t i = 0; i < count; ++i)
                changed[i] |= !table.sameValue(first + i, first + i - 1, column);
        } else if (kind == Kind::Integer) {
            const std::int64_t* v = values.integers().data() + first;
            for (std::size_t i = 0; i < count; ++i) changed[i] |= v[i] != v[i - 1];
        } else if (kind == Kind::Real) {
            const double* v = values.reals().data() + first;
            for (std::size_t i = 0; i < count; ++i) changed[i] |= !(v[i] == v[i - 1]);
        } else {
            const std::uint32_t* v = values.codes().data() + first;
            for (std::size_t i = 0; i < count; ++i) changed[i] |= v[i] != v[i - 1];
        }
    }
}

std::string cellText(const refhost::Cell& cell, int storage)
{
    // Only a whole number within the 64-bit range is cast; a real beyond it
    // (or not finite) is no date or time and is written as a number.
    const bool castable = cell.isReal() && cell.asReal() >= -9.2e18 && cell.asReal() <= 9.2e18;
    if (castable) {
        const auto whole = static_cast<std::int64_t>(cell.asReal());
        if (static_cast<double>(whole) == cell.asReal()) {
            if (storage == static_cast<int>(Storage::Date)) return formatDate(whole);
            if (storage == static_cast<int>(Storage::Time)) return formatTime(whole);
            if (storage == static_cast<int>(Storage::Timestamp)) return formatTimestamp(whole);
        }
    }
    return cell.toString();
}

int compareCells(const refhost::Cell& a, const refhost::Cell& b)
{
    if (a.isMissing() || b.isMissing()) return int(b.isMissing()) - int(a.isMissing());
    if (a.isText() && b.isText()) {
        const int order = a.asText().compare(b.asText());   // bytewise, unsigned
        return (order > 0) - (order < 0);
    }
    if (a.isText() != b.isText()) return a.isText() ? 1 : -1;
    if (a.isInteger() && b.isInteger())
        return (a.asInteger() > b.asInteger()) - (a.asInteger() < b.asInteger());
    const double x = a.isInteger() ? double(a.asInteger()) : a.asReal();
    const double y = b.isInteger() ? double(b.asInteger()) : b.asReal();
    return (x > y) - (x < y);
}

RowOrder sortedByKey(const refhost::Table& table, const std::vector<std::size_t>& keyColumns, unsigned threads)
{
    if (std::optional<RowOrder> order = countingOrder(table, keyColumns, threads))
        return std::move(*order);
    return sortedByComparison(table, keyColumns);
}

RowOrder sortedByComparison(const refhost::Table& table, const std::vector<std::size_t>& keyColumns)
{
    if (table.rowCount() > std::numeric_limits<std::uint32_t>::max())
        throw InputError("more than 4,294,967,295 records cannot be loaded and ordered; give --memory-limit "
                         "below the file's size so that they are grouped on disk");
    RowOrder order(table.rowCount());
    std::iota(order.begin(), order.end(), std::uint32_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return compareKeys(table, keyColumns, a, b) < 0;
    });
    return order;
}

namespace {

// The rows (>= 1) whose key differs from the row before's, in order; each
// of `threads` threads marks the changes of its own share of the rows.
std::vector<std::size_t> keyChanges(const refhost::Table& table, const std::vector<std::size_t>& keyColumns,
                                    unsigned threads)
{
    const std::size_t rows = table.rowCount();
    if (rows < 2) return {};
    const std::size_t shares = rows < kRowsForThreads ? 1 : std::max(1u, threads);
    std::vector<std::vector<std::size_t>> found(shares);
    runShares(shares, [&](std::size_t share) {
        constexpr std::size_t kBlock = 4096;
        const std::size_t begin = 1 + (rows - 1) * share / shares;
        const std::size_t end = 1 + (rows - 1) * (share + 1) / shares;
        std::vector<unsigned char> changed;
        for (std::size_t row = begin; row < end; row += kBlock) {
            changed.resize(std::min(kBlock, end - row));
            markKeyChanges(table, keyColumns, row, changed);
            for (std::size_t i = 0; i < changed.size(); ++i)
                if (changed[i]) found[share].push_back(row + i);
        }
    });
    std::vector<std::size_t> all = std::move(found.front());
    for (std::size_t share = 1; share < shares; ++share)
        all.insert(all.end(), found[share].begin(), found[share].end());
    return all;
}

}  // namespace

void checkGrouped(const refhost::Table& table, const std::vector<std::size_t>& keyColumns,
                  const SourceLines& lines, const std::string& sourceName, unsigned threads)
{
    // Start row of every group that has ended, by key.
    auto less = [&](std::size_t a, std::size_t b) { return compareKeys(table, keyColumns, a, b) < 0; };
    std::map<std::size_t, std::size_t, decltype(less)> finished(less);
    std::size_t groupStart = 0;
    for (const std::size_t row : keyChanges(table, keyColumns, threads)) {
        finished.emplace(groupStart, groupStart);
        groupStart = row;
        const auto earlier = finished.find(row);
        if (earlier != finished.end())
            throw InputError(sourceName + ":" + std::to_string(lines[row]) + ": the split key " +
                             describeKey(table, keyColumns, row) + " first appears at line " +
                             std::to_string(lines[earlier->second]) + " and reappears at line " +
                             std::to_string(lines[row]) +
                             " after another group started, so the file is not grouped by the "
                             "split fields; drop --presorted to let split-run sort the records");
    }
}

std::string describeKey(const refhost::Table& table, const std::vector<std::size_t>& keyColumns,
                        std::size_t row)
{
    std::string text;
    for (std::size_t column : keyColumns) {
        if (!text.empty()) text += ", ";
        const refhost::Cell& cell = table.at(row, column);
        text += table.columns()[column].name + "=";
        if (cell.isMissing())
            text += "<missing>";
        else if (cell.isText() && cell.asText().empty())
            text += "\"\"";
        else
            text += cellText(cell, table.columns()[column].storage);
    }
    return text;
}

}  // namespace splitrun

#include "group_keys.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <set>

namespace splitrun {

namespace {

std::string realText(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// The value of row `r` of a column, as a split value.
splitmodels::SplitValue valueAt(const refhost::Column& column, const refhost::ColumnSlice& values, std::size_t r)
{
    splitmodels::SplitValue value;
    value.field = column.name;
    value.storage = column.storage;
    if (values.isMissing(r)) {
        value.missing = true;
        return value;
    }
    using Kind = refhost::ColumnValues::Kind;
    switch (values.kind()) {
    case Kind::Real: value.value = realText(values.reals()[r]); break;
    case Kind::Integer: value.value = std::to_string(values.integers()[r]); break;
    case Kind::Text: value.value = values.dictionary().at(values.codes()[r]); break;
    case Kind::Cells: {
        const refhost::Cell& cell = values.cells()[r];
        if (cell.isText()) value.value = std::string(cell.asText());
        else if (cell.isInteger()) value.value = std::to_string(cell.asInteger());
        else value.value = realText(cell.asReal());
        break;
    }
    }
    return value;
}

// A split column as the comparison of neighbouring rows reads it.
struct KeyColumn {
    refhost::ColumnSlice values;
    bool anyMissing;  // false: no row's missing flag needs a look
};

// Whether rows r and r - 1 hold the same value of one key column in the
// same form (reals bit for bit, so that -0 and 0 stay apart).
bool sameAsRowBefore(const KeyColumn& column, std::size_t r)
{
    using Kind = refhost::ColumnValues::Kind;
    const refhost::ColumnSlice& values = column.values;
    if (column.anyMissing) {
        const bool missing = values.isMissing(r);
        if (missing != values.isMissing(r - 1)) return false;
        if (missing) return true;
    }
    switch (values.kind()) {
    case Kind::Integer: return values.integers()[r] == values.integers()[r - 1];
    case Kind::Real:
        return std::bit_cast<std::uint64_t>(values.reals()[r]) == std::bit_cast<std::uint64_t>(values.reals()[r - 1]);
    case Kind::Text: return values.codes()[r] == values.codes()[r - 1];
    case Kind::Cells: return false;
    }
    return false;
}

template <typename T, typename Same>
std::size_t firstChange(const T* v, std::size_t from, std::size_t end, Same same)
{
    for (std::size_t r = from; r < end; ++r)
        if (!same(v[r], v[r - 1])) return r;
    return end;
}

// The first row of [from, end) whose value of the column differs from the
// row before's (from >= 1); `end` when there is none. A column without
// missing values is scanned as a plain array.
std::size_t firstChange(const KeyColumn& column, std::size_t from, std::size_t end)
{
    using Kind = refhost::ColumnValues::Kind;
    const refhost::ColumnSlice& values = column.values;
    const auto equal = [](auto a, auto b) { return a == b; };
    if (!column.anyMissing) switch (values.kind()) {
        case Kind::Integer: return firstChange(values.integers().data(), from, end, equal);
        case Kind::Real:
            return firstChange(values.reals().data(), from, end, [](double a, double b) {
                return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
            });
        case Kind::Text: return firstChange(values.codes().data(), from, end, equal);
        case Kind::Cells: break;
        }
    for (std::size_t r = from; r < end; ++r)
        if (!sameAsRowBefore(column, r)) return r;
    return end;
}

}  // namespace

std::vector<SplitKey> distinctSplitKeys(const refhost::TableRows& records, const std::vector<std::string>& splitFields)
{
    std::vector<std::size_t> columns;
    for (const std::string& name : splitFields)
        for (std::size_t c = 0; c < records.columns().size(); ++c)
            if (records.columns()[c].name == name) columns.push_back(c);
    std::vector<KeyColumn> compared;
    for (std::size_t c : columns) compared.push_back({records.values(c), records.values(c).hasMissing()});
    std::vector<SplitKey> keys;
    std::set<std::string> seen;
    const std::size_t rows = records.rowCount();
    for (std::size_t r = 0, next = 0; r < rows; r = next) {
        // Rows holding the row before's key in the same form add no key.
        next = rows;
        for (const KeyColumn& column : compared) next = firstChange(column, r + 1, next);
        SplitKey key;
        std::string identity;
        for (std::size_t c : columns) {
            key.push_back(valueAt(records.columns()[c], records.values(c), r));
            const splitmodels::SplitValue& value = key.back();
            identity += value.missing ? 'm' : 'v';
            identity += std::to_string(value.value.size()) + ':' + value.value;
        }
        if (seen.insert(identity).second) keys.push_back(std::move(key));
    }
    return keys;
}

}  // namespace splitrun

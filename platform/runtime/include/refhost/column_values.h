// The values of one table column, stored by kind: 64-bit integers, doubles,
// or dictionary-coded strings, with a bitmap of missing values. Values that
// fit none of these (a table filled with raw rows may hold any cell in any
// column) turn the column into a plain list of cells.
#ifndef REFHOST_COLUMN_VALUES_H
#define REFHOST_COLUMN_VALUES_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "refhost/cell.h"
#include "refhost/column_allocator.h"

namespace refhost {

// Distinct strings, each stored once in one byte buffer and numbered in the
// order they were first added. Strings may contain zero bytes.
class TextDictionary {
public:
    // The code of text, adding it when it is new.
    uint32_t intern(std::string_view text);
    std::string_view at(uint32_t code) const {
        return std::string_view(bytes_.data() + offsets_[code], offsets_[code + 1] - offsets_[code]);
    }
    size_t size() const { return offsets_.size() - 1; }
    size_t longest() const { return longest_; }

private:
    void grow();

    std::string bytes_;
    std::vector<uint64_t> offsets_{0};
    // Open addressing over codes + 1 (0 marks an empty slot).
    std::vector<uint32_t> slots_;
    size_t longest_ = 0;
};

// Spare storage for ColumnValues::permute, reused from column to column: a
// column is gathered into the buffer of its kind, and its old storage
// becomes the buffer for the next column, so that reordering a table
// touches one column's worth of fresh memory instead of one per column.
// Not shared between threads.
struct PermuteBuffers {
    ColumnVector<int64_t> integers;
    ColumnVector<double> reals;
    ColumnVector<uint32_t> codes;
    std::vector<uint64_t> missing;
};

class ColumnValues {
public:
    enum class Kind { Integer, Real, Text, Cells };

    explicit ColumnValues(Kind kind = Kind::Cells) : kind_(kind) {}
    // The kind a column of the given storage code keeps its values in.
    static Kind kindFor(int storage);

    Kind kind() const { return kind_; }
    size_t size() const { return size_; }
    void reserve(size_t rows);

    // Appends of a value of the column's own kind (the caller checks).
    void appendInteger(int64_t value) { ints_.push_back(value); ++size_; }
    void appendReal(double value) { reals_.push_back(value); ++size_; }
    void appendText(std::string_view text) { codes_.push_back(dict_.intern(text)); ++size_; }
    void appendCode(uint32_t code) { codes_.push_back(code); ++size_; }
    void appendMissing();
    // Appends any cell: one that does not fit the column's kind turns the
    // column into a list of cells first.
    void append(const Cell& cell);
    // Appends value `row` of `other`, which has the same kind.
    void appendFrom(const ColumnValues& other, size_t row);
    // Appends values first .. first+count-1 of `other` (any kind); of the
    // same kind, numbers are copied as one block.
    void appendRange(const ColumnValues& other, size_t first, size_t count);
    // Appends every value of `other` (any kind).
    void appendAll(const ColumnValues& other);

    bool isMissing(size_t row) const {
        if (kind_ == Kind::Cells) return cells_[row].isMissing();
        return (row >> 6) < missing_.size() && ((missing_[row >> 6] >> (row & 63)) & 1u) != 0;
    }
    bool hasMissing() const;
    // Whether a value of rows first .. first+count-1 is missing.
    bool hasMissing(size_t first, size_t count) const;
    Cell cell(size_t row) const;
    // The bytes an iterator hands out for the value: 8 bytes for numbers,
    // the string's bytes for text, null when missing. They stay where they
    // are while the column is not changed.
    // Defined here, since the host's iterators ask for it once per value.
    const void* bytes(size_t row, size_t* length) const {
        if (kind_ == Kind::Cells) return cellBytes(row, length);
        if (isMissing(row)) {
            *length = 0;
            return nullptr;
        }
        if (kind_ == Kind::Real) {
            *length = 8;
            return &reals_[row];
        }
        if (kind_ == Kind::Integer) {
            *length = 8;
            return &ints_[row];
        }
        const std::string_view text = dict_.at(codes_[row]);
        *length = text.size();
        return text.data();
    }

    // Typed access (valid for the column's kind; missing values hold 0).
    const ColumnVector<int64_t>& integers() const { return ints_; }
    const ColumnVector<double>& reals() const { return reals_; }
    const ColumnVector<uint32_t>& codes() const { return codes_; }
    const TextDictionary& dictionary() const { return dict_; }
    const std::vector<Cell>& cells() const { return cells_; }

    // Integers become doubles in place (a column found to hold reals).
    void integersToReals();
    // Reorders the values: value i becomes the old value order[i]. Row
    // numbers are 32 bits: a row order is as large as a column of codes,
    // half a column of numbers.
    void permute(std::span<const uint32_t> order);
    // The same, gathering into `buffers` and leaving the old storage there;
    // a large column's rows are gathered by `threads` threads.
    void permute(std::span<const uint32_t> order, PermuteBuffers& buffers, unsigned threads = 1);
    // Frees spare capacity.
    void shrink();
    // Removes every value, keeping the storage's capacity for the next.
    void clear();

    bool operator==(const ColumnValues& other) const;

private:
    const void* cellBytes(size_t row, size_t* length) const;
    void setMissing(size_t row);
    void toCells();

    Kind kind_;
    size_t size_ = 0;
    ColumnVector<int64_t> ints_;
    ColumnVector<double> reals_;
    ColumnVector<uint32_t> codes_;
    TextDictionary dict_;
    std::vector<Cell> cells_;
    std::vector<uint64_t> missing_;  // empty while nothing is missing
};

}  // namespace refhost

#endif

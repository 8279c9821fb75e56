// One value of a host record: missing, a 64-bit integer, a double, or
// string bytes (which may contain zero bytes).
#ifndef REFHOST_CELL_H
#define REFHOST_CELL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

namespace refhost {

class Cell {
public:
    Cell() = default;  // missing
    static Cell missing() { return Cell(); }
    static Cell integer(int64_t v) { Cell c; c.v_ = v; return c; }
    static Cell real(double v) { Cell c; c.v_ = v; return c; }
    static Cell text(std::string v) { Cell c; c.v_ = std::move(v); return c; }

    bool isMissing() const { return std::holds_alternative<std::monostate>(v_); }
    bool isInteger() const { return std::holds_alternative<int64_t>(v_); }
    bool isReal() const { return std::holds_alternative<double>(v_); }
    bool isText() const { return std::holds_alternative<std::string>(v_); }
    int64_t asInteger() const { return std::get<int64_t>(v_); }
    double asReal() const { return std::get<double>(v_); }
    const std::string& asText() const { return std::get<std::string>(v_); }

    // The value's bytes as a host iterator hands them out: 8 bytes for
    // numbers, the string's bytes for text; null for a missing value. Text of
    // length 0 still yields a non-null pointer.
    const void* bytes() const;
    size_t length() const;

    // Readable rendering (integers in decimal, reals shortest round-trip,
    // text as is, missing as the empty text).
    std::string toString() const;

    bool operator==(const Cell& other) const = default;

private:
    std::variant<std::monostate, int64_t, double, std::string> v_;
};

}  // namespace refhost

#endif

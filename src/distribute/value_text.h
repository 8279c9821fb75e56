// Texts of split-field values in the worker task document.
#ifndef SPLIT_DISTRIBUTE_VALUE_TEXT_H
#define SPLIT_DISTRIBUTE_VALUE_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace split {

// Decimal, a minus sign for negatives, no leading zeros, no grouping.
std::string IntegerText(int64_t value);

// Fixed notation with exactly 16 digits after the decimal point, complete
// however many digits stand before it; the separator is a point in every
// locale.
std::string RealText(double value);

// The bytes up to the reported length or the first zero byte, whichever
// comes first.
std::string StringText(const char* bytes, size_t length);

}  // namespace split

#endif

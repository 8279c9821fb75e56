// Numbers as the documents and tables write them: 17 significant digits,
// the text of printf's "%.17g".
#pragma once

#include <cstddef>

namespace splitmodels {

// Room for any number's text.
constexpr std::size_t kNumberTextSize = 32;

// Writes `value` as "%.17g" writes it into `out` (at least kNumberTextSize
// bytes) and returns the end of the text. Values from 1e-6 to 2^127 take
// a short path in exact 128-bit integer arithmetic; the rest (and zeros,
// infinities and NaN) go through std::to_chars, which writes the same.
char* writeNumber17(char* out, double value);

}  // namespace splitmodels

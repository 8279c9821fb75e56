#include "distribute/value_text.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace split {

std::string IntegerText(int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

std::string RealText(double value) {
    // Measure first: a value of magnitude 1e300 has over 300 digits before
    // the point, and every one of them is kept.
    const int length = std::snprintf(nullptr, 0, "%.16f", value);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, "%.16f", value);
    // printf follows the process locale; the document always uses a point.
    if (const size_t comma = text.find(','); comma != std::string::npos) text[comma] = '.';
    return text;
}

std::string StringText(const char* bytes, size_t length) {
    return std::string(bytes, strnlen(bytes, length));
}

}  // namespace split

// Number and calendar texts: rendering numbers so they round-trip, and
// reading numbers, dates, times and timestamps strictly (the whole text must
// be consumed, surrounding blanks aside).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace splitmodels::detail {

// "%.17g": enough digits for every double to read back to itself.
std::string formatNumber(double value);
// Appends formatNumber(value) to `out` without a temporary string.
void appendNumber(std::string& out, double value);
std::string formatInteger(std::int64_t value);
// The shortest text that reads back to exactly `value` (std::to_chars).
std::string formatShortest(double value);
// Appends formatShortest(value) to `out` without a temporary string.
void appendShortest(std::string& out, double value);

// True when XML 1.0 can hold `text` as it is: valid UTF-8 without control
// characters other than tab, line feed and carriage return, and without the
// non-characters U+FFFE and U+FFFF.
bool xmlCanHold(std::string_view text);
// `text` with '%' and every byte of a character XML cannot hold written as
// %XX (two upper-case hex digits); the result is plain ASCII where it was
// not, and decodes back to `text` byte for byte.
std::string percentEncode(std::string_view text);
// The inverse of percentEncode; nothing when a '%' is not followed by two
// hex digits.
std::optional<std::string> percentDecode(std::string_view text);

// A finite decimal number, or a 64-bit integer, filling the whole text (one
// leading '+' allowed, no surrounding blanks; a decimal too small for a
// double reads as zero): the texts split-run's CSV reading takes as numbers,
// so that a cell reads alike at build and score.
std::optional<double> parseNumber(std::string_view text);
std::optional<std::int64_t> parseInteger(std::string_view text);

// Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
// REQUIRES: |year| <= kMaxCivilYear (beyond it the arithmetic would overflow).
constexpr std::int64_t kMaxCivilYear = 1'000'000'000;
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day);

// "YYYY-MM-DD" → days since 1970-01-01.
std::optional<double> parseDateText(std::string_view text);
// "HH:MM:SS" or "HH:MM:SS.fff" → seconds since midnight.
std::optional<double> parseTimeText(std::string_view text);
// "YYYY-MM-DD HH:MM:SS[.fff]", also with "T" between and a trailing "Z"
// → seconds since 1970-01-01 00:00:00 UTC.
std::optional<double> parseTimestampText(std::string_view text);

// The number a data-model storage code gives to `text`: a plain number for
// every numeric storage; for date, time and timestamp storage also their
// calendar texts. Empty for string storage and for texts that do not read.
std::optional<double> numberForStorage(int storage, std::string_view text);

// A category text of a numeric field in one canonical form ("%.17g", or the
// integer for integer storage), so that "1", "1.0" and "1.0000000000000000"
// are written alike. Texts that do not read as numbers are returned as they
// are.
std::string canonicalCategory(int storage, const std::string& text);

}  // namespace splitmodels::detail

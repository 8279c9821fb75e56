// Strict parsers of the value texts split-run recognises in CSV cells, and
// the storage kinds they map to. A parser accepts the whole text or nothing:
// surrounding spaces, trailing garbage and impossible calendar dates fail.
#ifndef SPLITRUN_VALUE_PARSING_H
#define SPLITRUN_VALUE_PARSING_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace splitrun {

// Storage codes of the platform's data model.
enum class Storage : int { None = 0, Integer = 1, Real = 2, String = 3, Date = 4, Time = 5, Timestamp = 6 };

// Measure codes of the platform's data model.
enum class Measure : int { None = 0, Continuous = 1, Flag = 2, Nominal = 3, Ordinal = 4, Categorical = 5 };

const char* storageName(Storage storage);
const char* measureName(Measure measure);
Storage storageFromName(std::string_view name);   // None for unknown texts

// True when the bytes are valid UTF-8 (no overlong forms, surrogates or
// code points beyond U+10FFFF).
bool isUtf8(std::string_view text);

// A signed 64-bit decimal integer with an optional sign.
std::optional<std::int64_t> parseInteger(std::string_view text);
// A decimal floating-point number (exponent allowed), or an infinity written
// Inf, -Inf, inf or Infinity (as R and other tools write them). A decimal
// too small for a double reads as zero and one too large as an infinity, as
// R reads them; nan is not a number.
std::optional<double> parseReal(std::string_view text);
// Reads a decimal number ("-12.345678", "1.5e-7": sign, digits, point,
// digits, exponent) from the start of [p, end) when it can be converted
// exactly the quick way: at most 19 significant digits making at most 2^53,
// and a power of ten within 10^-22 to 10^22. Sets *stop after it; nothing
// for any other text, which the caller hands to parseReal. What may follow
// is the caller's to judge; parseReal gives the same value, bit for bit, for
// the same text.
std::optional<double> parsePlainDecimalPrefix(const char* p, const char* end, const char** stop);
// The same, for loops over many values: sets *value and *stop and returns
// true, or returns false and leaves both alone. (A bool and a double out
// of the call, rather than an optional, keep the result in registers.)
bool readDecimalPrefix(const char* p, const char* end, double* value, const char** stop);
// Reads a decimal integer of at most 18 digits, with an optional sign, from
// the start of [p, end): sets *value and *stop after it and returns true,
// or returns false and leaves both alone (no digits, or a 19th digit, which
// the caller hands to parseInteger). What may follow is the caller's to
// judge; parseInteger gives the same value for the same text.
bool readIntegerPrefix(const char* p, const char* end, std::int64_t* value, const char** stop);
// YYYY-MM-DD, a valid Gregorian date, as days since 1970-01-01.
std::optional<std::int64_t> parseDate(std::string_view text);
// HH:MM:SS (00:00:00 to 23:59:59), as seconds since midnight.
std::optional<std::int64_t> parseTime(std::string_view text);
// YYYY-MM-DD HH:MM:SS or YYYY-MM-DDTHH:MM:SS, as seconds since 1970-01-01 UTC.
std::optional<std::int64_t> parseTimestamp(std::string_view text);

// The number a non-string storage keeps for the text, or nothing when the
// text does not read as that storage. Integers come back as doubles here.
std::optional<double> parseNumber(Storage storage, std::string_view text);

// Days since 1970-01-01 of a Gregorian date (proleptic; no validation).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day);

// The text forms the parsers read, back from the stored numbers: YYYY-MM-DD
// for days, HH:MM:SS for seconds of a day, and both joined by a space.
std::string formatDate(std::int64_t days);
std::string formatTime(std::int64_t seconds);
std::string formatTimestamp(std::int64_t seconds);

}  // namespace splitrun

#endif

#include "value_parsing.h"

#include "decimal_words.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <limits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <stdlib.h>

namespace splitrun {

namespace {

struct NamedCode {
    const char* name;
    int code;
};

constexpr NamedCode kStorages[] = {{"integer", 1}, {"real", 2},  {"string", 3},
                                   {"date", 4},    {"time", 5},  {"timestamp", 6}};
constexpr NamedCode kMeasures[] = {{"continuous", 1}, {"flag", 2}, {"nominal", 3},
                                   {"ordinal", 4},    {"categorical", 5}};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly `width` digits at `pos`.
std::optional<unsigned> digits(std::string_view text, std::size_t pos, std::size_t width)
{
    if (pos + width > text.size()) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
        if (!isDigit(text[i])) return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

bool isLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned daysInMonth(unsigned year, unsigned month)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// The text without one leading '+', which from_chars does not accept.
std::string_view withoutPlus(std::string_view text)
{
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text[0] == '-' || text[0] == '+')) return {};
    }
    return text;
}

}  // namespace

const char* storageName(Storage storage)
{
    for (const NamedCode& s : kStorages)
        if (s.code == static_cast<int>(storage)) return s.name;
    return "";
}

const char* measureName(Measure measure)
{
    for (const NamedCode& m : kMeasures)
        if (m.code == static_cast<int>(measure)) return m.name;
    return "";
}

Storage storageFromName(std::string_view name)
{
    for (const NamedCode& s : kStorages)
        if (name == s.name) return static_cast<Storage>(s.code);
    return Storage::None;
}

std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::string formatDate(std::int64_t days)
{
    // Inverse of daysFromCivil.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day));
    return text;
}

std::string formatTime(std::int64_t seconds)
{
    seconds = ((seconds % 86400) + 86400) % 86400;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

std::string formatTimestamp(std::int64_t seconds)
{
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    return formatDate(days) + " " + formatTime(seconds - days * 86400);
}

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    text = withoutPlus(text);
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

namespace {

// Decimals that parsePlainDecimalPrefix reads exactly, filling the whole
// text. Nothing for anything else.
std::optional<double> plainDecimal(std::string_view text)
{
    const char* stop = nullptr;
    const auto value = parsePlainDecimalPrefix(text.data(), text.data() + text.size(), &stop);
    if (!value || stop != text.data() + text.size()) return std::nullopt;
    return value;
}

constexpr int kMaxSignificantDigits = 19;   // below 10^19, within a uint64
constexpr std::uint64_t kExactMantissa = std::uint64_t{1} << 53;
constexpr int kExactPower = 22;              // 10^22 is the largest exact power of ten

using decimalwords::eightDigitValue;
using decimalwords::kIntPowers;
using decimalwords::kPowers;
using decimalwords::leadingDigits;

// Whether the 8 bytes at p are all digits, and the word they make.
inline bool eightDigits(const char* p, std::uint64_t* chunk)
{
    *chunk = decimalwords::loadDigits(p);
    return decimalwords::nonDigits(*chunk) == 0;
}

// Appends the digits at p to *mantissa; returns the position after them.
// Unsigned arithmetic wraps harmlessly on a run too long to keep: the
// caller counts the digits and refuses such a run. A long run goes 8
// digits at a time; the short fields of most files, one by one.
inline const char* appendDigits(const char* p, const char* end, std::uint64_t* mantissa)
{
    std::uint64_t m = *mantissa;
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t chunk = 0;
        while (end - p >= 8 && eightDigits(p, &chunk)) {
            m = m * 100000000u + eightDigitValue(chunk);
            p += 8;
        }
    }
    for (unsigned d; p != end && (d = static_cast<unsigned char>(*p) - '0') < 10; ++p) m = m * 10 + d;
    *mantissa = m;
    return p;
}

// Whether the digits of [p, end), a point among them, hold more than 19
// significant digits (leading zeros do not count).
bool tooManyDigits(const char* p, const char* end)
{
    while (p != end && (*p == '0' || *p == '.')) ++p;
    return end - p - (std::find(p, end, '.') != end) > kMaxSignificantDigits;
}

// The general quick path: any number of digits in 8-byte steps, leading
// zeros, an exponent. Kept out of line, so that the short path stays small.
[[gnu::noinline]] bool longDecimalPrefix(const char* p, const char* end, double* result, const char** stop)
{
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    const char* const start = p;
    std::uint64_t mantissa = 0;
    p = appendDigits(p, end, &mantissa);
    std::ptrdiff_t digits = p - start;
    std::ptrdiff_t exponent = 0;
    if (p != end && *p == '.') {
        const char* const fractionStart = ++p;
        p = appendDigits(p, end, &mantissa);
        exponent = -(p - fractionStart);
        digits -= exponent;
    }
    if (digits == 0) return false;
    // The mantissa is right while there are at most 19 significant digits;
    // leading zeros only add to the count in the rare long texts.
    if (digits > kMaxSignificantDigits && tooManyDigits(start, p)) return false;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negativeExponent = false;
        if (p != end && (*p == '-' || *p == '+')) negativeExponent = *p++ == '-';
        // An exponent's size only matters up to where it falls out of range.
        int written = 0;
        const char* const digitsStart = p;
        for (unsigned d; p != end && (d = static_cast<unsigned char>(*p) - '0') < 10; ++p)
            if (written < 100000) written = written * 10 + static_cast<int>(d);
        if (p == digitsStart) return false;
        exponent += negativeExponent ? -written : written;
    }
    // Within these bounds the mantissa and 10^|exponent| are both exact
    // doubles, so one multiplication or division rounds once, correctly: the
    // value from_chars gives. Anything else takes the general parser.
    if (mantissa > kExactMantissa || exponent < -kExactPower || exponent > kExactPower) return false;
    const double m = static_cast<double>(mantissa);
    const double value = exponent >= 0 ? m * kPowers[exponent] : m / kPowers[-exponent];
    *stop = p;
    *result = negative ? -value : value;
    return true;
}

}  // namespace

std::optional<double> parsePlainDecimalPrefix(const char* p, const char* end, const char** stop)
{
    double value = 0;
    if (!readDecimalPrefix(p, end, &value, stop)) return std::nullopt;
    return value;
}

bool readDecimalPrefix(const char* p, const char* end, double* result, const char** stop)
{
    // Most numbers in files are short decimals ("-12.345678"). With 17 bytes
    // to look at (a field in a buffer of many), those read in a few word
    // steps; otherwise numbers of at most 15 digits without an exponent read
    // in one tight pass (the fraction's first 8 digits in one step when the
    // bytes are there). Anything longer or with an exponent takes the
    // general quick path.
    if (end - p >= 17 && decimalwords::readShortDecimal(p, result, stop)) return true;
    const char* const start = p;
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    const char* const limit = end - p > 17 ? p + 17 : end;
    std::uint64_t mantissa = 0;
    const char* const wholeStart = p;
    for (unsigned d; p != limit && (d = static_cast<unsigned char>(*p) - '0') < 10; ++p) mantissa = mantissa * 10 + d;
    const std::ptrdiff_t whole = p - wholeStart;
    std::ptrdiff_t fraction = 0;
    if (p != limit && *p == '.') {
        const char* const fractionStart = ++p;
        if constexpr (std::endian::native == std::endian::little) {
            // Up to 8 fraction digits in one step, whatever their number.
            if (limit - p >= 8) {
                std::uint64_t value = 0;
                const unsigned n = leadingDigits(p, &value);
                mantissa = mantissa * kIntPowers[n] + value;
                p += n;
            }
        }
        for (unsigned d; p != limit && (d = static_cast<unsigned char>(*p) - '0') < 10; ++p)
            mantissa = mantissa * 10 + d;
        fraction = p - fractionStart;
    }
    if (whole + fraction == 0) return false;
    if (whole + fraction > 15 ||
        (p != end && (static_cast<unsigned>(static_cast<unsigned char>(*p) - '0') < 10 || (*p | 0x20) == 'e')))
        return longDecimalPrefix(start, end, result, stop);
    *stop = p;
    const double value = static_cast<double>(mantissa) / kPowers[fraction];
    *result = negative ? -value : value;
    return true;
}

bool readIntegerPrefix(const char* p, const char* end, std::int64_t* value, const char** stop)
{
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    // 18 digits stay below 2^63, so the sum cannot overflow.
    const char* const limit = end - p > 18 ? p + 18 : end;
    const char* const first = p;
    std::uint64_t magnitude = 0;
    for (unsigned d; p != limit && (d = static_cast<unsigned char>(*p) - '0') < 10; ++p) magnitude = magnitude * 10 + d;
    if (p == first || (p != end && static_cast<unsigned>(static_cast<unsigned char>(*p) - '0') < 10)) return false;
    const auto whole = static_cast<std::int64_t>(magnitude);
    *value = negative ? -whole : whole;
    *stop = p;
    return true;
}

bool isUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (c >= 0xC2 && c <= 0xDF) length = 2, code = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF) length = 3, code = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4) length = 4, code = c & 0x07;
        else return false;
        if (static_cast<std::size_t>(end - p) < length) return false;
        for (std::size_t i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        p += length;
    }
    return true;
}

namespace {

// An infinity as R writes it (Inf, -Inf) or as other tools do (inf,
// Infinity), with an optional sign; nothing for any other text.
std::optional<double> infinity(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    for (const std::string_view name : {"Inf", "inf", "INF", "Infinity", "infinity"})
        if (text == name)
            return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return std::nullopt;
}

// A well-formed decimal that from_chars finds out of range, read as R reads
// it: zero below the smallest denormal, an infinity past the largest double
// (both signed). strtod rounds it that way; the C locale keeps its decimal
// point whatever the environment's locale.
double outOfRange(std::string_view text)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    return strtod_l(std::string(text).c_str(), nullptr, cLocale);
}

}  // namespace

std::optional<double> parseReal(std::string_view text)
{
    if (const auto plain = plainDecimal(text)) return plain;
    if (const auto infinite = infinity(text)) return infinite;
    text = withoutPlus(text);
    if (text.empty()) return std::nullopt;
    // from_chars also reads "inf" and "nan"; only plain decimal numbers count.
    for (char c : text)
        if (!isDigit(c) && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E')
            return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) return outOfRange(text);
    if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::int64_t> parseDate(std::string_view text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    const auto year = digits(text, 0, 4);
    const auto month = digits(text, 5, 2);
    const auto day = digits(text, 8, 2);
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 ||
        *day > daysInMonth(*year, *month))
        return std::nullopt;
    return daysFromCivil(*year, *month, *day);
}

std::optional<std::int64_t> parseTime(std::string_view text)
{
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
    const auto hour = digits(text, 0, 2);
    const auto minute = digits(text, 3, 2);
    const auto second = digits(text, 6, 2);
    if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;
    return *hour * 3600 + *minute * 60 + *second;
}

std::optional<std::int64_t> parseTimestamp(std::string_view text)
{
    if (text.size() != 19 || (text[10] != ' ' && text[10] != 'T')) return std::nullopt;
    const auto date = parseDate(text.substr(0, 10));
    const auto time = parseTime(text.substr(11));
    if (!date || !time) return std::nullopt;
    return *date * 86400 + *time;
}

std::optional<double> parseNumber(Storage storage, std::string_view text)
{
    std::optional<std::int64_t> whole;
    switch (storage) {
    case Storage::Integer: whole = parseInteger(text); break;
    case Storage::Real: return parseReal(text);
    case Storage::Date: whole = parseDate(text); break;
    case Storage::Time: whole = parseTime(text); break;
    case Storage::Timestamp: whole = parseTimestamp(text); break;
    default: return std::nullopt;
    }
    if (!whole) return std::nullopt;
    return static_cast<double>(*whole);
}

}  // namespace splitrun

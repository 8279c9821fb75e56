#include "value_parsing.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

Measure measureFromName(std::string_view name)
{
    for (const NamedCode& m : kMeasures)
        if (name == m.name) return static_cast<Measure>(m.code);
    return Measure::None;
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

// Plain decimals ("-12.345678") of at most 15 digits: the digits make an
// exact integer and 10^k is exact, so one division gives the correctly
// rounded value, the same one from_chars gives. Nothing for anything else.
std::optional<double> plainDecimal(std::string_view text)
{
    const char* stop = nullptr;
    const auto value = parsePlainDecimalPrefix(text.data(), text.data() + text.size(), &stop);
    if (!value || stop != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> parsePlainDecimalPrefix(const char* p, const char* end, const char** stop)
{
    static const double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    // Up to 16 digits are read (one more than a value may have), so the
    // mantissa cannot overflow.
    const char* const limit = end - p > 17 ? p + 17 : end;
    std::uint64_t mantissa = 0;
    const char* const wholeStart = p;
    for (unsigned d; p != limit && (d = static_cast<unsigned char>(*p) - '0') < 10; ++p) mantissa = mantissa * 10 + d;
    const std::ptrdiff_t whole = p - wholeStart;
    std::ptrdiff_t fraction = 0;
    if (p != limit && *p == '.') {
        const char* const fractionStart = ++p;
        for (unsigned d; p != limit && (d = static_cast<unsigned char>(*p) - '0') < 10; ++p)
            mantissa = mantissa * 10 + d;
        fraction = p - fractionStart;
    }
    // A digit right after the limit means more digits than a value may have.
    if (whole + fraction == 0 || whole + fraction > 15 ||
        (p != end && static_cast<unsigned>(static_cast<unsigned char>(*p) - '0') < 10))
        return std::nullopt;
    *stop = p;
    const double value = static_cast<double>(mantissa) / kPowers[fraction];
    return negative ? -value : value;
}

std::optional<double> parseReal(std::string_view text)
{
    if (const auto plain = plainDecimal(text)) return plain;
    text = withoutPlus(text);
    if (text.empty()) return std::nullopt;
    // from_chars also reads "inf" and "nan"; only plain decimal numbers count.
    for (char c : text)
        if (!isDigit(c) && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E')
            return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
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

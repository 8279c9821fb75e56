#include "value_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <locale.h>
#include <stdlib.h>
#include <string>

#include "splitmodels/data.h"
#include "splitmodels/number_text.h"

namespace splitmodels::detail {

namespace {

// One leading '+' is dropped; a second sign after it makes the text no
// number (empty). Surrounding blanks are kept, so " 3" is no number here,
// just as split-run's CSV reading makes a column holding it text: a value
// reads alike when a model is built and when it is scored.
std::string_view withoutPlus(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) return {};
  }
  return text;
}

// Reads exactly `width` digits at `pos` (width 0: one or more digits).
bool readDigits(std::string_view text, std::size_t& pos, std::size_t width, std::int64_t& out) {
  std::size_t end = pos;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9' && (width == 0 || end - pos < width)) ++end;
  if (end == pos || (width != 0 && end - pos != width) || end - pos > 12) return false;
  out = 0;
  for (std::size_t i = pos; i < end; ++i) out = out * 10 + (text[i] - '0');
  pos = end;
  return true;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

unsigned daysInMonth(std::int64_t year, unsigned month) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

bool readDate(std::string_view text, std::size_t& pos, double& days) {
  std::int64_t y = 0, m = 0, d = 0;
  if (!readDigits(text, pos, 4, y) || !expect(text, pos, '-') || !readDigits(text, pos, 2, m) ||
      !expect(text, pos, '-') || !readDigits(text, pos, 2, d))
    return false;
  if (m < 1 || m > 12 || d < 1 || d > daysInMonth(y, static_cast<unsigned>(m))) return false;
  days = static_cast<double>(daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)));
  return true;
}

bool readTime(std::string_view text, std::size_t& pos, double& seconds) {
  std::int64_t h = 0, m = 0, s = 0;
  if (!readDigits(text, pos, 2, h) || !expect(text, pos, ':') || !readDigits(text, pos, 2, m) ||
      !expect(text, pos, ':') || !readDigits(text, pos, 2, s))
    return false;
  if (h > 23 || m > 59 || s > 60) return false;
  double fraction = 0.0;
  if (pos < text.size() && text[pos] == '.') {
    const std::size_t start = pos;
    ++pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
    if (pos == start + 1) return false;
    double scale = 0.1;
    for (std::size_t i = start + 1; i < pos; ++i, scale /= 10) fraction += (text[i] - '0') * scale;
  }
  seconds = static_cast<double>(h * 3600 + m * 60 + s) + fraction;
  return true;
}

}  // namespace

// The same text as printf's "%.17g": every group's documents hold dozens
// of numbers.
std::string formatNumber(double value) {
  char buffer[kNumberTextSize];
  return std::string(buffer, writeNumber17(buffer, value));
}

void appendNumber(std::string& out, double value) {
  char buffer[kNumberTextSize];
  out.append(buffer, writeNumber17(buffer, value));
}

std::string formatInteger(std::int64_t value) { return std::to_string(value); }

void appendShortest(std::string& out, double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

std::string formatShortest(double value) {
  std::string text;
  appendShortest(text, value);
  return text;
}

namespace {

// The length of the character XML can hold at the start of `text`, or 0.
std::size_t xmlCharLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07;
  else return 0;
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
      code == 0xFFFF)
    return 0;
  return length;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool xmlCanHold(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = xmlCharLength(text.substr(pos));
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string percentEncode(std::string_view text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string encoded;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = text[pos] == '%' ? 0 : xmlCharLength(text.substr(pos));
    if (length > 0) {
      encoded.append(text.substr(pos, length));
      pos += length;
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[pos++]);
    encoded += '%';
    encoded += digits[byte >> 4];
    encoded += digits[byte & 0x0F];
  }
  return encoded;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string decoded;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (text[pos] != '%') {
      decoded += text[pos];
      continue;
    }
    if (pos + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[pos + 1]), low = hexValue(text[pos + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    decoded += static_cast<char>(high << 4 | low);
    pos += 2;
  }
  return decoded;
}

std::optional<double> parseNumber(std::string_view text) {
  text = withoutPlus(text);
  if (text.empty()) return std::nullopt;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (end != text.data() + text.size()) return std::nullopt;
  // A decimal below the smallest denormal reads as a signed zero, as the
  // build reads it; one past the largest double is infinite, so no value.
  if (ec == std::errc::result_out_of_range) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    value = strtod_l(std::string(text).c_str(), nullptr, cLocale);
    return value == 0 ? std::optional(value) : std::nullopt;
  }
  if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
  text = withoutPlus(text);
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y = std::clamp(y, -kMaxCivilYear, kMaxCivilYear);  // callers check the range; this keeps the arithmetic defined
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::optional<double> parseDateText(std::string_view text) {
  std::size_t pos = 0;
  double days = 0;
  if (!readDate(text, pos, days) || pos != text.size()) return std::nullopt;
  return days;
}

std::optional<double> parseTimeText(std::string_view text) {
  std::size_t pos = 0;
  double seconds = 0;
  if (!readTime(text, pos, seconds) || pos != text.size()) return std::nullopt;
  return seconds;
}

std::optional<double> parseTimestampText(std::string_view text) {
  std::size_t pos = 0;
  double days = 0, seconds = 0;
  if (!readDate(text, pos, days)) return std::nullopt;
  if (pos >= text.size() || (text[pos] != 'T' && text[pos] != ' ')) return std::nullopt;
  ++pos;
  if (!readTime(text, pos, seconds)) return std::nullopt;
  if (pos < text.size() && text[pos] == 'Z') ++pos;
  if (pos != text.size()) return std::nullopt;
  return days * 86400.0 + seconds;
}

std::optional<double> numberForStorage(int storage, std::string_view text) {
  if (storage == StorageString) return std::nullopt;
  if (auto number = parseNumber(text)) return number;
  switch (storage) {
    case StorageDate: return parseDateText(text);
    case StorageTime: return parseTimeText(text);
    case StorageTimestamp: return parseTimestampText(text);
    default: return std::nullopt;
  }
}

std::string canonicalCategory(int storage, const std::string& text) {
  if (storage == StorageInteger) {
    if (auto integer = parseInteger(text)) return formatInteger(*integer);
  }
  if (auto number = numberForStorage(storage, text)) {
    if (storage == StorageInteger && std::trunc(*number) == *number && std::fabs(*number) < 9.2e18)
      return formatInteger(static_cast<std::int64_t>(*number));
    return formatNumber(*number);
  }
  return text;
}

}  // namespace splitmodels::detail

namespace splitmodels {

namespace {

using u128 = unsigned __int128;

constexpr std::uint64_t kTen16 = 10'000'000'000'000'000ULL;
constexpr std::uint64_t kTen17 = 100'000'000'000'000'000ULL;

constexpr u128 powerOfTen(int n) {
  u128 power = 1;
  while (n-- > 0) power *= 10;
  return power;
}

// 10^0 to 10^22: m * 10^22 with m below 2^53 still fits in 128 bits.
constexpr int kMaxPower = 22;
constexpr auto kPowers = [] {
  struct Table { u128 power[kMaxPower + 1]; } table{};
  for (int n = 0; n <= kMaxPower; ++n) table.power[n] = powerOfTen(n);
  return table;
}();

// |value| = m * 2^e scaled by 10^s and rounded to an integer, half to
// even; false where 128 bits do not hold the exact product or quotient.
bool scaledRounded(std::uint64_t m, int e, int s, std::uint64_t& rounded) {
  u128 quotient = 0;
  bool up = false;
  if (e >= 0) {
    if (e > 74) return false;
    const u128 whole = static_cast<u128>(m) << e;
    if (s >= 0) {
      if (s > kMaxPower) return false;
      quotient = whole * kPowers.power[s];   // whole < 10^17 here: no overflow
    } else {
      if (-s > kMaxPower) return false;
      const u128 divisor = kPowers.power[-s];
      quotient = whole / divisor;
      const u128 rest = whole % divisor;
      up = 2 * rest > divisor || (2 * rest == divisor && (quotient & 1) != 0);
    }
  } else {
    const int shift = -e;
    if (s < 0 || s > kMaxPower || shift > 127) return false;
    const u128 product = static_cast<u128>(m) * kPowers.power[s];
    quotient = product >> shift;
    const u128 rest = product & ((static_cast<u128>(1) << shift) - 1);
    const u128 half = static_cast<u128>(1) << (shift - 1);
    up = rest > half || (rest == half && (quotient & 1) != 0);
  }
  if (quotient >= kTen17) {
    rounded = kTen17;   // only a sign that s was one too large
    return true;
  }
  rounded = static_cast<std::uint64_t>(quotient) + (up ? 1 : 0);
  return true;
}

// The 17 significant digits of a finite positive |value| (an integer from
// 10^16 to below 10^17) and the decimal exponent of the first; false
// outside the short path's range.
bool seventeenDigits(std::uint64_t bits, std::uint64_t& digits, int& exponent) {
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  if (biased == 0 || biased == 0x7ff) return false;   // zero, subnormal, infinite, NaN
  const std::uint64_t m = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
  const int e = biased - 1075;
  // |value| is at least 2^(e + 52): its decimal exponent is this or one more.
  // floor((e + 52) log10 2), exact for exponents of this size; the shift
  // of a negative number rounds down.
  int k = ((e + 52) * 78913) >> 18;
  if (k < -6) return false;
  std::uint64_t rounded = 0;
  for (int tries = 0; tries < 3; ++tries) {
    if (!scaledRounded(m, e, 16 - k, rounded)) return false;
    if (rounded < kTen16) {
      --k;
      continue;
    }
    // Unrounded at 10^17 or more: the exponent is one more. Rounded up to
    // 10^17 exactly: 10^16 at one more.
    if (rounded >= kTen17) {
      std::uint64_t again = 0;
      if (!scaledRounded(m, e, 15 - k, again) || again < kTen16) return false;
      ++k;
      rounded = again >= kTen17 ? kTen16 : again;
      if (again >= kTen17) ++k;
    }
    digits = rounded;
    exponent = k;
    return k >= -6;
  }
  return false;
}

}  // namespace

char* writeNumber17(char* out, double value) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  std::uint64_t digits = 0;
  int exponent = 0;
  if (!seventeenDigits(bits & ~(1ULL << 63), digits, exponent))
    return std::to_chars(out, out + kNumberTextSize, value, std::chars_format::general, 17).ptr;
  // The digits two at a time: 1 + 8 + 8.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char d[17];
  std::uint64_t high = digits / 100'000'000;
  std::uint32_t low = static_cast<std::uint32_t>(digits % 100'000'000);
  std::uint32_t middle = static_cast<std::uint32_t>(high % 100'000'000);
  d[0] = static_cast<char>('0' + high / 100'000'000);
  for (int i = 7; i >= 1; i -= 2) {
    std::memcpy(d + i, kPairs + 2 * (middle % 100), 2);
    std::memcpy(d + i + 8, kPairs + 2 * (low % 100), 2);
    middle /= 100;
    low /= 100;
  }
  int length = 17;   // significant digits without the trailing zeros "%g" drops
  while (length > 1 && d[length - 1] == '0') --length;
  if (bits >> 63) *out++ = '-';
  if (exponent < -4 || exponent >= 17) {
    *out++ = d[0];
    if (length > 1) {
      *out++ = '.';
      std::memcpy(out, d + 1, static_cast<std::size_t>(length - 1));
      out += length - 1;
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
    *out++ = static_cast<char>('0' + magnitude / 10 % 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
  } else if (exponent >= 0) {
    std::memcpy(out, d, static_cast<std::size_t>(exponent + 1));
    out += exponent + 1;
    if (length > exponent + 1) {
      *out++ = '.';
      std::memcpy(out, d + exponent + 1, static_cast<std::size_t>(length - exponent - 1));
      out += length - exponent - 1;
    }
  } else {
    *out++ = '0';
    *out++ = '.';
    for (int i = -1; i > exponent; --i) *out++ = '0';
    std::memcpy(out, d, static_cast<std::size_t>(length));
    out += length;
  }
  return out;
}

}  // namespace splitmodels

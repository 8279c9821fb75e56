#include "value_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "splitmodels/data.h"

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

// The same text as printf's "%.17g" (to_chars with a precision is defined
// as that conversion), at a fraction of its cost: every group's documents
// hold dozens of numbers.
std::string formatNumber(double value) {
  char buffer[40];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
  return std::string(buffer, result.ptr);
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
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
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

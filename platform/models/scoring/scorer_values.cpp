// Converting texts to values by PMML data type, and comparing values.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "scorer_model.h"
#include "value_text.h"

namespace splitmodels::detail {

namespace {

std::optional<double> readBoolean(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "true" || lower == "1") return 1.0;
  if (lower == "false" || lower == "0") return 0.0;
  return std::nullopt;
}

// Numbers are taken as they stand (already in the type's unit); calendar
// texts are converted and shifted to the type's origin.
std::optional<double> readNumber(const DictionaryField& field, std::string_view text) {
  switch (field.kind) {
    case TypeKind::Integer:
    case TypeKind::Number: return parseNumber(text);
    case TypeKind::Boolean: return readBoolean(text);
    case TypeKind::Date:
      if (auto number = parseNumber(text)) return number;
      if (auto days = parseDateText(text)) return *days - field.origin;
      return std::nullopt;
    case TypeKind::Time:
      if (auto number = parseNumber(text)) return number;
      return parseTimeText(text);
    case TypeKind::Timestamp:
      if (auto number = parseNumber(text)) return number;
      if (auto seconds = parseTimestampText(text)) return *seconds - field.origin;
      if (auto days = parseDateText(text)) return *days * 86400.0 - field.origin;
      return std::nullopt;
    case TypeKind::String: break;
  }
  return std::nullopt;
}

// Reads `text` into `datum` in place (reusing its text's storage); false
// when the text does not convert.
bool convertInto(const DictionaryField& field, std::string_view text, Datum& datum,
                 const double* preRead = nullptr) {
  datum.missing = datum.invalid = datum.numeric = datum.integral = false;
  if (field.kind == TypeKind::String) {
    datum.text.assign(text);
    return true;
  }
  datum.text.clear();
  if (preRead != nullptr && field.kind == TypeKind::Number && std::isfinite(*preRead)) {
    datum.numeric = true;
    datum.number = *preRead;
    return true;
  }
  // Integers are read exactly: 9007199254740993 is not 9007199254740992.
  if (field.kind == TypeKind::Integer) {
    if (const std::optional<std::int64_t> integer = parseInteger(text)) {
      datum.numeric = datum.integral = true;
      datum.integer = *integer;
      datum.number = static_cast<double>(*integer);
      return true;
    }
  }
  const std::optional<double> number = readNumber(field, text);
  if (!number) return false;
  datum.numeric = true;
  datum.number = *number;
  // A whole number of an integer field written as a real ("5.0", "1e3").
  if (field.kind == TypeKind::Integer && std::trunc(*number) == *number && *number >= -0x1p63 &&
      *number < 0x1p63) {
    datum.integral = true;
    datum.integer = static_cast<std::int64_t>(*number);
  }
  return true;
}

}  // namespace

std::optional<Datum> convertLiteral(const DictionaryField& field, const std::string& text) {
  Datum datum;
  if (!convertInto(field, text, datum)) return std::nullopt;
  return datum;
}

void convertValueGeneral(const DictionaryField& field, bool missing, std::string_view text, Datum& datum,
                         const double* number) {
  const auto setMissing = [&] {
    datum.missing = true;
    datum.invalid = datum.numeric = datum.integral = false;
  };
  if (missing) return setMissing();
  for (const std::string& token : field.missingValues)
    if (text == token) return setMissing();
  if (convertInto(field, text, datum, number)) {
    if (field.validKeys.empty()) return;
    thread_local std::string key;
    key.clear();
    appendIndexKey(datum, key);
    if (field.validKeys.count(key)) return;
  } else if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    return setMissing();
  }
  datum.missing = datum.numeric = datum.integral = false;
  datum.invalid = true;
}

int compareData(const Datum& a, const Datum& b) {
  if (a.integral && b.integral) return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
  if (a.numeric && b.numeric && a.integral != b.integral && a.number == b.number)
    return a.integral ? -1 : 1;  // only 2^63 ties with a 64-bit integer as a double, and exceeds them all
  if (a.numeric && b.numeric) return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
  const int order = a.text.compare(b.text);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

void appendIndexKey(const Datum& datum, std::string& key) {
  char bytes[sizeof(std::int64_t)];
  if (datum.integral) {
    key += 'i';
    std::memcpy(bytes, &datum.integer, sizeof bytes);
    key.append(bytes, sizeof bytes);
  } else if (datum.numeric) {
    const double value = datum.number == 0.0 ? 0.0 : datum.number;
    key += 'd';
    std::memcpy(bytes, &value, sizeof bytes);
    key.append(bytes, sizeof bytes);
  } else {
    const std::uint64_t length = datum.text.size();
    key += 's';
    std::memcpy(bytes, &length, sizeof bytes);
    key.append(bytes, sizeof bytes);
    key += datum.text;
  }
}

}  // namespace splitmodels::detail

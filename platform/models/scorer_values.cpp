// Converting texts to values by PMML data type, and comparing values.
#include <algorithm>
#include <cstring>

#include "scorer_model.h"
#include "value_text.h"

namespace splitmodels::detail {

namespace {

std::optional<double> readBoolean(const std::string& text) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "true" || lower == "1") return 1.0;
  if (lower == "false" || lower == "0") return 0.0;
  return std::nullopt;
}

// Numbers are taken as they stand (already in the type's unit); calendar
// texts are converted and shifted to the type's origin.
std::optional<double> readNumber(const DictionaryField& field, const std::string& text) {
  switch (field.kind) {
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

}  // namespace

std::optional<Datum> convertLiteral(const DictionaryField& field, const std::string& text) {
  Datum datum;
  datum.missing = false;
  datum.text = text;
  if (field.kind == TypeKind::String) return datum;
  const std::optional<double> number = readNumber(field, text);
  if (!number) return std::nullopt;
  datum.numeric = true;
  datum.number = *number;
  return datum;
}

Datum convertValue(const DictionaryField& field, const std::optional<std::string>& text) {
  if (!text) return Datum{};
  for (const std::string& missing : field.missingValues)
    if (*text == missing) return Datum{};
  if (auto datum = convertLiteral(field, *text)) return *datum;
  return Datum{};
}

int compareData(const Datum& a, const Datum& b) {
  if (a.numeric && b.numeric) return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
  const int order = a.text.compare(b.text);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace splitmodels::detail

// A forward scan from one '&' or '<' to the next; most documents hold no
// '&' at all and are passed over with one search.
#include "character_references.h"

#include <algorithm>
#include <cctype>

namespace splitmodels::detail {

namespace {

// The control characters U+0001 to U+001F are allowed as references (as
// XML 1.1 allows them), since the model writer escapes control bytes that way.
bool isReferableCharacter(unsigned long code) {
  return (code >= 0x1 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
         (code >= 0x10000 && code <= 0x10FFFF);
}

// Whether the reference "&#...;" starting at pos names a character it may.
// A malformed one (no digits, a wrong digit, "&#X") is refused too: the
// parser would keep it as text, a value no record holds.
bool namesXmlCharacter(std::string_view text, std::size_t pos, std::size_t end) {
  std::size_t at = pos + 2;
  const bool hex = at < end && text[at] == 'x';
  if (hex) ++at;
  if (at == end) return false;
  unsigned long code = 0;
  for (; at < end; ++at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (!(hex ? std::isxdigit(c) : std::isdigit(c))) return false;
    code = code * (hex ? 16 : 10) + (std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
    if (code > 0x10FFFF) return false;
  }
  return isReferableCharacter(code);
}

}  // namespace

std::string illegalCharacterReference(std::string_view text) {
  if (text.find('&') == std::string_view::npos) return std::string();
  const auto skipTo = [&](std::size_t from, std::string_view terminator) {
    const std::size_t found = text.find(terminator, from);
    return found == std::string_view::npos ? text.size() : found + terminator.size();
  };
  std::size_t pos = 0;
  while ((pos = text.find_first_of("&<", pos)) != std::string_view::npos) {
    const std::string_view rest = text.substr(pos);
    if (rest.substr(0, 4) == "<!--") {
      pos = skipTo(pos + 4, "-->");
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      pos = skipTo(pos + 9, "]]>");
    } else if (rest.substr(0, 2) == "<?") {
      pos = skipTo(pos + 2, "?>");
    } else if (rest.substr(0, 2) == "&#") {
      const std::size_t end = text.find(';', pos);
      if (end == std::string_view::npos) return std::string();
      if (!namesXmlCharacter(text, pos, end)) {
        constexpr std::size_t kShown = 24;
        const std::size_t length = end + 1 - pos;
        return std::string(text.substr(pos, std::min(length, kShown))) + (length > kShown ? "..." : "");
      }
      pos = end + 1;
    } else {
      ++pos;
    }
  }
  return std::string();
}

}  // namespace splitmodels::detail

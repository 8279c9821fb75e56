// A forward scan from one '&' or '<' to the next; most documents hold no
// '&' at all and are passed over with one search.
#include "character_references.h"

#include <algorithm>

#include "markup_guard.h"

namespace splitmodels::detail {

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
      if (!cfhelper::namesAllowedCharacter(text.substr(pos + 2, end - pos - 2))) {
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

// A forward scan from one '&' or '<' to the next; most documents hold no
// '&' at all and are passed over with one search.
#include "character_references.h"

#include <algorithm>

#include "markup_guard.h"

namespace splitmodels::detail {

namespace {

// The first reference ('&' to the next ';') in the markup text for which
// `refused` is true, as written and shortened; empty when there is none.
// Comments, CDATA sections and processing instructions are skipped.
template <class Refused>
std::string firstReference(std::string_view text, Refused refused) {
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
    } else if (rest[0] == '&') {
      const std::size_t end = text.find(';', pos);
      const std::size_t length = (end == std::string_view::npos ? text.size() : end + 1) - pos;
      if (refused(text.substr(pos, length))) {
        constexpr std::size_t kShown = 24;
        return std::string(text.substr(pos, std::min(length, kShown))) + (length > kShown ? "..." : "");
      }
      if (end == std::string_view::npos) return std::string();
      pos = end + 1;
    } else {
      ++pos;
    }
  }
  return std::string();
}

}  // namespace

std::string illegalCharacterReference(std::string_view text) {
  return firstReference(text, [](std::string_view reference) {
    return reference.substr(0, 2) == "&#" && reference.back() == ';' &&
           !cfhelper::namesAllowedCharacter(reference.substr(2, reference.size() - 3));
  });
}

std::string undeclaredEntityReference(std::string_view text) {
  return firstReference(text, [](std::string_view reference) {
    if (reference.substr(0, 2) == "&#") return false;
    for (const std::string_view known : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
      if (reference == known) return false;
    return true;
  });
}

}  // namespace splitmodels::detail

// A forward scan over the markup: comments, CDATA sections and processing
// instructions are stepped over, quoted attribute values may hold '>', and
// element depth is counted by start and end tags. Names are compared only
// down to the Segmentation level; inside a segment only depth matters.
#include "segment_chunks.h"

#include <cstring>

namespace splitmodels::detail {

namespace {

bool startsWith(std::string_view text, std::size_t pos, std::string_view prefix) {
  return text.compare(pos, prefix.size(), prefix) == 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view localPart(std::string_view name) {
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// True when the text is UTF-8 as far as the parser is concerned: no byte
// order mark of another encoding, no NUL byte, and an XML declaration that
// names no encoding or UTF-8.
bool plainUtf8(std::string_view text) {
  if (std::memchr(text.data(), 0, text.size()) != nullptr) return false;
  std::size_t pos = startsWith(text, 0, "\xEF\xBB\xBF") ? 3 : 0;
  if (!text.empty() && (static_cast<unsigned char>(text[0]) == 0xFE || static_cast<unsigned char>(text[0]) == 0xFF))
    return false;
  if (!startsWith(text, pos, "<?xml")) return true;
  const std::size_t end = text.find("?>", pos);
  if (end == std::string_view::npos) return false;
  const std::string_view declaration = text.substr(pos, end - pos);
  const std::size_t key = declaration.find("encoding");
  if (key == std::string_view::npos) return true;
  std::size_t at = key + 8;
  while (at < declaration.size() && (isBlank(declaration[at]) || declaration[at] == '=')) ++at;
  if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return false;
  const std::size_t close = declaration.find(declaration[at], at + 1);
  if (close == std::string_view::npos) return false;
  const std::string_view name = declaration.substr(at + 1, close - at - 1);
  return equalsIgnoringCase(name, "utf-8") || equalsIgnoringCase(name, "utf8");
}

}  // namespace

std::optional<SegmentChunks> cutSegments(std::string_view text) {
  if (!plainUtf8(text)) return std::nullopt;
  SegmentChunks chunks;
  std::size_t depth = 0;
  std::size_t copied = 0;         // text before this is in the skeleton (or cut out)
  std::size_t segmentStart = 0;
  bool inSegment = false;
  bool inGroup = false;           // inside a Segmentation two levels below the root
  std::size_t pos = 0;
  const auto cut = [&](std::size_t end) {
    chunks.skeleton.append(text, copied, segmentStart - copied);
    chunks.groups.back().push_back(text.substr(segmentStart, end - segmentStart));
    copied = end;
    inSegment = false;
  };
  while (true) {
    const std::size_t open = text.find('<', pos);
    if (open == std::string_view::npos) break;
    if (startsWith(text, open, "<!--")) {
      const std::size_t end = text.find("-->", open + 4);
      if (end == std::string_view::npos) return std::nullopt;
      pos = end + 3;
    } else if (startsWith(text, open, "<![CDATA[")) {
      const std::size_t end = text.find("]]>", open + 9);
      if (end == std::string_view::npos) return std::nullopt;
      pos = end + 3;
    } else if (startsWith(text, open, "<!")) {
      return std::nullopt;
    } else if (startsWith(text, open, "<?")) {
      const std::size_t end = text.find("?>", open + 2);
      if (end == std::string_view::npos) return std::nullopt;
      pos = end + 2;
    } else if (startsWith(text, open, "</")) {
      const std::size_t end = text.find('>', open + 2);
      if (end == std::string_view::npos || depth == 0) return std::nullopt;
      pos = end + 1;
      --depth;
      if (inSegment && depth == 3) cut(pos);
      if (depth < 3) inGroup = false;
    } else {
      std::size_t at = open + 1;
      while (at < text.size() && !isBlank(text[at]) && text[at] != '/' && text[at] != '>') ++at;
      const std::string_view name = text.substr(open + 1, at - open - 1);
      char quote = 0;
      while (at < text.size() && (quote != 0 || text[at] != '>')) {
        if (quote != 0 && text[at] == quote) quote = 0;
        else if (quote == 0 && (text[at] == '"' || text[at] == '\'')) quote = text[at];
        ++at;
      }
      if (at >= text.size()) return std::nullopt;
      const bool empty = text[at - 1] == '/';
      pos = at + 1;
      ++depth;
      if (depth == 3 && localPart(name) == "Segmentation") {
        inGroup = !empty;
        chunks.groups.emplace_back();
      }
      if (inGroup && !inSegment && depth == 4 && localPart(name) == "Segment") {
        inSegment = true;
        segmentStart = open;
        if (empty) {
          --depth;
          cut(pos);
          continue;
        }
      }
      if (empty) --depth;
    }
  }
  if (inSegment) return std::nullopt;
  chunks.skeleton.append(text, copied, std::string_view::npos);
  return chunks;
}

}  // namespace splitmodels::detail

// A forward scan over the markup: comments, CDATA sections and processing
// instructions are stepped over, quoted attribute values may hold '>', and
// element depth is counted by start and end tags. Names are compared only
// down to the Segmentation level; inside a segment only depth matters.
// A token cut by the end of a block is scanned again with the next block.
#include "segment_chunks.h"

#include <cstring>

namespace splitmodels::detail {

namespace {

constexpr std::size_t kMaxPending = std::size_t{16} << 20;

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

// The encoding the parser would take from the start of the document: true
// for UTF-8 (no byte order mark of another encoding, an XML declaration that
// names no encoding or UTF-8), false otherwise, nothing when the
// declaration is not complete yet.
std::optional<bool> plainUtf8(std::string_view text) {
  if (!text.empty() && (static_cast<unsigned char>(text[0]) == 0xFE || static_cast<unsigned char>(text[0]) == 0xFF))
    return false;
  const std::size_t pos = startsWith(text, 0, "\xEF\xBB\xBF") ? 3 : 0;
  if (text.size() < pos + 5) return std::nullopt;
  if (!startsWith(text, pos, "<?xml")) return true;
  const std::size_t end = text.find("?>", pos);
  if (end == std::string_view::npos) return std::nullopt;
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

void SegmentCutter::feed(std::string_view bytes) {
  if (unfit_) return;
  if (std::memchr(bytes.data(), 0, bytes.size()) != nullptr) {
    unfit_ = true;
    return;
  }
  pending_.append(bytes);
  if (!checked_) {
    const std::optional<bool> utf8 = plainUtf8(pending_);
    if (!utf8) {
      if (pending_.size() > kMaxPending) unfit_ = true;
      return;
    }
    checked_ = true;
    if (!*utf8) {
      unfit_ = true;
      return;
    }
  }
  scan();
}

void SegmentCutter::scan() {
  const std::string_view text = pending_;
  std::size_t copied = 0;  // text before this is in the skeleton (or cut out)
  std::size_t pos = 0;
  std::size_t open = 0;
  const auto cut = [&](std::size_t end) {
    chunks_.groups.back().push_back({segmentStart_, base_ + end - segmentStart_});
    copied = end;
    inSegment_ = false;
  };
  while (true) {
    open = text.find('<', pos);
    if (open == std::string_view::npos) {
      open = text.size();
      break;
    }
    if (open + 1 >= text.size()) break;
    const char next = text[open + 1];
    std::size_t end = std::string_view::npos;
    if (next == '!' && text.size() - open < 9) {
      break;  // too short yet to tell a comment, a CDATA section and a declaration apart
    } else if (next == '!' && startsWith(text, open, "<!--")) {
      end = text.find("-->", open + 4);
      if (end == std::string_view::npos) break;
      pos = end + 3;
    } else if (next == '!' && startsWith(text, open, "<![CDATA[")) {
      end = text.find("]]>", open + 9);
      if (end == std::string_view::npos) break;
      pos = end + 3;
    } else if (next == '!') {
      unfit_ = true;  // a document type declaration
      return;
    } else if (next == '?') {
      end = text.find("?>", open + 2);
      if (end == std::string_view::npos) break;
      pos = end + 2;
    } else if (next == '/') {
      end = text.find('>', open + 2);
      if (end == std::string_view::npos) break;
      if (depth_ == 0) {
        unfit_ = true;
        return;
      }
      pos = end + 1;
      --depth_;
      if (inSegment_ && depth_ == 3) cut(pos);
      if (depth_ < 3) inGroup_ = false;
    } else {
      std::size_t at = open + 1;
      while (at < text.size() && !isBlank(text[at]) && text[at] != '/' && text[at] != '>') ++at;
      const std::string_view name = text.substr(open + 1, at - open - 1);
      while (at < text.size() && text[at] != '>') {
        if (text[at] == '"' || text[at] == '\'') {  // a quoted value, which may hold '>'
          const void* close = std::memchr(text.data() + at + 1, text[at], text.size() - at - 1);
          at = close == nullptr ? text.size() : static_cast<std::size_t>(static_cast<const char*>(close) - text.data()) + 1;
        } else {
          ++at;
        }
      }
      if (at >= text.size()) break;
      const bool empty = text[at - 1] == '/';
      pos = at + 1;
      ++depth_;
      if (depth_ == 3 && localPart(name) == "Segmentation") {
        inGroup_ = !empty;
        chunks_.groups.emplace_back();
      }
      if (inGroup_ && !inSegment_ && depth_ == 4 && localPart(name) == "Segment") {
        chunks_.skeleton.append(text, copied, open - copied);
        inSegment_ = true;
        segmentStart_ = base_ + open;
        if (empty) {
          --depth_;
          cut(pos);
          continue;
        }
      }
      if (empty) --depth_;
    }
  }
  // `open` is where the first token not scanned yet starts (or the end).
  if (!inSegment_) chunks_.skeleton.append(text, copied, open - copied);
  pending_.erase(0, open);
  base_ += open;
  if (pending_.size() > kMaxPending) unfit_ = true;
}

std::optional<SegmentChunks> SegmentCutter::finish() {
  if (!unfit_ && !checked_) {
    checked_ = true;
    if (plainUtf8(pending_) == std::optional<bool>(true)) scan();
    else unfit_ = true;
  }
  if (unfit_ || inSegment_ || pending_.find('<') != std::string::npos) return std::nullopt;
  chunks_.skeleton.append(pending_);
  return std::move(chunks_);
}

std::optional<SegmentChunks> cutSegments(std::string_view text) {
  SegmentCutter cutter;
  cutter.feed(text);
  return cutter.finish();
}

}  // namespace splitmodels::detail

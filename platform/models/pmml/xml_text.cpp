#include "xml_text.h"

#include <algorithm>
#include <cassert>

#include "plain_blocks.h"
#include "splitmodels/number_text.h"

namespace splitmodels::detail {

namespace {

// Bytes that text (or an attribute value) holds as they are.
struct PlainBytes {
  bool text[256] = {};
  bool attribute[256] = {};
  constexpr PlainBytes() {
    for (int c = 32; c < 256; ++c) text[c] = attribute[c] = c != '&' && c != '<';
    text[static_cast<unsigned char>('>')] = false;
    for (unsigned char c : {'\t', '\n', '\r'}) text[c] = true;
    attribute[static_cast<unsigned char>('"')] = false;
  }
};
constexpr PlainBytes kPlain;

}  // namespace

void appendEscaped(std::string& out, std::string_view text, bool attribute) {
  const bool* plain = attribute ? kPlain.attribute : kPlain.text;
  std::size_t run = 0;  // start of the bytes not yet appended
  for (std::size_t i = skipPlainBlocks(text, 0, '&', '<', attribute ? '"' : '>'); i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (plain[byte]) continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (byte) {
      case '\0': return;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        out += "&#";
        out += static_cast<char>('0' + byte / 10);
        out += static_cast<char>('0' + byte % 10);
        out += ';';
    }
  }
  out.append(text.data() + run, text.size() - run);
}

XmlText::XmlText(std::string& out) : out_(out) { out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"; }

void XmlText::endStartTag() {
  if (!startTagOpen_) return;
  out_ += ">\n";
  startTagOpen_ = false;
}

XmlText& XmlText::open(std::string_view name) {
  assert(!hasText_);
  endStartTag();
  out_.append(2 * (base_ + open_.size()), ' ');
  out_ += '<';
  out_ += name;
  open_.push_back(name);
  startTagOpen_ = true;
  return *this;
}

XmlText& XmlText::attribute(std::string_view name, std::string_view value) {
  assert(startTagOpen_);
  out_ += ' ';
  out_ += name;
  out_ += "=\"";
  appendEscaped(out_, value, true);
  out_ += '"';
  return *this;
}

XmlText& XmlText::number(std::string_view name, double value) {
  assert(startTagOpen_);
  char digits[kNumberTextSize];
  const char* end = writeNumber17(digits, value);
  const std::size_t at = out_.size();
  out_.resize(at + name.size() + 4 + static_cast<std::size_t>(end - digits));
  char* p = out_.data() + at;
  *p++ = ' ';
  p = std::copy(name.begin(), name.end(), p);
  *p++ = '=';
  *p++ = '"';
  p = std::copy(static_cast<const char*>(digits), end, p);
  *p = '"';
  return *this;
}

XmlText& XmlText::text(std::string_view value) {
  assert(startTagOpen_);
  out_ += '>';
  appendEscaped(out_, value, false);
  startTagOpen_ = false;
  hasText_ = true;
  return *this;
}

XmlText& XmlText::close() {
  assert(!open_.empty());
  const std::string_view name = open_.back();
  open_.pop_back();
  if (startTagOpen_) {
    out_ += " />\n";
    startTagOpen_ = false;
    return *this;
  }
  if (!hasText_) out_.append(2 * (base_ + open_.size()), ' ');
  hasText_ = false;
  out_ += "</";
  out_ += name;
  out_ += ">\n";
  return *this;
}

XmlText& XmlText::empty(std::string_view name, std::string_view attributeName, std::string_view value) {
  return open(name).attribute(attributeName, value).close();
}

XmlText& XmlText::raw(std::string_view lines) {
  endStartTag();
  out_ += lines;
  return *this;
}

}  // namespace splitmodels::detail

#include "xml_text.h"

#include <cassert>

namespace splitmodels::detail {

void appendEscaped(std::string& out, std::string_view text, bool attribute) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\0': return;
      case '&': out += "&amp;"; continue;
      case '<': out += "&lt;"; continue;
      case '>':
        if (!attribute) {
          out += "&gt;";
          continue;
        }
        break;
      case '"':
        if (attribute) {
          out += "&quot;";
          continue;
        }
        break;
      case '\t':
      case '\n':
      case '\r':
        if (!attribute) break;
        [[fallthrough]];
      default:
        if (byte < 32) {
          out += "&#";
          out += static_cast<char>('0' + byte / 10);
          out += static_cast<char>('0' + byte % 10);
          out += ';';
          continue;
        }
    }
    out += c;
  }
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

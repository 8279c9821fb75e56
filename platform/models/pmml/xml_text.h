// A streaming XML writer for the group documents: elements, attributes and
// text appended to a string as they are written, with no tree in between.
// The text is byte for byte what pugixml's save (two-space indent, default
// format, UTF-8) prints for the same tree, so documents written either way
// are interchangeable and the split model can copy a group's model as text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace splitmodels::detail {

// Appends `text` escaped as pugixml escapes it: '&' and '<' as entities,
// control characters as &#NN;, in text also '>', and in an attribute also
// '"' and tab, line feed and carriage return as &#NN;. Text stops at a zero byte, as a C
// string does.
void appendEscaped(std::string& out, std::string_view text, bool attribute);

class XmlText {
 public:
  // Writes into `out`, starting with the XML declaration.
  explicit XmlText(std::string& out);
  // Writes a fragment into `out`: elements indented as if `depth` elements
  // enclosed them, with no declaration.
  XmlText(std::string& out, std::size_t depth) : out_(out), base_(depth) {}

  // Starts a child element of the current element (or the root). `name`
  // must outlive the element (the writers name elements by literals).
  XmlText& open(std::string_view name);
  // Adds an attribute to the element just opened (before any child or text).
  XmlText& attribute(std::string_view name, std::string_view value);
  // An attribute holding formatNumber(value), written in place: a number's
  // text holds nothing to escape.
  XmlText& number(std::string_view name, double value);
  // Gives the element just opened its text; nothing else goes inside it.
  XmlText& text(std::string_view value);
  // Ends the innermost open element.
  XmlText& close();
  // An element with one attribute and no content.
  XmlText& empty(std::string_view name, std::string_view attributeName, std::string_view value);

  // Appends lines already formatted at the current depth (a copied
  // element), as a child of the current element.
  XmlText& raw(std::string_view lines);

 private:
  void endStartTag();

  std::string& out_;
  std::size_t base_ = 0;                // depth of the outermost element
  std::vector<std::string_view> open_;  // names of the open elements
  bool startTagOpen_ = false;           // "<name ..." written, '>' not yet
  bool hasText_ = false;                // the innermost element has text
};

}  // namespace splitmodels::detail

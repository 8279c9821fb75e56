// The streaming XML writer prints what pugixml's save prints for the same tree.
#include <pugixml.hpp>

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "xml_text.h"

namespace {

using splitmodels::detail::XmlText;

std::string saved(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

// Every awkward value goes into an attribute and a text node, in a tree with
// nesting, empty elements and an element closed after children.
TEST(XmlText, MatchesPugixmlOnAwkwardText) {
  const std::string values[] = {
      "", "plain", "a&b <c> \"d\" 'e'", "]]> and <![CDATA[x]]>", "tab\there\nline\rcr",
      std::string("\x01\x02\x1f\x7f", 4), "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "invalid \xff\xfe utf-8",
      std::string("before\0after", 12), "  leading and trailing  ", "&amp; &#10; already escaped",
      // Escapes after, inside and across runs of eight plain bytes.
      std::string("0123456789abcdef&01234567<\"\t>\x01 caf\xc3\xa9 0123456789\0cut", 51),
  };
  for (const std::string& value : values) {
    pugi::xml_document doc;
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = doc.append_child("Root");
    root.append_attribute("xmlns") = "urn:x";
    pugi::xml_node outer = root.append_child("Outer");
    outer.append_attribute("a") = value.c_str();
    outer.append_child("Empty").append_attribute("b") = value.c_str();
    outer.append_child("Text").text().set(value.c_str());
    root.append_child("Bare");

    std::string text;
    XmlText xml(text);
    xml.open("Root").attribute("xmlns", "urn:x");
    xml.open("Outer").attribute("a", value);
    xml.empty("Empty", "b", value);
    xml.open("Text").text(value).close();
    xml.close();
    xml.open("Bare").close();
    xml.close();
    EXPECT_EQ(text, saved(doc)) << "value: " << value;
  }
}

}  // namespace

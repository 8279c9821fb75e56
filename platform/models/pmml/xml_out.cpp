#include "xml_out.h"

#include <cstring>
#include <sstream>

namespace splitmodels::detail {

pugi::xml_node startDocument(pugi::xml_document& doc, const char* rootName) {
  pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  return doc.append_child(rootName);
}

std::string serialize(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

void setAttribute(pugi::xml_node node, const char* name, const std::string& value) {
  pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) attribute = node.append_attribute(name);
  attribute.set_value(value.c_str());
}

std::string localName(const pugi::xml_node& node) {
  const char* name = node.name();
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

pugi::xml_node childByLocalName(const pugi::xml_node& node, const char* name) {
  for (pugi::xml_node child : node.children())
    if (child.type() == pugi::node_element && localName(child) == name) return child;
  return {};
}

}  // namespace splitmodels::detail

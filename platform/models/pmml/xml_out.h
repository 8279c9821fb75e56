// Small pugixml conveniences for the document writers.
#pragma once

#include <pugixml.hpp>

#include <string>

namespace splitmodels::detail {

// A new document holding the XML declaration and an empty root `rootName`.
pugi::xml_node startDocument(pugi::xml_document& doc, const char* rootName);

// The document as indented UTF-8 text with its declaration.
std::string serialize(const pugi::xml_document& doc);

// Appends an attribute, or replaces its value when it exists.
void setAttribute(pugi::xml_node node, const char* name, const std::string& value);

// The element name without any namespace prefix.
std::string localName(const pugi::xml_node& node);

// The first child element whose local name is `name`.
pugi::xml_node childByLocalName(const pugi::xml_node& node, const char* name);

}  // namespace splitmodels::detail

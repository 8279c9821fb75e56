// Name, text and attribute access of an element.
#include <charconv>

#include "cf_cpp_helper.h"
#include "node_access.h"

namespace CfCppHelperV1 {

using cfhelper::toNode;

std::string XMLElement::getName() const {
    return node_ ? std::string(toNode(node_).name()) : std::string();
}

std::string XMLElement::getText() const {
    return node_ ? std::string(toNode(node_).text().get()) : std::string();
}

void XMLElement::setText(const std::string& text) {
    if (node_) toNode(node_).text().set(text.c_str(), text.size());
}

void XMLElement::addAttribute(const std::string& name, const std::string& value) {
    if (!node_) return;
    pugi::xml_node node = toNode(node_);
    // An existing attribute keeps its position; only its value changes.
    pugi::xml_attribute attribute = node.attribute(name.c_str());
    if (!attribute) attribute = node.append_attribute(name.c_str());
    attribute.set_value(value.c_str(), value.size());
}

void XMLElement::addAttribute(const std::string& name, const char* value) {
    addAttribute(name, std::string(value ? value : ""));
}

void XMLElement::addAttribute(const std::string& name, int64_t value) {
    addAttribute(name, std::to_string(value));
}

std::string XMLElement::getAttribute(const std::string& name) const {
    if (!node_) return std::string();
    return toNode(node_).attribute(name.c_str()).value();
}

bool XMLElement::getAttribute(const std::string& name, int64_t& value) const {
    if (!node_) return false;
    pugi::xml_attribute attribute = toNode(node_).attribute(name.c_str());
    if (!attribute) return false;
    // The whole text must be an optionally negative decimal number that fits:
    // no sign "+", no blanks, no trailing characters.
    const std::string text = attribute.value();
    int64_t parsed = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, parsed, 10);
    if (text.empty() || error != std::errc() || stop != end) return false;
    value = parsed;
    return true;
}

bool XMLElement::hasAttribute(const std::string& name) const {
    return node_ && toNode(node_).attribute(name.c_str());
}

std::vector<std::string> XMLElement::getAttributeNames() const {
    std::vector<std::string> names;
    if (!node_) return names;
    for (pugi::xml_attribute attribute : toNode(node_).attributes())
        names.emplace_back(attribute.name());
    return names;
}

bool XMLElement::removeAttribute(const std::string& name) {
    return node_ && toNode(node_).remove_attribute(name.c_str());
}

}  // namespace CfCppHelperV1

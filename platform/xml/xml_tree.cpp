// Structural operations of an element: children, lookups, insertion, deep
// copies and removal.
#include "cf_cpp_helper.h"
#include "node_access.h"

namespace CfCppHelperV1 {

using cfhelper::toHandle;
using cfhelper::toNode;

namespace {

// The position before which a new child goes: ref when it is a child of
// parent, otherwise none (the child is appended).
pugi::xml_node insertionPoint(pugi::xml_node parent, const XMLElement& ref) {
    if (ref.isEmpty()) return pugi::xml_node();
    pugi::xml_node candidate = toNode(ref.node());
    return candidate.parent() == parent ? candidate : pugi::xml_node();
}

// First element below root (root excluded) in document order that is named
// elementName and whose attribute equals value.
pugi::xml_node findDescendant(pugi::xml_node root, const std::string& elementName,
                              const std::string& attributeName, const std::string& value) {
    pugi::xml_node current = root.first_child();
    while (current && current != root) {
        if (current.type() == pugi::node_element && elementName == current.name()) {
            pugi::xml_attribute attribute = current.attribute(attributeName.c_str());
            if (attribute && value == attribute.value()) return current;
        }
        // Pre-order walk without recursion, so deep documents cannot
        // exhaust the stack.
        if (current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current != root && !current.next_sibling()) current = current.parent();
        if (current != root) current = current.next_sibling();
    }
    return pugi::xml_node();
}

}  // namespace

XMLElement XMLElement::addElement(const std::string& name) {
    if (!node_) return XMLElement();
    return XMLElement(toHandle(toNode(node_).append_child(name.c_str())));
}

namespace {

// The first element at or after node among its siblings that carries name
// (any element for an empty name).
CFXML* matchFrom(pugi::xml_node node, const std::string& name) {
    for (; node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element) continue;
        if (name.empty() || name == node.name()) return toHandle(node);
    }
    return nullptr;
}

}  // namespace

XMLElementIterator XMLElement::getElementsDirect(const std::string& name) const {
    if (!node_) return XMLElementIterator();
    return XMLElementIterator(matchFrom(toNode(node_).first_child(), name), name);
}

XMLElement XMLElementIterator::next() {
    if (!next_) return XMLElement();
    XMLElement current(next_);
    next_ = matchFrom(toNode(next_).next_sibling(), name_);
    return current;
}

size_t XMLElementIterator::count() const {
    size_t n = 0;
    for (CFXML* at = next_; at; at = matchFrom(toNode(at).next_sibling(), name_)) ++n;
    return n;
}

XMLElement XMLElement::getElementByAttribute(const std::string& elementName,
                                             const std::string& attributeName,
                                             const std::string& value) const {
    pugi::xml_node found;
    if (node_) found = findDescendant(toNode(node_), elementName, attributeName, value);
    if (!found)
        throw XMLException("no element " + elementName + " with " + attributeName + "=\"" +
                           value + "\"");
    return XMLElement(toHandle(found));
}

XMLElement XMLElement::insertElementBefore(const std::string& name, const XMLElement& ref) {
    if (!node_) return XMLElement();
    pugi::xml_node parent = toNode(node_);
    pugi::xml_node before = insertionPoint(parent, ref);
    pugi::xml_node added = before ? parent.insert_child_before(name.c_str(), before)
                                  : parent.append_child(name.c_str());
    return XMLElement(toHandle(added));
}

XMLElement XMLElement::copyElement(const XMLElement& source) {
    if (!node_ || source.isEmpty()) return XMLElement();
    // pugixml copies every string when the source lives in another document,
    // so the copy does not depend on the source's storage.
    return XMLElement(toHandle(toNode(node_).append_copy(toNode(source.node()))));
}

XMLElement XMLElement::copyElementBefore(const XMLElement& source, const XMLElement& ref) {
    if (!node_ || source.isEmpty()) return XMLElement();
    pugi::xml_node parent = toNode(node_);
    pugi::xml_node before = insertionPoint(parent, ref);
    pugi::xml_node proto = toNode(source.node());
    pugi::xml_node added =
        before ? parent.insert_copy_before(proto, before) : parent.append_copy(proto);
    return XMLElement(toHandle(added));
}

bool XMLElement::removeElement(const XMLElement& child) {
    if (!node_ || child.isEmpty()) return false;
    pugi::xml_node node = toNode(child.node());
    if (node.parent() != toNode(node_)) return false;
    // pugixml frees a removed subtree by recursing once per level, which a
    // deep subtree would turn into a stack overflow. Its nodes are removed
    // leaf by leaf first, deepest first, so that each removal frees a
    // single node.
    pugi::xml_node current = node;
    while (current != node || current.first_child()) {
        if (current.first_child()) {
            current = current.last_child();
            continue;
        }
        pugi::xml_node parent = current.parent();
        parent.remove_child(current);
        current = parent;
    }
    return toNode(node_).remove_child(node);
}

XMLElement XMLElement::getParent() const {
    if (!node_) return XMLElement();
    pugi::xml_node parent = toNode(node_).parent();
    // The document node above the root element is not an element.
    if (parent.type() != pugi::node_element) return XMLElement();
    return XMLElement(toHandle(parent));
}

}  // namespace CfCppHelperV1

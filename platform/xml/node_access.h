// Conversions between the host's opaque XML handles and the pugixml objects
// behind them. A CFXML* is a pugi::xml_node_struct*; a CFXMLDoc* is a
// heap-allocated pugi::xml_document.
#ifndef SPLIT_PLATFORM_XML_NODE_ACCESS_H
#define SPLIT_PLATFORM_XML_NODE_ACCESS_H

#include <pugixml.hpp>

#include "cf_cpp_helper.h"

namespace cfhelper {

inline pugi::xml_node toNode(CFXML* handle) {
    return pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(handle));
}

inline CFXML* toHandle(pugi::xml_node node) {
    return reinterpret_cast<CFXML*>(node.internal_object());
}

inline pugi::xml_document* toDocument(CFXMLDoc* storage) {
    return reinterpret_cast<pugi::xml_document*>(storage);
}

inline CFXMLDoc* toStorage(pugi::xml_document* document) {
    return reinterpret_cast<CFXMLDoc*>(document);
}

}  // namespace cfhelper

#endif

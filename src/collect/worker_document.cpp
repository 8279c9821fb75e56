#include "collect/worker_document.h"

#include <cstdint>
#include <vector>

using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;
using CfCppHelperV1::XMLException;

namespace {

bool IsXmlCharacter(uint32_t c) {
    if (c < 0x20) return c == 0x09 || c == 0x0A || c == 0x0D;
    if (c <= 0xD7FF) return true;
    if (c < 0xE000) return false;  // surrogates
    if (c <= 0xFFFD) return true;
    return c >= 0x10000 && c <= 0x10FFFF;
}

// Walks the tree without recursion, keeping one child iterator per level,
// and stops as soon as an element lies deeper than the limit.
bool NestedWithin(const XMLElement& root, size_t limit) {
    std::vector<XMLElementIterator> levels{root.getElementsDirect("")};
    while (!levels.empty()) {
        if (!levels.back().hasMore()) {
            levels.pop_back();
            continue;
        }
        const XMLElement child = levels.back().next();  // at depth levels.size() + 1
        if (levels.size() >= limit) return false;
        levels.push_back(child.getElementsDirect(""));
    }
    return true;
}

}  // namespace

bool HoldsOnlyXmlCharacters(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            if (!IsXmlCharacter(lead)) return false;
            ++p;
            continue;
        }
        // Sequence length and the least code point it may encode: a longer
        // form of a smaller code point is not UTF-8.
        size_t length;
        uint32_t c, least;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, c = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, c = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, c = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < length) return false;
        for (size_t i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (c < least || !IsXmlCharacter(c)) return false;
        p += length;
    }
    return true;
}

XMLDocument ParseWorkerDocument(CfCppHelperV1::HostHelper& helper, const std::string& text) {
    if (!HoldsOnlyXmlCharacters(text))
        throw XMLException("XML text holds bytes that are not XML characters in UTF-8");
    XMLDocument document = helper.createFromContents(text);
    if (!NestedWithin(document, kMaxWorkerDocumentDepth)) {
        document.dispose();
        throw XMLException("XML text nests elements deeper than " +
                           std::to_string(kMaxWorkerDocumentDepth));
    }
    return document;
}

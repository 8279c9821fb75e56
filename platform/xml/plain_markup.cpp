// Finds the rare bytes with memchr and looks at each hit, so a text costs
// a fraction of an instruction per byte; the tree check visits each
// element and attribute once, without recursion.
#include "plain_markup.h"

#include <cstring>

namespace cfhelper {

namespace {

// True when some c in text[from, end) follows a '<'.
bool followsLess(std::string_view text, size_t from, char c) {
    const char* data = text.data();
    const char* end = data + text.size();
    for (const char* at = data + from;
         at < end && (at = static_cast<const char*>(std::memchr(at, c, end - at))) != nullptr;
         ++at)
        if (at > data && at[-1] == '<') return true;
    return false;
}

}  // namespace

bool isPlainMarkup(std::string_view text) {
    if (std::memchr(text.data(), '\0', text.size()) != nullptr) return false;
    if (std::memchr(text.data(), '&', text.size()) != nullptr) return false;
    if (followsLess(text, 0, '!')) return false;
    size_t from = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    if (text.substr(from, 2) == "<?") {
        const size_t end = text.find("?>", from + 2);
        if (end == std::string_view::npos) return false;
        from = end + 2;
    }
    return !followsLess(text, from, '?');
}

std::string screenPlainTree(const pugi::xml_document& document) {
    for (pugi::xml_node child = document.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_pcdata) return "character data outside the root element";
    pugi::xml_node current = document.first_child();
    while (current) {
        for (pugi::xml_attribute a = current.first_attribute(); a; a = a.next_attribute())
            if (std::strchr(a.value(), '<') != nullptr) return "'<' inside an attribute value";
        if (pugi::xml_node child = current.first_child()) {
            current = child;
            continue;
        }
        while (current && !current.next_sibling()) current = current.parent();
        if (current) current = current.next_sibling();
    }
    return std::string();
}

}  // namespace cfhelper

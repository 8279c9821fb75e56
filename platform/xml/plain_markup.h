// The common case of the screen before a parse: a text that holds nothing
// the parser could take differently from what the text says.
#ifndef SPLIT_PLATFORM_XML_PLAIN_MARKUP_H
#define SPLIT_PLATFORM_XML_PLAIN_MARKUP_H

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace cfhelper {

// True when the text holds no zero byte, no '&', no "<!" (comments, CDATA
// sections, document types) and no "<?" but an opening declaration (after
// a UTF-8 byte order mark, if any). Such a text needs only two of the
// screen's checks, and both can be made on the parsed tree, which is far
// cheaper than a scan of the text: parsed as a fragment, character data
// outside the root element shows as a text node beside the root, and with
// no references a '<' in an attribute value can only have stood there
// itself. Every other text goes through screenMarkup before its parse.
bool isPlainMarkup(std::string_view text);

// For a plain text parsed as a fragment: empty when the tree may be taken,
// else the reason the text is refused, as screenMarkup would give it.
std::string screenPlainTree(const pugi::xml_document& document);

}  // namespace cfhelper

#endif

// Screening of XML text before it is parsed.
#ifndef SPLIT_PLATFORM_XML_MARKUP_GUARD_H
#define SPLIT_PLATFORM_XML_MARKUP_GUARD_H

#include <string>
#include <string_view>

namespace cfhelper {

// Empty when the text may be parsed, else the reason it is refused. Refused:
// any markup declaration (<!DOCTYPE ...>, <!ENTITY ...>), so no DTD is ever
// read, and any reference other than the five predefined entities and
// numeric character references, since nothing could define it; and
// character data outside the root element, which the parser would drop; and
// zero bytes anywhere.
std::string screenMarkup(std::string_view text);

}  // namespace cfhelper

#endif

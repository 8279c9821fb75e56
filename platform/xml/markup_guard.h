// Screening of XML text before it is parsed.
#ifndef SPLIT_PLATFORM_XML_MARKUP_GUARD_H
#define SPLIT_PLATFORM_XML_MARKUP_GUARD_H

#include <string>
#include <string_view>

namespace cfhelper {

// Empty when the text may be parsed, else the reason it is refused. A
// document type declaration is accepted and skipped when nothing in it
// changes the document: it may name an external subset (never read) and its
// internal subset may hold element type and notation declarations, comments
// and processing instructions. Refused: attribute-list and entity
// declarations and parameter entity references, which this parser does not
// apply; any reference other than the five predefined entities and numeric
// character references, since nothing defines it; a character reference to
// U+0000, a surrogate, U+FFFE, U+FFFF or past U+10FFFF, which the parser
// would turn into bytes no document may hold (references to the other
// control characters are read, as XML 1.1 reads them: the writer escapes
// control bytes that way); character data outside the root
// element; and zero bytes anywhere.
std::string screenMarkup(std::string_view text);

// Whether a numeric character reference, given as what stands between "&#"
// and ";" ("65", "x41"), names a character a document may hold: any but
// U+0000, the surrogates, U+FFFE, U+FFFF and codes past U+10FFFF. Control
// characters are allowed (the writer escapes control bytes that way); a
// malformed reference (no digits, a wrong digit, an upper-case "X") is not.
bool namesAllowedCharacter(std::string_view reference);

}  // namespace cfhelper

#endif

// The encoding of an XML text, and its conversion to UTF-8 before parsing.
#ifndef SPLIT_PLATFORM_XML_TEXT_ENCODING_H
#define SPLIT_PLATFORM_XML_TEXT_ENCODING_H

#include <optional>
#include <string>
#include <string_view>

namespace cfhelper {

// The text converted to UTF-8, ready for the parser and the markup screen;
// nullopt when it is to be taken as it is (most texts), so that it need not
// be copied.
//
// The encoding is taken from a byte order mark (UTF-8, UTF-16 either way
// round), from the first bytes of a UTF-16 text without one ("<?" in either
// byte order), or else from the encoding the XML declaration names.
// ISO-8859-1 and windows-1252 texts are converted; UTF-8, US-ASCII and
// texts without a declaration are taken as they are. A text declaring any
// other encoding is also kept byte for byte: its bytes reach the document
// unchanged rather than being refused. Throws std::runtime_error for UTF-16
// that is cut short or holds an unpaired surrogate.
std::optional<std::string> convertedToUtf8(std::string_view text);

}  // namespace cfhelper

#endif

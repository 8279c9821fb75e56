// Text from the data, made safe to print on a terminal.
#ifndef SPLITRUN_VISIBLE_TEXT_H
#define SPLITRUN_VISIBLE_TEXT_H

#include <string>
#include <string_view>

namespace splitrun {

// The text with every control character (bytes 0x00 to 0x1F and 0x7F, and the
// C1 controls U+0080 to U+009F) written as an escape: \t, \n, \r, or \xHH
// for each byte otherwise (an escape sequence in a key cannot reach the
// terminal), a byte that is no part of a well-formed UTF-8 character as \xHH
// too (Latin-1 text prints as what it is, not as a replacement character),
// and a backslash written twice so the escapes stay unambiguous. Every other
// character is kept.
std::string visibleText(std::string_view text);

// When the first bytes of an input look like UTF-16 text (a byte order mark,
// or ASCII characters each paired with a zero byte), what to tell the user:
// "the file is UTF-16 text (...); convert it to UTF-8 ..."; otherwise empty.
std::string utf16Hint(std::string_view head);

}  // namespace splitrun

#endif

// Text from the data, made safe to print on a terminal.
#ifndef SPLITRUN_VISIBLE_TEXT_H
#define SPLITRUN_VISIBLE_TEXT_H

#include <string>
#include <string_view>

namespace splitrun {

// The text with every control character (bytes 0x00 to 0x1F and 0x7F) written
// as an escape: \t, \n, \r, or \xHH otherwise (an escape sequence in a key
// cannot reach the terminal), and a backslash written twice so the escapes
// stay unambiguous. Every other byte, UTF-8 included, is kept.
std::string visibleText(std::string_view text);

// When the first bytes of an input look like UTF-16 text (a byte order mark,
// or ASCII characters each paired with a zero byte), what to tell the user:
// "the file is UTF-16 text (...); convert it to UTF-8 ..."; otherwise empty.
std::string utf16Hint(std::string_view head);

}  // namespace splitrun

#endif

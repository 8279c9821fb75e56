#include "visible_text.h"

#include <algorithm>
#include <cstdio>

namespace splitrun {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text` (no
// overlong forms, surrogates or code points past U+10FFFF), or 0.
std::size_t utf8Length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;   // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

void appendEscape(std::string& shown, unsigned char byte)
{
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02X", byte);
    shown += escape;
}

}  // namespace

std::string visibleText(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\t': shown += "\\t"; break;
        case '\n': shown += "\\n"; break;
        case '\r': shown += "\\r"; break;
        case '\\': shown += "\\\\"; break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                appendEscape(shown, byte);
            } else if (byte < 0x80) {
                shown += c;
            } else if (const std::size_t length = utf8Length(text.substr(i));
                       length != 0 && !(byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
                shown.append(text.substr(i, length));
                i += length - 1;
            } else {
                // A byte of no UTF-8 character, or a C1 control (U+0080 to
                // U+009F), which some terminals obey as they do ESC.
                appendEscape(shown, byte);
            }
        }
    }
    return shown;
}

std::string utf16Hint(std::string_view head)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    std::string order;
    bool mark = false;
    if (head.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) order = "little-endian", mark = true;
    else if (head.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) order = "big-endian", mark = true;
    else {
        // Without a mark: the first characters (up to 32) are ASCII, each
        // with its zero byte after it (little-endian) or before it.
        const std::size_t pairs = std::min<std::size_t>(head.size() / 2, 32);
        bool little = pairs >= 2, big = pairs >= 2;
        for (std::size_t i = 0; i < pairs; ++i) {
            const unsigned char a = byte(2 * i), b = byte(2 * i + 1);
            little = little && a != 0 && a < 0x80 && b == 0;
            big = big && a == 0 && b != 0 && b < 0x80;
        }
        if (!little && !big) return "";
        order = little ? "little-endian" : "big-endian";
    }
    return "the file is UTF-16 text (" + order + (mark ? ", with a byte order mark" : ", without a byte order mark") +
           "); convert it to UTF-8, for example with iconv -f UTF-16" + (mark ? "" : order == "little-endian" ? "LE" : "BE") +
           " -t UTF-8";
}

}  // namespace splitrun

#include "visible_text.h"

#include <algorithm>
#include <cstdio>

namespace splitrun {

std::string visibleText(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\t': shown += "\\t"; break;
        case '\n': shown += "\\n"; break;
        case '\r': shown += "\\r"; break;
        case '\\': shown += "\\\\"; break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\x%02X", byte);
                shown += escape;
            } else {
                shown += c;
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

#include "visible_text.h"

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

}  // namespace splitrun

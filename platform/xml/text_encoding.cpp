// Detection of a text's encoding and conversion to UTF-8. Everything after
// this step works on UTF-8 (or on bytes kept as they came, see the header).
#include "text_encoding.h"

#include <cctype>
#include <cstdint>
#include <stdexcept>

namespace cfhelper {

namespace {

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string fromUtf16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) throw std::runtime_error("UTF-16 text cut short");
    auto unit = [&](size_t i) -> uint32_t {
        const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        return (uint32_t{hi} << 8) | lo;
    };
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF) {
            const uint32_t low = i + 3 < bytes.size() ? unit(i + 2) : 0;
            if (low < 0xDC00 || low > 0xDFFF) throw std::runtime_error("unpaired UTF-16 surrogate");
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            throw std::runtime_error("unpaired UTF-16 surrogate");
        }
        appendUtf8(out, c);
    }
    return out;
}

// windows-1252 bytes 0x80 to 0x9F; 0 where the code page assigns nothing
// (those bytes are taken as the ISO-8859-1 control characters).
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string fromSingleByte(std::string_view bytes, bool windows1252) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        uint32_t c = b;
        if (windows1252 && b >= 0x80 && b <= 0x9F && kWindows1252High[b - 0x80] != 0)
            c = kWindows1252High[b - 0x80];
        appendUtf8(out, c);
    }
    return out;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The encoding named by the XML declaration at the start of text, lower
// case; empty when there is no declaration or it names none.
std::string declaredEncoding(std::string_view text) {
    if (text.substr(0, 5) != "<?xml") return std::string();
    const size_t end = text.find("?>");
    const std::string_view declaration = text.substr(0, end);
    size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) return std::string();
    at += 8;
    while (at < declaration.size() && (declaration[at] == ' ' || declaration[at] == '=' ||
                                       declaration[at] == '\t' || declaration[at] == '\r' ||
                                       declaration[at] == '\n'))
        ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return std::string();
    const size_t close = declaration.find(declaration[at], at + 1);
    if (close == std::string_view::npos) return std::string();
    return lowered(declaration.substr(at + 1, close - at - 1));
}

}  // namespace

std::optional<std::string> convertedToUtf8(std::string_view text) {
    auto startsWith = [&](std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; };
    if (startsWith("\xFE\xFF")) return fromUtf16(text.substr(2), true);
    if (startsWith("\xFF\xFE")) return fromUtf16(text.substr(2), false);
    if (startsWith(std::string_view("\0<\0?", 4))) return fromUtf16(text, true);
    if (startsWith(std::string_view("<\0?\0", 4))) return fromUtf16(text, false);

    const std::string encoding = declaredEncoding(text);
    if (encoding == "iso-8859-1" || encoding == "latin1" || encoding == "iso_8859-1" ||
        encoding == "l1" || encoding == "cp819")
        return fromSingleByte(text, false);
    if (encoding == "windows-1252" || encoding == "cp1252") return fromSingleByte(text, true);
    return std::nullopt;
}

}  // namespace cfhelper

// A single forward scan over the raw text that skips comments, CDATA
// sections, processing instructions and a document type declaration whose
// declarations change nothing in the document, and checks every '&' in
// character data and attribute values. It tracks element
// depth only to spot text outside the root; nesting itself is the parser's
// business.
#include "markup_guard.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace cfhelper {

namespace {

// Empty when text[pos] == '&' starts a reference the parser resolves itself
// (a predefined entity, or a character reference to a character it may
// name), else why it is refused, naming the reference. The name is read
// only over name characters, so a stray '&' costs no more than the
// characters that follow it up to the first other character.
std::string referenceFault(std::string_view text, size_t pos) {
    size_t end = pos + 1;
    auto isNameChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '#'; };
    while (end < text.size() && isNameChar(text[end])) ++end;
    if (end >= text.size() || text[end] != ';') return "undefined entity reference";
    std::string_view name = text.substr(pos + 1, end - pos - 1);
    if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos")
        return std::string();
    if (name.size() < 2 || name[0] != '#') return "undefined entity reference";
    if (namesAllowedCharacter(name.substr(1))) return std::string();
    constexpr size_t kShown = 24;
    const std::string_view shown = text.substr(pos, std::min(end + 1 - pos, kShown));
    return "character reference '" + std::string(shown) + (end + 1 - pos > kShown ? "...'" : "'") +
           " names a character that XML does not allow";
}

bool startsWith(std::string_view text, size_t pos, std::string_view prefix) {
    return text.substr(pos, prefix.size()) == prefix;
}

// Skips a construct that runs to terminator; npos when it never ends.
size_t skipPast(std::string_view text, size_t pos, std::string_view terminator) {
    size_t end = text.find(terminator, pos);
    return end == std::string_view::npos ? end : end + terminator.size();
}

// The bytes the scanners stop at, one bit per kind, so that each loop runs
// over ordinary bytes with a single table lookup.
enum : unsigned char { kLess = 1, kAmp = 2, kDouble = 4, kSingle = 8, kGreater = 16 };

constexpr std::array<unsigned char, 256> kStops = [] {
    std::array<unsigned char, 256> stops{};
    stops['<'] = kLess;
    stops['&'] = kAmp;
    stops['"'] = kDouble;
    stops['\''] = kSingle;
    stops['>'] = kGreater;
    return stops;
}();

// The first position at or after pos whose byte is one of mask, or the
// text's size.
size_t findStop(std::string_view text, size_t pos, unsigned char mask) {
    const size_t size = text.size();
    const unsigned char* data = reinterpret_cast<const unsigned char*>(text.data());
    auto stops = [&](size_t at) { return (kStops[data[at]] & mask) != 0; };
    // Four bytes per bounds check.
    for (; pos + 4 <= size; pos += 4) {
        if (stops(pos)) return pos;
        if (stops(pos + 1)) return pos + 1;
        if (stops(pos + 2)) return pos + 2;
        if (stops(pos + 3)) return pos + 3;
    }
    while (pos < size && !stops(pos)) ++pos;
    return pos;
}

// Scans a tag from its '<' to just past its '>', checking quoted values.
size_t scanTag(std::string_view text, size_t pos, std::string& reason) {
    size_t i = pos + 1;
    while ((i = findStop(text, i, kDouble | kSingle | kGreater)) < text.size()) {
        const char c = text[i];
        if (c == '>') return i + 1;
        // A quoted value runs to the same quote; it may not hold '<', and
        // each '&' in it must start a known reference.
        const unsigned char inValue = (c == '"' ? kDouble : kSingle) | kLess | kAmp;
        for (i = findStop(text, i + 1, inValue); i < text.size() && text[i] != c;
             i = findStop(text, i + 1, inValue)) {
            if (text[i] == '<') {
                reason = "'<' inside an attribute value";
                return std::string_view::npos;
            }
            reason = referenceFault(text, i);
            if (!reason.empty()) return std::string_view::npos;
        }
        if (i == text.size()) break;
        ++i;
    }
    reason = "unterminated tag";
    return std::string_view::npos;
}

// How a tag changes the element depth: +1 start tag, -1 end tag, 0 empty
// element tag. end is just past the tag's '>'.
int depthChange(std::string_view text, size_t pos, size_t end) {
    if (text[pos + 1] == '/') return -1;
    return text[end - 2] == '/' ? 0 : 1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Skips a quoted literal that starts at pos; npos when it never ends.
size_t skipLiteral(std::string_view text, size_t pos) {
    const size_t close = text.find(text[pos], pos + 1);
    return close == std::string_view::npos ? close : close + 1;
}

// Scans a markup declaration of the internal subset from its "<!" to just
// past its '>'. Element type and notation declarations only constrain a
// validating parser, so they are skipped. Attribute-list declarations (which
// may add default attributes) and entity declarations would change what the
// document holds; this parser does not apply them, so they are refused
// rather than silently ignored.
size_t scanSubsetDeclaration(std::string_view text, size_t pos, std::string& reason) {
    if (!startsWith(text, pos, "<!ELEMENT") && !startsWith(text, pos, "<!NOTATION")) {
        reason = "attribute-list and entity declarations are not applied, so not accepted";
        return std::string_view::npos;
    }
    for (size_t i = pos + 2; i < text.size();) {
        if (text[i] == '>') return i + 1;
        if (text[i] == '"' || text[i] == '\'') {
            i = skipLiteral(text, i);
            if (i == std::string_view::npos) break;
        } else {
            ++i;
        }
    }
    reason = "unterminated markup declaration";
    return std::string_view::npos;
}

// Scans a document type declaration from its '<' to just past its '>'. The
// external subset it may name is never read.
size_t scanDoctype(std::string_view text, size_t pos, std::string& reason) {
    size_t i = pos + 9;  // past "<!DOCTYPE"
    bool subsetDone = false;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '>') return i + 1;
        if (c == '"' || c == '\'') {
            i = skipLiteral(text, i);
            if (i == std::string_view::npos) break;
            continue;
        }
        if (c != '[' || subsetDone) {
            ++i;
            continue;
        }
        // The internal subset, up to its ']'.
        ++i;
        while (i < text.size() && text[i] != ']') {
            if (isBlank(text[i])) {
                ++i;
            } else if (startsWith(text, i, "<!--")) {
                i = skipPast(text, i + 4, "-->");
            } else if (startsWith(text, i, "<?")) {
                i = skipPast(text, i + 2, "?>");
            } else if (startsWith(text, i, "<!")) {
                i = scanSubsetDeclaration(text, i, reason);
                if (i == std::string_view::npos) return i;
            } else {
                reason = text[i] == '%' ? "parameter entity references are not accepted"
                                        : "unexpected text in the internal subset";
                return std::string_view::npos;
            }
            if (i == std::string_view::npos) break;
        }
        if (i == std::string_view::npos || i >= text.size()) break;
        subsetDone = true;
        ++i;
    }
    reason = "unterminated document type declaration";
    return std::string_view::npos;
}

}  // namespace

bool namesAllowedCharacter(std::string_view reference) {
    const bool hex = !reference.empty() && reference[0] == 'x';
    const std::string_view digits = reference.substr(hex ? 1 : 0);
    if (digits.empty()) return false;
    unsigned long code = 0;
    for (unsigned char c : digits) {
        if (!(hex ? std::isxdigit(c) : std::isdigit(c))) return false;
        code = code * (hex ? 16 : 10) + (std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
        if (code > 0x10FFFF) return false;
    }
    return (code >= 0x1 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) || code >= 0x10000;
}

std::string screenMarkup(std::string_view text) {
    // XML cannot carry a zero byte, and the parser would take one for the
    // end of the text and silently drop what follows.
    if (text.find('\0') != std::string_view::npos) return "zero byte in the text";
    std::string reason;
    long depth = 0;
    bool rootSeen = false;
    bool doctypeSeen = false;
    // A UTF-8 byte order mark may open the text.
    size_t pos = startsWith(text, 0, "\xEF\xBB\xBF") ? 3 : 0;
    while (pos < text.size()) {
        char c = text[pos];
        if (c != '<') {
            // Outside the root element only blanks may appear.
            if (depth == 0) {
                if (!isBlank(c)) return "character data outside the root element";
                ++pos;
                continue;
            }
            // Character data: only its references need a look.
            pos = findStop(text, pos, kLess | kAmp);
            if (pos < text.size() && text[pos] == '&') {
                if (std::string fault = referenceFault(text, pos); !fault.empty()) return fault;
                ++pos;
            }
        } else if (pos + 1 == text.size() || (text[pos + 1] != '!' && text[pos + 1] != '?')) {
            // A start or end tag, by far the most common markup, is told
            // apart by its second character before the rarer constructs.
            size_t end = scanTag(text, pos, reason);
            if (end == std::string_view::npos) return reason;
            depth += depthChange(text, pos, end);
            rootSeen = true;
            pos = end;
        } else if (startsWith(text, pos, "<!--")) {
            pos = skipPast(text, pos + 4, "-->");
            if (pos == std::string_view::npos) return "unterminated comment";
        } else if (startsWith(text, pos, "<![CDATA[")) {
            if (depth == 0) return "CDATA section outside the root element";
            pos = skipPast(text, pos + 9, "]]>");
            if (pos == std::string_view::npos) return "unterminated CDATA section";
        } else if (startsWith(text, pos, "<?")) {
            pos = skipPast(text, pos + 2, "?>");
            if (pos == std::string_view::npos) return "unterminated processing instruction";
        } else if (startsWith(text, pos, "<!DOCTYPE")) {
            if (depth != 0 || rootSeen || doctypeSeen)
                return "document type declaration after the root element starts";
            doctypeSeen = true;
            pos = scanDoctype(text, pos, reason);
            if (pos == std::string_view::npos) return reason;
        } else {
            return "markup declarations outside a document type declaration";
        }
    }
    return std::string();
}

}  // namespace cfhelper

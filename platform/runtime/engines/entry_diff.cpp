#include "entry_diff.h"

#include <algorithm>
#include <cstring>

namespace splitrun {

namespace {

// The documents and their bases share all but a few hundred of their
// thousands of bytes, so the shared ends are compared a block at a time
// (memcmp) and only the block that differs byte by byte.
constexpr std::size_t kBlock = 64;

std::size_t commonPrefix(const char* a, const char* b, std::size_t length)
{
    std::size_t at = 0;
    while (length - at >= kBlock && std::memcmp(a + at, b + at, kBlock) == 0) at += kBlock;
    while (at < length && a[at] == b[at]) ++at;
    return at;
}

// The length of the common suffix of the texts ending at `aEnd` and `bEnd`,
// at most `length`.
std::size_t commonSuffix(const char* aEnd, const char* bEnd, std::size_t length)
{
    std::size_t at = 0;
    while (length - at >= kBlock && std::memcmp(aEnd - at - kBlock, bEnd - at - kBlock, kBlock) == 0) at += kBlock;
    while (at < length && aEnd[-1 - static_cast<std::ptrdiff_t>(at)] == bEnd[-1 - static_cast<std::ptrdiff_t>(at)])
        ++at;
    return at;
}

// A shorter line is cheaper kept as it is than as a reference.
constexpr std::size_t kShortestShared = 8;

std::size_t lineEnd(std::string_view text, std::size_t from)
{
    const std::size_t newline = text.find('\n', from);
    return newline == std::string_view::npos ? text.size() : newline + 1;
}

// A run of the document's own bytes followed by a run of the base's. No
// member initialisers: the array of them below is filled as it is used.
struct Piece {
    std::size_t ownFrom, ownLength;
    std::size_t sharedFrom, sharedLength;
};

}  // namespace

void appendEntryDiff(std::string& out, std::string_view document, std::string_view base)
{
    const std::size_t shorter = std::min(document.size(), base.size());
    const std::size_t prefix = commonPrefix(document.data(), base.data(), shorter);
    const std::size_t suffix =
        commonSuffix(document.data() + document.size(), base.data() + base.size(), shorter - prefix);
    appendVarint(out, prefix);
    appendVarint(out, suffix);

    // The document's middle, line by line, against the base's lines that
    // overlap its middle, in order: each line found at or after the last
    // one found is shared, any other is the document's own.
    const std::string_view middle = document.substr(prefix, document.size() - prefix - suffix);
    const std::size_t lastNewline = prefix == 0 ? std::string_view::npos : base.rfind('\n', prefix - 1);
    std::size_t cursor = lastNewline == std::string_view::npos ? 0 : lastNewline + 1;
    const std::size_t searchEnd = lineEnd(base, base.size() - suffix);
    Piece pieces[64];
    std::size_t count = 0;
    std::size_t own = 0;  // where the document's own bytes not yet in a piece start
    for (std::size_t line = 0; line < middle.size();) {
        const std::size_t end = lineEnd(middle, line);
        const std::size_t length = end - line;
        std::size_t found = std::string_view::npos;
        if (length >= kShortestShared && count < std::size(pieces) - 1)
            for (std::size_t at = cursor; at + length <= searchEnd; at = lineEnd(base, at))
                if (std::memcmp(base.data() + at, middle.data() + line, length) == 0) {
                    found = at;
                    break;
                }
        if (found != std::string_view::npos) {
            Piece* last = count ? &pieces[count - 1] : nullptr;
            if (last && own == line && last->sharedFrom + last->sharedLength == found)
                last->sharedLength += length;
            else
                pieces[count++] = Piece{own, line - own, found, length};
            own = end;
            cursor = found + length;
        }
        line = end;
    }
    if (own < middle.size()) pieces[count++] = Piece{own, middle.size() - own, 0, 0};

    appendVarint(out, count);
    for (std::size_t i = 0; i < count; ++i) {
        const Piece& piece = pieces[i];
        appendCompactText(out, middle.substr(piece.ownFrom, piece.ownLength));
        appendVarint(out, piece.sharedLength);
        if (piece.sharedLength > 0) appendVarint(out, piece.sharedFrom);
    }
}

std::optional<std::string> readEntryDiff(CompactReader& in, std::string_view base)
{
    const std::uint64_t prefix = in.varint();
    const std::uint64_t suffix = in.varint();
    bool fits = prefix <= base.size() && suffix <= base.size() - prefix;
    std::string document;
    if (fits) document.append(base.substr(0, prefix));
    // The shared runs are disjoint lines of the base in order, so together
    // they are no longer than the base: bytes that say otherwise were not
    // written by appendEntryDiff, and must not make a document of any size.
    std::uint64_t shared = 0;
    for (std::uint64_t count = in.varint(); count > 0; --count) {
        const std::string_view own = in.text();
        const std::uint64_t sharedLength = in.varint();
        const std::uint64_t sharedFrom = sharedLength > 0 ? in.varint() : 0;
        fits = fits && sharedFrom <= base.size() && sharedLength <= base.size() - sharedFrom &&
               sharedLength <= base.size() - shared;
        shared += fits ? sharedLength : 0;
        if (fits) document.append(own).append(base.substr(sharedFrom, sharedLength));
    }
    if (!fits) return std::nullopt;
    document.append(base.substr(base.size() - suffix));
    return document;
}

}  // namespace splitrun

#include "compact_bytes.h"

#include <algorithm>
#include <cstring>

#include <refhost/wire.h>

namespace splitrun {

void appendVarint(std::string& out, std::uint64_t value)
{
    char bytes[10];
    std::size_t n = 0;
    while (value >= 0x80) {
        bytes[n++] = static_cast<char>((value & 0x7f) | 0x80);
        value >>= 7;
    }
    bytes[n++] = static_cast<char>(value);
    out.append(bytes, n);
}

void appendCompactText(std::string& out, std::string_view text)
{
    appendVarint(out, text.size());
    out.append(text);
}

void appendZeroPacked(std::string& out, std::string_view bytes)
{
    // Packed into a buffer of the worst case's size (every zero alone takes
    // two bytes), a byte at a time. The buffer is the thread's, kept from
    // call to call: filling it with zeros first cost as much as the packing.
    thread_local std::string packed;
    if (packed.size() < 2 * bytes.size()) packed.resize(2 * bytes.size());
    char* to = packed.data();
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    while (at < end) {
        // Eight bytes with no zero among them (most of a number's) go over
        // as they are.
        if (end - at >= 8) {
            std::uint64_t word;
            std::memcpy(&word, at, 8);
            if (((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) == 0) {
                std::memcpy(to, at, 8);
                to += 8;
                at += 8;
                continue;
            }
        }
        if (*at != 0) {
            *to++ = *at++;
            continue;
        }
        const char* const runEnd = at + std::min<std::ptrdiff_t>(255, end - at);
        const char* const runStart = at;
        // Long runs (a covariance of zeros, say) eight bytes at a time.
        for (std::uint64_t word; runEnd - at >= 8 && (std::memcpy(&word, at, 8), word == 0);) at += 8;
        while (at < runEnd && *at == 0) ++at;
        *to++ = 0;
        *to++ = static_cast<char>(at - runStart);
    }
    appendCompactText(out, std::string_view(packed.data(), static_cast<std::size_t>(to - packed.data())));
}

std::uint8_t CompactReader::byte()
{
    if (at_ >= bytes_.size()) throw refhost::WireError("the stored bytes end early");
    return static_cast<std::uint8_t>(bytes_[at_++]);
}

std::uint64_t CompactReader::varint()
{
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        const std::uint8_t next = byte();
        value |= static_cast<std::uint64_t>(next & 0x7f) << shift;
        if (!(next & 0x80)) return value;
    }
    throw refhost::WireError("a stored number is too long");
}

std::size_t CompactReader::length()
{
    const std::uint64_t value = varint();
    if (value > bytes_.size() - at_) throw refhost::WireError("a stored length runs past the end");
    return static_cast<std::size_t>(value);
}

std::string_view CompactReader::take(std::size_t count)
{
    if (count > bytes_.size() - at_) throw refhost::WireError("the stored bytes end early");
    const std::string_view taken = bytes_.substr(at_, count);
    at_ += count;
    return taken;
}

std::string CompactReader::zeroUnpacked()
{
    const std::string_view packed = text();
    std::string bytes;
    bytes.reserve(packed.size() * 2);
    for (std::size_t i = 0; i < packed.size(); ++i) {
        if (packed[i] != 0) {
            bytes.push_back(packed[i]);
            continue;
        }
        if (++i == packed.size() || packed[i] == 0) throw refhost::WireError("a stored run of zeros has no length");
        bytes.append(static_cast<unsigned char>(packed[i]), '\0');
    }
    return bytes;
}

void CompactReader::expectEnd() const
{
    if (at_ != bytes_.size()) throw refhost::WireError("the stored bytes run on past their end");
}

}  // namespace splitrun

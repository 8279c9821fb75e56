// The byte coding of what containers.db keeps of a group for the next
// build: unsigned numbers as variable-length integers (seven bits a byte,
// low bits first), texts as such a length and their bytes, and blocks with
// many zero bytes (the fixed-width numbers of the wire encoding) with every
// run of zeros as one zero byte and its length.
#ifndef SPLITRUN_COMPACT_BYTES_H
#define SPLITRUN_COMPACT_BYTES_H

#include <cstdint>
#include <string>
#include <string_view>

namespace splitrun {

void appendVarint(std::string& out, std::uint64_t value);
void appendCompactText(std::string& out, std::string_view text);
// `bytes` with each run of up to 255 zero bytes written as a zero and the
// run's length.
void appendZeroPacked(std::string& out, std::string_view bytes);

// Reads what the functions above write. Every read throws
// refhost::WireError when the bytes end early or do not decode.
class CompactReader {
public:
    explicit CompactReader(std::string_view bytes) : bytes_(bytes) {}
    std::uint8_t byte();
    std::uint64_t varint();
    // A length read as a varint, checked against the bytes left.
    std::size_t length();
    std::string_view take(std::size_t count);
    std::string_view text() { return take(length()); }
    std::string zeroUnpacked();  // a text written by appendZeroPacked
    std::size_t offset() const { return at_; }
    std::string_view consumedSince(std::size_t offset) const { return bytes_.substr(offset, at_ - offset); }
    void expectEnd() const;

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

}  // namespace splitrun

#endif

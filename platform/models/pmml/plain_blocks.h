// Skipping the plain part of a value eight bytes at a time: the writers and
// the segment copy look at every byte of every value for the few that need
// an escape, and most values hold none.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace splitmodels::detail {

// True when some byte of the word is below 32 (a control character or a
// zero byte) or equals a, b or c. Exact: no borrow crosses a byte unless
// that byte matched.
constexpr bool blockMaybeSpecial(std::uint64_t word, unsigned char a, unsigned char b, unsigned char c) {
  constexpr std::uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
  const auto zeroIn = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
  return ((word - ones * 32) & ~word & highs) | zeroIn(word ^ (ones * a)) | zeroIn(word ^ (ones * b)) |
         zeroIn(word ^ (ones * c));
}

// The first position from `at` on that starts a block of eight bytes
// holding a control character or a, b or c, or from which fewer than eight
// bytes are left. Every byte before it is plain; the caller's own byte loop
// goes on from there.
inline std::size_t skipPlainBlocks(std::string_view text, std::size_t at, unsigned char a, unsigned char b,
                                   unsigned char c) {
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    if (blockMaybeSpecial(word, a, b, c)) break;
  }
  return at;
}

}  // namespace splitmodels::detail

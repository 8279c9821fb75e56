// Decimal digits read eight at a time from a 64-bit word, and the short
// decimal numbers most files hold ("-12.345678") read that way. Inline, so
// that a parse loop reads its numbers without a call; the full readers are
// in value_parsing.h.
#ifndef SPLITRUN_DECIMAL_WORDS_H
#define SPLITRUN_DECIMAL_WORDS_H

#include <bit>
#include <cstdint>
#include <cstring>

namespace splitrun::decimalwords {

// Powers of ten that are exact doubles, and the first ones as integers.
inline constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// The powers up to 10^7, and their negations.
inline constexpr double kSignedPowers[2][8] = {{1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7},
                                               {-1e0, -1e1, -1e2, -1e3, -1e4, -1e5, -1e6, -1e7}};
inline constexpr std::uint64_t kIntPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The 8 bytes at p, each less '0': a digit becomes 0 to 9.
inline std::uint64_t loadDigits(const char* p)
{
    std::uint64_t chunk;
    std::memcpy(&chunk, p, sizeof chunk);
    return chunk ^ 0x3030303030303030u;
}

// The high bit of each byte of a loadDigits word that was not a digit.
// Adding 0x76 sets the high bit of a byte above 9; a carry out of a byte
// that is not a digit only reaches the bytes after it, so the first flagged
// byte is the first that is not a digit.
inline std::uint64_t nonDigits(std::uint64_t chunk)
{
    return ((chunk + 0x7676767676767676u) | chunk) & 0x8080808080808080u;
}

// The value of 8 digits (each byte 0 to 9, the first byte the most
// significant): pairs, then fours, then the eight, by multiplications.
inline std::uint64_t eightDigitValue(std::uint64_t v)
{
    v = v * 10 + (v >> 8);
    return (((v & 0x000000FF000000FFu) * (100 + (std::uint64_t{1000000} << 32))) +
            (((v >> 16) & 0x000000FF000000FFu) * (1 + (std::uint64_t{10000} << 32)))) >>
           32;
}

// How many of the 8 bytes at p are digits before the first other byte, and
// the value of those digits.
inline unsigned leadingDigits(const char* p, std::uint64_t* value)
{
    const std::uint64_t chunk = loadDigits(p);
    const std::uint64_t others = nonDigits(chunk);
    const unsigned count = others == 0 ? 8 : static_cast<unsigned>(std::countr_zero(others)) / 8;
    // The digits moved up, zero bytes before them, keep their value.
    *value = count == 0 ? 0 : eightDigitValue(chunk << (64 - 8 * count));
    return count;
}

// Reads the number at p when it has the shape most numbers in files have:
// an optional sign, up to 7 whole digits, and a point with up to 7 fraction
// digits or no point at all, then a byte that is neither a digit nor an
// exponent. The 17 bytes from p must be readable (the number may end well
// before them). At most 14 digits stay below 2^53 and 10^7 is exact, so the
// one division rounds correctly: the value strtod gives. Sets *value and
// *stop and returns true, or returns false and leaves both alone. `point`
// is a second byte read as the point (a decimal comma); a point is one
// either way.
[[gnu::always_inline]] inline bool readShortDecimal(const char* p, double* result, const char** stop,
                                                    char point = '.')
{
    if constexpr (std::endian::native != std::endian::little) return false;
    const bool negative = *p == '-';
    p += negative | (*p == '+');
    // Each part's digits are found by one load and counted in bits (8 a
    // digit): the first flagged byte's top bit is bit 8k + 7 for k digits.
    const std::uint64_t wholeWord = loadDigits(p);
    const std::uint64_t wholeEnds = nonDigits(wholeWord);
    if (wholeEnds == 0) return false;
    const unsigned wholeBits = static_cast<unsigned>(std::countr_zero(wholeEnds)) & ~7u;
    const char* next = p + wholeBits / 8;
    std::uint64_t fractionWord = 0;
    unsigned fractionBits = 0;
    if (*next == '.' || *next == point) {
        fractionWord = loadDigits(next + 1);
        const std::uint64_t fractionEnds = nonDigits(fractionWord);
        if (fractionEnds == 0) return false;
        fractionBits = static_cast<unsigned>(std::countr_zero(fractionEnds)) & ~7u;
        next += 1 + fractionBits / 8;
    }
    if ((*next | 0x20) == 'e' || wholeBits + fractionBits == 0) return false;
    // Each part's digits moved to the top of its word, the bytes before them
    // zero (a part without digits becomes zero: the shift is split in two so
    // that it never reaches 64).
    const std::uint64_t whole = (wholeWord << (63 - wholeBits)) << 1;
    const std::uint64_t fraction = (fractionWord << (63 - fractionBits)) << 1;
    // Up to 8 digits in all, the whole digits before the fraction's in one
    // word, converted once; more, each part on its own.
    const std::uint64_t mantissa =
        wholeBits + fractionBits <= 64
            ? eightDigitValue((whole >> fractionBits) | fraction)
            : eightDigitValue(whole) * kIntPowers[fractionBits / 8] + eightDigitValue(fraction);
    *stop = next;
    // Below 2^53, the conversion is exact whether signed or not. The sign
    // comes with the divisor: a quotient by -10^k is the negated quotient by
    // 10^k, bit for bit ("-0" reads as -0.0), with no branch on signs, which
    // in a column of mixed signs are not predictable.
    *result = static_cast<double>(static_cast<std::int64_t>(mantissa)) / kSignedPowers[negative][fractionBits / 8];
    return true;
}

// Reads the integer at p when it has an optional sign and 1 to 7 digits,
// then a byte that is not a digit. The 9 bytes from p must be readable. Sets
// *value and *stop and returns true, or returns false and leaves both alone.
[[gnu::always_inline]] inline bool readShortInteger(const char* p, std::int64_t* result, const char** stop)
{
    if constexpr (std::endian::native != std::endian::little) return false;
    const bool negative = *p == '-';
    p += negative || *p == '+';
    const std::uint64_t word = loadDigits(p);
    const std::uint64_t ends = nonDigits(word);
    if (ends == 0) return false;
    const unsigned digits = static_cast<unsigned>(std::countr_zero(ends)) / 8;
    if (digits == 0) return false;
    const auto value = static_cast<std::int64_t>(eightDigitValue(word << (64 - 8 * digits)));
    *stop = p + digits;
    *result = negative ? -value : value;
    return true;
}

}  // namespace splitrun::decimalwords

#endif

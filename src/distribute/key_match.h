// Comparison of one split value the host hands out with the value a split
// key holds. It runs for every record, twice, so it is kept inline and
// branch-light: the field's storage kind is decided once per key, not per
// value, and text is compared a word at a time.
#ifndef SPLIT_DISTRIBUTE_KEY_MATCH_H
#define SPLIT_DISTRIBUTE_KEY_MATCH_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "distribute/storage_kind.h"

namespace split {

inline constexpr size_t kKeyNumberBytes = 8;
inline constexpr double kKeyRealTolerance = 1e-15;

namespace keymatch {

inline uint64_t Load8(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint32_t Load4(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// An 8-byte number from a value; a value of fewer bytes gets the rest zeroed
// rather than read past its end.
template <class Number>
inline Number ReadNumber(const char* bytes, size_t length) {
    Number number{};
    std::memcpy(&number, bytes, length < sizeof number ? length : sizeof number);
    return number;
}

}  // namespace keymatch

// Whether the first `length` bytes of a and b are equal. Neither is read
// beyond `length` bytes: lengths of 4 to 16 take two overlapping loads, longer
// texts a loop of 8-byte words ending on an overlapping last word.
inline bool SameBytes(const char* a, const char* b, size_t length) {
    using keymatch::Load4;
    using keymatch::Load8;
    if (length >= 8) {
        const size_t last = length - 8;
        for (size_t i = 0; i < last; i += 8) {
            if (Load8(a + i) != Load8(b + i)) return false;
        }
        return Load8(a + last) == Load8(b + last);
    }
    if (length >= 4) return Load4(a) == Load4(b) && Load4(a + length - 4) == Load4(b + length - 4);
    for (size_t i = 0; i < length; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// Whether two texts of `length` bytes that are not byte for byte equal are
// still equal up to their first zero byte. Out of line: it runs once per
// change of key, not per record.
bool SameTextUpToZero(const char* a, const char* b, size_t length);

// Whether two texts of `length` bytes are equal up to their first zero byte,
// as strncmp finds them. Equal bytes are the common case and are checked a
// word at a time; only texts that differ are walked byte by byte, since
// they may still agree up to a zero byte before their first difference.
inline bool SameText(const char* a, const char* b, size_t length) {
    return SameBytes(a, b, length) || SameTextUpToZero(a, b, length);
}

// The 8 bytes of a number a host handed out; a value of fewer bytes gets
// the rest zeroed rather than read past its end.
inline uint64_t NumberBits(const char* bytes, size_t length) {
    if (length >= kKeyNumberBytes) return keymatch::Load8(bytes);
    return keymatch::ReadNumber<uint64_t>(bytes, length);
}

// Whether a value the host handed out (`bytes`, null when missing, and the
// length it reported) equals a key's value of the same field: `keyData`
// (null when missing; 8 bytes for a number) and `keyLength` as the key
// recorded them.
//  - Numbers: equal lengths and both missing, or both present and equal as
//    integers, or as reals within an absolute tolerance (a difference that is
//    not a number counts as equal).
//  - Text: equal lengths and equal up to the first zero byte; a missing text
//    matches a key whose text is missing.
//  - Storages not looked at: equal lengths.
inline bool ValueMatchesKey(StorageKind kind, const char* keyData, uint64_t keyLength,
                            const char* bytes, size_t length) {
    // The common kinds first, text and integers, each tested once.
    if (kind == StorageKind::String) {
        if (bytes == nullptr) return keyLength == 0 && keyData == nullptr;
        return keyLength == length && keyData != nullptr && SameText(keyData, bytes, length);
    }
    if (kind != StorageKind::Integer && kind != StorageKind::Real) return keyLength == length;
    if (keyLength != length || (bytes == nullptr) != (keyData == nullptr)) return false;
    if (bytes == nullptr) return true;
    const uint64_t valueBits = NumberBits(bytes, length);
    if (kind == StorageKind::Integer) return valueBits == keymatch::Load8(keyData);
    double value, key;
    std::memcpy(&value, &valueBits, sizeof value);
    std::memcpy(&key, keyData, sizeof key);
    return !(std::fabs(value - key) > kKeyRealTolerance);
}

}  // namespace split

#endif

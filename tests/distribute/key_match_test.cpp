// The word-at-a-time comparison of split values against memcmp and strncmp, and the numeric rules.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "distribute/key_match.h"

namespace {

using split::SameText;
using split::StorageKind;
using split::ValueMatchesKey;

// A buffer of exactly the text's length, so that a read beyond it shows under AddressSanitizer.
std::unique_ptr<char[]> Exact(const std::string& text) {
    auto bytes = std::make_unique<char[]>(text.size());
    std::memcpy(bytes.get(), text.data(), text.size());
    return bytes;
}

// Every length up to three words, a difference at every position, a zero byte before, at or after it.
TEST(KeyMatch, TextAgreesWithStrncmpAcrossWordBoundaries) {
    for (size_t length = 0; length <= 24; ++length)
        for (size_t diff = 0; diff <= length; ++diff)
            for (size_t zero = 0; zero <= length + 1; ++zero) {
                std::string a(length, 'a'), b(length, 'a');
                if (diff < length) b[diff] = 'b';
                if (zero < length) a[zero] = b[zero] = '\0';
                // length: no zero byte; length + 1: the difference is a zero in one text.
                if (zero == length + 1 && diff < length) b[diff] = '\0';
                const auto x = Exact(a), y = Exact(b);
                EXPECT_EQ(SameText(x.get(), y.get(), length), std::strncmp(a.c_str(), b.c_str(), length) == 0)
                    << "length " << length << " difference at " << diff << " zero at " << zero;
                EXPECT_EQ(split::SameBytes(x.get(), y.get(), length), a == b)
                    << "length " << length << " difference at " << diff << " zero at " << zero;
            }
}

std::string Number(int64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); }
std::string Number(double v) { return std::string(reinterpret_cast<const char*>(&v), 8); }

TEST(KeyMatch, ValuesMatchByStorageKind) {
    // value: the key's and the record's bytes; "-" for missing
    const struct { const char* name; StorageKind kind; std::string key, value; bool matches; } cases[] = {
        {"IntegersDifferInTheHighByte", StorageKind::Integer, Number(int64_t{7}),
         Number(int64_t{7} | (int64_t{1} << 56)), false},
        {"MissingIntegers", StorageKind::Integer, "-", "-", true},
        {"MissingAgainstZero", StorageKind::Integer, "-", Number(int64_t{0}), false},
        {"RealsWithinTolerance", StorageKind::Real, Number(1.0), Number(1.0 + 1e-16), true},
        {"RealsBeyondTolerance", StorageKind::Real, Number(1.0), Number(1.0 + 1e-12), false},
        {"NaNCountsAsEqual", StorageKind::Real, Number(1.0), Number(std::nan("")), true},
        {"ShortNumberIsZeroPadded", StorageKind::Integer, std::string("\x05\0\0\0\0\0\0\0", 8),
         std::string("\x05", 1), false},  // lengths differ
        {"TextOfOtherLength", StorageKind::String, "g0001", "g00010", false},
        {"EqualUpToZeroByte", StorageKind::String, std::string("ab\0x", 4), std::string("ab\0y", 4), true},
        {"MissingText", StorageKind::String, "-", "-", true},
        {"MissingAgainstEmptyText", StorageKind::String, "", "-", false},
        {"OtherStorageByLength", StorageKind::Other, "ab", "cd", true},
        {"OtherStorageOfOtherLength", StorageKind::Other, "ab", "abc", false},
    };
    for (const auto& c : cases) {
        const bool keyMissing = c.key == "-", valueMissing = c.value == "-";
        const auto key = Exact(c.key), value = Exact(c.value);
        EXPECT_EQ(ValueMatchesKey(c.kind, keyMissing ? nullptr : key.get(), keyMissing ? 0 : c.key.size(),
                                  valueMissing ? nullptr : value.get(), valueMissing ? 0 : c.value.size()),
                  c.matches) << c.name;
    }
}

}  // namespace

// The quick decimal parser and parseReal against std::from_chars, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <random>
#include <vector>

#include "decimal_words.h"
#include "plain_csv_loader.h"
#include "value_parsing.h"
#include "value_text.h"

using namespace splitrun;

namespace {

// from_chars's reading of a whole finite text (one leading '+' allowed), an
// infinity as R writes it (Inf, -Inf) or as others do (inf), R's reading of
// a decimal out of a double's range (zero or an infinity), or nothing.
std::optional<double> reference(std::string_view text)
{
    for (const char* name : {"Inf", "inf", "+Inf", "Infinity"})
        if (text == name) return INFINITY;
    if (text == "-Inf" || text == "-inf") return -INFINITY;
    if (text.starts_with('+') && (text.remove_prefix(1), text.starts_with('+') || text.starts_with('-'))) return {};
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    const bool filled = end == text.data() + text.size();
    if (ec == std::errc() && filled) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(value),
                  std::bit_cast<std::uint64_t>(std::strtod(std::string(text).c_str(), nullptr))) << text;
    }
    if (ec == std::errc::result_out_of_range && filled) value = std::strtod(std::string(text).c_str(), nullptr);
    const bool whole = (ec == std::errc() || ec == std::errc::result_out_of_range) && filled;
    return whole && text.find_first_not_of("0123456789.+-eE") == text.npos ? std::optional(value) : std::nullopt;
}

std::uint64_t bits(std::optional<double> value) { return std::bit_cast<std::uint64_t>(value.value_or(NAN)); }

// Checks parseReal, and the quick parser when it takes the whole text, against from_chars; returns whether it took
// it. What follows a number it took must not change where it stops or what it reads.
bool agrees(const std::string& text)
{
    EXPECT_EQ(bits(parseReal(text)), bits(reference(text))) << text;
    // The scorer reads a record's number as the build did (infinities aside, which it takes as no value).
    auto finite = reference(text);
    if (finite && !std::isfinite(*finite)) finite.reset();
    EXPECT_EQ(bits(splitmodels::detail::parseNumber(text)), bits(finite)) << text;
    // The long tails let the reader take its word-at-a-time path.
    for (const std::string after : {"", ",7", "\n", "x12345678", ",1.5,2.5,3.5",
             ",1.5,2.5,3.5,4.5,5.5,6.5", "\n1.5,2.5,3.5,4.5,5.5,6.5"}) {
        const std::string whole = text + after;
        const std::vector<char> copy(whole.begin(), whole.end());   // reads past its end are caught
        const char* stop = nullptr;
        const auto fast = parsePlainDecimalPrefix(copy.data(), copy.data() + copy.size(), &stop);
        if (after.empty() && !(fast && stop == copy.data() + copy.size())) return false;
        EXPECT_EQ(stop - copy.data(), static_cast<std::ptrdiff_t>(text.size())) << whole;
        EXPECT_EQ(bits(fast), bits(reference(text))) << whole;
    }
    return true;
}

TEST(DecimalParsing, QuickPathTakesExactCasesUpToTheEightByteStepsAndLeavesTheRest)
{
    for (const char* text : {"-0", "+0", "-0.000", "-0e-5", ".5", "5.", "-.5e1", "007", "000.000123", "1e22", "1e-22",
             "1.5E+3", "1.5e-0003", "2.5e+0000000000000000000001", "9007199254740992", "9007199254740991e-22",
             "123456.78901234", "12345678", "123456789", "1234567.89", "0.12345678", "-0.000001234", "3e7", "5e22", "9999999.9999999",
             "-1234567.1234567", "0.0000001"})
        EXPECT_TRUE(agrees(text)) << text;
    for (const char* text : {"0e400", "1e23", "1e-23", "9007199254740993", "99999999.99999999", "123456789012345678",
             "12345678901234567890", "4.9406564584124654e-324", "2.2250738585072011e-308", "1.7976931348623157e308",
             // Halfway between two doubles, and 17 to 25 digits around them.
             "9007199254740993.0", "9007199254740995", "0.1000000000000000055511151231257827", "1.00000000000000011102230246251565",
             "123456789012345678901234.5", "2.47032822920623272e-324", "-0.00000000000000000000000", "1.5e-23",
             "1e-400", "-1e-400", "1e5000", "-0.001e-322", "1e-323", "2e-324", "1e309", "-1e309",
             "18446744073709552616",   // 2^64 + 1000: its digits overflow a 64-bit mantissa to 1000
             "1e", "1e+", "e5", ".", "-", "", "+-1", "--1", "1.5.2", "1,5", "inf", "-Inf", "Infinity", "nan", "Inf1", "infinite", "0x10", " 1", "1 ", " 3", "3\t", "\n3"})
        EXPECT_FALSE(agrees(text)) << text;
    // Out of a double's range, as R reads it: a signed zero below, an infinity above.
    EXPECT_EQ(bits(parseReal("-1e-400")), bits(-0.0));
    EXPECT_EQ(bits(parseReal(std::string(400, '9'))), bits(INFINITY));
}

// Both ways (quick and fallback) must be exercised to mean anything.
TEST(DecimalParsing, RandomTextsReadAsFromCharsReadsThem)
{
    std::mt19937_64 random(20261206);
    auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
    std::size_t quickCount = 0, total = 0;
    for (; total < 150000 && !HasFailure(); ++total) {
        std::string text = (below(4) == 1 ? "-" : below(3) == 1 ? "+" : "") + std::string(below(4) ? 0 : below(4), '0');
        const unsigned digits = 1 + below(22), point = below(digits + 2);
        for (unsigned d = 0; d < digits; ++d) text.append(d == point ? "." : "") += char('0' + below(10));
        if (below(3) == 0)
            text.append(below(2) ? "e" : "E").append(below(3) ? below(2) ? "+" : "" : "-") +=
                std::to_string(below(below(5) ? 30 : 400));
        quickCount += agrees(text);
    }
    EXPECT_TRUE(quickCount > total / 4 && quickCount < total * 3 / 4) << quickCount << " of " << total;
}

}  // namespace

// The quick decimal parser against std::from_chars, bit for bit: every text
// it takes must come out exactly as the general parser reads it, and every
// text it leaves must still read as before through parseReal.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli_harness.h"
#include "csv_table.h"
#include "plain_csv_loader.h"
#include "value_parsing.h"

using namespace splitrun;

namespace {

// from_chars's reading of a whole text (one leading '+' allowed), or nothing;
// like parseReal, it refuses infinities and NaN.
std::optional<double> reference(std::string_view text)
{
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text[0] == '+' || text[0] == '-')) return std::nullopt;
    }
    if (text.find_first_not_of("0123456789.+-eE") != std::string_view::npos) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// The quick parser's reading of a whole text: nothing when it leaves the
// text to the general parser or stops before its end. The text is copied
// into a buffer of its own size, so that reads past it would be caught.
std::optional<double> quick(std::string_view text)
{
    const std::vector<char> copy(text.begin(), text.end());
    const char* stop = nullptr;
    const auto value = parsePlainDecimalPrefix(copy.data(), copy.data() + copy.size(), &stop);
    if (!value || stop != copy.data() + copy.size()) return std::nullopt;
    return value;
}

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// Checks that parseReal and (when it takes the text) the quick parser give
// from_chars's bits; returns whether the quick parser took it.
bool agrees(const std::string& text)
{
    const auto expected = reference(text);
    const auto real = parseReal(text);
    EXPECT_EQ(real.has_value(), expected.has_value()) << text;
    if (real && expected) {
        EXPECT_EQ(bits(*real), bits(*expected)) << text;
    }
    const auto fast = quick(text);
    if (fast) {
        EXPECT_TRUE(expected) << text;
        if (expected) {
            EXPECT_EQ(bits(*fast), bits(*expected)) << text;
        }
    }
    return fast.has_value();
}

TEST(DecimalParsing, QuickPathTakesExactCasesAndLeavesTheRestWithTheSameBits)
{
    struct Case {
        const char* text;
        bool quick;   // read by the quick parser rather than the general one
    };
    const Case cases[] = {
        {"0", true}, {"-0", true}, {"+0", true}, {"-0.000", true}, {"0e400", false}, {"-0e-5", true},
        {"0.1", true}, {"-12.345678", true}, {".5", true}, {"5.", true}, {"-.5e1", true},
        {"007", true}, {"000.000123", true}, {"1e22", true}, {"1e23", false}, {"1e-22", true},
        {"1e-23", false}, {"1.5E+3", true}, {"1.5e-0003", true}, {"2.5e+0000000000000000000001", true},
        {"9007199254740992", true}, {"9007199254740993", false}, {"9007199254740991e-22", true},
        {"123456789012345678", false}, {"1234567890123456789", false}, {"12345678901234567890", false},
        {"0.0000000000000000000000000001", false}, {"1.00000000000000000000", false},
        {"4.9406564584124654e-324", false}, {"2.2250738585072011e-308", false},
        {"1.7976931348623157e308", false}, {"123456.78901234", true}, {"99999999.99999999", false},
        {"12345678", true}, {"123456789", true}, {"1234567.8", true}, {"0.12345678", true},
        {"1e", false}, {"1e+", false}, {"e5", false}, {".", false}, {"-", false}, {"", false},
        {"+-1", false}, {"--1", false}, {"1.5.2", false}, {"1,5", false}, {"inf", false},
        {"nan", false}, {"0x10", false}, {" 1", false}, {"1 ", false},
    };
    for (const Case& c : cases) EXPECT_EQ(agrees(c.text), c.quick) << c.text;
}

// Texts near the ends of the 8-byte steps: the quick parser stops where the
// number ends, whatever follows it and however few bytes are left.
TEST(DecimalParsing, StopsAtTheEndOfTheNumberWhateverFollows)
{
    for (const std::string number : {"1", "-12.5", "12345678", "1234567.89", "-0.000001234", "3e7"}) {
        for (const std::string after : {"", ",", ",7", ";", "\n", "x12345678", ",1.5,2.5,3.5"}) {
            const std::string text = number + after;
            const char* stop = nullptr;
            const auto value = parsePlainDecimalPrefix(text.data(), text.data() + text.size(), &stop);
            ASSERT_TRUE(value) << text;
            EXPECT_EQ(stop - text.data(), static_cast<std::ptrdiff_t>(number.size())) << text;
            EXPECT_EQ(bits(*value), bits(*reference(number))) << text;
        }
    }
}

// Random texts of every shape the quick parser reads or leaves: signs,
// leading zeros, 1 to 22 digits around a point, exponents, and shortest
// round-trip texts of random doubles, denormals included.
TEST(DecimalParsing, RandomTextsReadAsFromCharsReadsThem)
{
    std::mt19937_64 random(20261206);
    auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
    std::size_t quickCount = 0, total = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        if (below(4) == 0) {
            // The shortest text of a random double, or its 17-digit form.
            double value = std::bit_cast<double>(random());
            if (!std::isfinite(value)) continue;
            if (below(3) == 0) value = std::ldexp(value, -below(1100));
            char buffer[64];
            const auto [end, ec] = below(2) ? std::to_chars(buffer, buffer + sizeof buffer, value)
                                             : std::to_chars(buffer, buffer + sizeof buffer, value,
                                                             std::chars_format::scientific, 16);
            text.assign(buffer, end);
        } else {
            const unsigned sign = below(4);
            if (sign == 1) text += '-';
            if (sign == 2) text += '+';
            text.append(below(4) == 0 ? below(4) : 0, '0');
            const unsigned digits = 1 + below(22);
            const unsigned point = below(digits + 2);
            for (unsigned d = 0; d < digits; ++d) {
                if (d == point) text += '.';
                text += static_cast<char>('0' + below(10));
            }
            if (below(3) == 0) {
                text += below(2) ? 'e' : 'E';
                const unsigned expSign = below(3);
                if (expSign == 1) text += '-';
                if (expSign == 2) text += '+';
                text += std::to_string(below(below(5) == 0 ? 400 : 30));
            }
        }
        ++total;
        quickCount += agrees(text);
        if (HasFailure()) break;
    }
    // Both ways must have been exercised for the comparison to mean anything.
    EXPECT_GT(quickCount, total / 4);
    EXPECT_LT(quickCount, total * 3 / 4);
}

// The quick loader reads reals straight off the lines; a file of texts of
// every shape loads to from_chars's values, and the same file with decimal
// commas, which the full reader reads, to the same table.
TEST(DecimalParsing, LoadedColumnsHoldTheValuesFromCharsGives)
{
    const std::vector<std::string> texts = {"1.5",     "-0",      "0.1",      "1e22",      "1e23",
                                            "-2.5e-3", "007.250", "12345678", "9007199254740993",
                                            "123456789012345678",  "4.9e-324", "0.000001234", "3"};
    std::string csv = "x,k\n", commas = "x;k\n";
    for (const std::string& text : texts) {
        csv += text + ",1\n";
        std::string comma = text;
        for (char& c : comma)
            if (c == '.') c = ',';
        commas += comma + ";1\n";
    }
    const clitest::fs::path dir = clitest::freshDir("decimals");
    clitest::writeFile(dir / "points.csv", csv);
    clitest::writeFile(dir / "commas.csv", commas);
    const auto loaded = loadPlainCsv((dir / "points.csv").string(), {}, 1, CsvFormat{});
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->storages[0], Storage::Real);
    const auto& reals = loaded->values[0].reals();
    ASSERT_EQ(reals.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(bits(reals[i]), bits(*reference(texts[i]))) << texts[i];

    CsvFormat commaFormat;
    commaFormat.delimiter = ';';
    commaFormat.decimal = ',';
    const CsvTable points = readCsvTable((dir / "points.csv").string(), "");
    const CsvTable withCommas = readCsvTable((dir / "commas.csv").string(), "", commaFormat);
    EXPECT_TRUE(points.table == withCommas.table);
}

}  // namespace

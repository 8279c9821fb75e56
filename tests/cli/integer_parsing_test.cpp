// The quick integer reader and the plain loader's columns against parseInteger and parseReal.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "cli_harness.h"
#include "decimal_words.h"
#include "plain_csv_loader.h"
#include "value_parsing.h"

using namespace splitrun;

namespace {

TEST(IntegerParsing, QuickReaderStopsWhereTheDigitsEndAndAgreesWithParseInteger)
{
    // stop: bytes read, or -1 when the reader declines
    const struct { const char* text; int stop; } cases[] = {
        {"0", 1}, {"-0", 2}, {"+0", 2}, {"007", 3}, {"-123", 4}, {"+5", 2}, {"999999999999999999", 18},
        {"-999999999999999999", 19}, {"1234567", 7}, {"-12345678", 9}, {"12.5", 2}, {"12e3", 2}, {"7,8", 1}, {"-4\r", 2},
        {"", -1}, {"-", -1}, {"+", -1}, {"+-1", -1}, {"--1", -1}, {"x1", -1}, {".5", -1},
        {"1234567890123456789", -1}, {"-9223372036854775808", -1}, {"99999999999999999999", -1},
    };
    for (const auto& c : cases) {
        const std::string text = c.text;
        const std::vector<char> copy(text.begin(), text.end());   // reads past its end are caught
        std::int64_t value = 42;
        const char* stop = nullptr;
        const bool read = readIntegerPrefix(copy.data(), copy.data() + copy.size(), &value, &stop);
        EXPECT_EQ(read, c.stop >= 0) << text;
        if (!read) {
            EXPECT_EQ(value, 42) << text;
            continue;
        }
        EXPECT_EQ(stop - copy.data(), c.stop) << text;
        EXPECT_EQ(std::optional(value), parseInteger(text.substr(0, static_cast<std::size_t>(c.stop)))) << text;        // The word-at-a-time reader, given bytes to look at past the text, reads the same or declines.
        const std::string padded = text + ";;;;;;;;;";
        const char* shortStop = nullptr;
        std::int64_t shortValue = 0;
        if (decimalwords::readShortInteger(padded.data(), &shortValue, &shortStop)) {
            EXPECT_EQ(shortStop - padded.data(), c.stop) << text;
            EXPECT_EQ(shortValue, value) << text;
        } else {
            EXPECT_GT(c.stop, 7) << text;
        }
    }
}

// Loaded columns hold the storage inferred and every value as the strict parsers read it (parseReal is checked
// against from_chars bit for bit), quick path or not; a missing token that reads as a number stays missing.
TEST(IntegerParsing, PlainLoaderColumnsMatchTheStrictParsers)
{
    const struct { const char* name; std::vector<std::string> texts; Storage storage; } columns[] = {
        {"small", {"1", "-2", "+3", "007", "", "NA", "0", "-0"}, Storage::Integer},
        {"wide", {"5", "1234567890123456789", "-9223372036854775808", "9223372036854775807", "-17"},
         Storage::Integer},
        {"widens", {"1", "2", "2.5", "-3", "1e3"}, Storage::Real},
        {"overflows", {"1", "-2", "9223372036854775808", "4"}, Storage::Real},
        {"text", {"1", "2", "+-1", "4"}, Storage::String}, {"late", {"", "", "12", "x"}, Storage::String},
        {"token", {"1", "-999", "3", "-9990"}, Storage::Integer},
        {"decimals", {"1.5", "-0", "0.1", "1e22", "1e23", "-2.5e-3", "007.250", "9007199254740993", "123456789012345678",
                      "4.9e-324", "0.000001234", "3"}, Storage::Real},
    };
    const std::size_t rows = 12;   // the longest column; the others end in empty fields
    std::string csv;
    for (const auto& column : columns) csv += std::string(csv.empty() ? "" : ",") + column.name;
    csv += "\n";
    for (std::size_t row = 0; row < rows; ++row) {
        for (std::size_t c = 0; c < std::size(columns); ++c) {
            const auto& texts = columns[c].texts;
            csv += (c == 0 ? "" : ",") + (row < texts.size() ? texts[row] : std::string());
        }
        csv += "\n";
    }
    const clitest::fs::path file = clitest::writeFile(clitest::freshDir("integers") / "columns.csv", csv);
    const auto got = loadPlainCsv(file.string(), {}, 1, CsvFormat{.naValues = {"NA", "-999"}});
    ASSERT_TRUE(got);
    for (std::size_t c = 0; c < std::size(columns); ++c) {
        const auto& column = columns[c];
        const refhost::ColumnValues& values = got->values[c];
        ASSERT_EQ(got->storages[c], column.storage) << column.name;
        ASSERT_EQ(values.size(), rows) << column.name;
        for (std::size_t row = 0; row < rows; ++row) {
            const std::string text = row < column.texts.size() ? column.texts[row] : "";
            const bool missing = text.empty() || text == "NA" || text == "-999";
            EXPECT_EQ(values.isMissing(row), missing) << column.name << " " << row;
            if (missing) continue;
            if (column.storage == Storage::Integer)
                EXPECT_EQ(values.integers()[row], *parseInteger(text)) << column.name << " " << text;
            else if (column.storage == Storage::Real)
                EXPECT_EQ(std::bit_cast<std::uint64_t>(values.reals()[row]),
                          std::bit_cast<std::uint64_t>(*parseReal(text))) << column.name << " " << text;
            else
                EXPECT_EQ(values.dictionary().at(values.codes()[row]), text) << column.name;
        }
    }
}

}  // namespace

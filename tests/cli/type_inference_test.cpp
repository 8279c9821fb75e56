// Value parsing and per-column storage inference.
#include <gtest/gtest.h>

#include "column_profile.h"
#include "value_parsing.h"

using namespace splitrun;

namespace {

TEST(ValueParsing, DatesTimesAndTimestampsBecomeEpochNumbers)
{
    EXPECT_EQ(parseDate("1970-01-01"), 0);
    EXPECT_EQ(parseDate("2000-03-01"), 11017);
    EXPECT_EQ(parseDate("1969-12-31"), -1);
    EXPECT_EQ(parseDate("2024-02-29"), 19782);
    EXPECT_EQ(parseTime("23:59:59"), 86399);
    EXPECT_EQ(parseTimestamp("1970-01-02 00:00:01"), 86401);
    EXPECT_EQ(parseTimestamp("1970-01-02T00:00:01"), 86401);
    for (std::int64_t days : {-719468LL, -1LL, 0LL, 11016LL, 19782LL, 2932896LL})
        EXPECT_EQ(parseDate(formatDate(days)), days) << days;
    EXPECT_EQ(formatTimestamp(-1), "1969-12-31 23:59:59");
}

TEST(ValueParsing, RejectsWhatIsNotExactlyTheFormat)
{
    for (const char* text : {"2023-02-29", "1900-02-29", "2023-13-01", "2023-00-10", "2023-04-31",
                             "2023-4-01", " 2023-04-01", "2023/04/01"})
        EXPECT_FALSE(parseDate(text)) << text;
    for (const char* text : {"24:00:00", "12:60:00", "12:00", "12:00:00 "})
        EXPECT_FALSE(parseTime(text)) << text;
    EXPECT_FALSE(parseTimestamp("2023-01-01  10:00:00"));
    for (const char* text : {"", "+", "1e", "inf", "nan", "0x10", "1,5", " 1", "--1", "+-1"})
        EXPECT_FALSE(parseReal(text)) << text;
    EXPECT_EQ(parseInteger("+42"), 42);
    EXPECT_EQ(parseInteger("-9223372036854775808"), INT64_MIN);
    EXPECT_FALSE(parseInteger("9223372036854775808"));
    EXPECT_FALSE(parseInteger("1.0"));
}

TEST(ColumnProfile, InfersStorageMeasureAndCategories)
{
    struct Case {
        std::vector<CsvField> values;
        Storage storage;
        std::size_t categories;
    };
    auto v = [](const char* text) { return CsvField{text, false}; };
    const CsvField missing{"", false};
    const CsvField emptyString{"", true};
    const Case cases[] = {
        {{v("1"), v("-7"), missing, v("1")}, Storage::Integer, 2},
        {{v("1"), v("2.5"), v("1.0")}, Storage::Real, 2},                  // 1 and 1.0 are one value
        {{v("9223372036854775808"), v("1")}, Storage::Real, 2},            // too big for int64
        {{v("2023-01-31"), missing}, Storage::Date, 1},
        {{v("08:30:00")}, Storage::Time, 1},
        {{v("2023-01-31 08:30:00"), v("2023-01-31T09:00:00")}, Storage::Timestamp, 2},
        {{v("2023-01-31"), v("2023-01-31 08:30:00")}, Storage::String, 2}, // mixed kinds
        {{v("2023-02-30")}, Storage::String, 1},                           // not a calendar date
        {{v("12"), emptyString}, Storage::String, 2},                      // "" is a present string
        {{v("North"), v("north"), v("North")}, Storage::String, 2},
        {{missing, missing}, Storage::String, 0},
    };
    for (const Case& c : cases) {
        ColumnProfile profile;
        for (const CsvField& field : c.values) profile.observe(field);
        EXPECT_EQ(profile.storage(), c.storage) << c.values[0].value;
        EXPECT_EQ(profile.measure(), c.storage == Storage::String ? Measure::Nominal : Measure::Continuous);
        EXPECT_EQ(profile.categoryCount(), c.categories) << c.values[0].value;
    }
}

}  // namespace

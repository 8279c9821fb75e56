// Value parsing and per-column storage inference.
#include <zlib.h>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "csv_table.h"
#include "value_parsing.h"

using namespace splitrun;

namespace {

// Each text with the number it parses to; nullopt when the text is refused.
TEST(ValueParsing, ExactFormatsBecomeEpochNumbersOthersAreRefused)
{
    using Parse = std::optional<std::int64_t> (*)(std::string_view);
    const Parse date = &parseDate, time = &parseTime, stamp = &parseTimestamp, integer = &parseInteger;
    const std::vector<std::tuple<Parse, const char*, std::optional<std::int64_t>>> cases = {
        {date, "1970-01-01", 0}, {date, "2000-03-01", 11017}, {date, "1969-12-31", -1},
        {date, "2024-02-29", 19782}, {time, "23:59:59", 86399}, {stamp, "1970-01-02 00:00:01", 86401},
        {stamp, "1970-01-02T00:00:01", 86401}, {integer, "+42", 42}, {integer, "-9223372036854775808", INT64_MIN},
        {date, "2023-02-29", {}}, {date, "1900-02-29", {}}, {date, "2023-13-01", {}}, {date, "2023-00-10", {}},
        {date, "2023-04-31", {}}, {date, "2023-4-01", {}}, {date, " 2023-04-01", {}}, {date, "2023/04/01", {}},
        {time, "24:00:00", {}}, {time, "12:60:00", {}}, {time, "12:00", {}}, {time, "12:00:00 ", {}},
        {stamp, "2023-01-01  10:00:00", {}}, {integer, "9223372036854775808", {}}, {integer, "1.0", {}},
    };
    for (const auto& [parse, text, value] : cases) EXPECT_EQ(parse(text), value) << text;
    for (const char* text : {"", "+", "1e", "inf", "nan", "0x10", "1,5", " 1", "--1", "+-1"})
        EXPECT_FALSE(parseReal(text)) << text;
    for (std::int64_t days : {-719468LL, -1LL, 0LL, 11016LL, 19782LL, 2932896LL})
        EXPECT_EQ(parseDate(formatDate(days)), days) << days;
    EXPECT_EQ(formatTimestamp(-1), "1969-12-31 23:59:59");
}

// Loads "v,k" records whose v values are given (k is always 1) and returns
// the table with its column summaries.
CsvTable loadColumn(const std::vector<std::string>& values, const std::string& name)
{
    std::string csv = "v,k\n";
    for (const std::string& value : values) csv += value + ",1\n";
    const clitest::fs::path file = clitest::freshDir("inference-" + name) / "data.csv";
    clitest::writeFile(file, csv);
    return readCsvTable(file.string(), "");
}

TEST(CsvTable, InfersStorageAndCountsDistinctAndMissingValues)
{
    struct Case {
        const char* name;
        std::vector<std::string> values;   // "" is missing, "\"\"" a present empty string
        Storage storage;
        std::size_t categories;
        std::size_t missing;
    };
    const Case cases[] = {
        {"integers", {"1", "-7", "", "1"}, Storage::Integer, 2, 1},
        {"integersThenReals", {"1", "2.5", "1.0"}, Storage::Real, 2, 0},   // 1 and 1.0 are one value
        {"tooBigForInt64", {"9223372036854775808", "1"}, Storage::Real, 2, 0},
        {"dates", {"", "2023-01-31", ""}, Storage::Date, 1, 2},
        {"times", {"08:30:00"}, Storage::Time, 1, 0},
        {"timestamps", {"2023-01-31 08:30:00", "2023-01-31T09:00:00"}, Storage::Timestamp, 2, 0},
        {"mixedKinds", {"2023-01-31", "2023-01-31 08:30:00"}, Storage::String, 2, 0},
        {"integersThenDate", {"5", "6", "2023-01-31"}, Storage::String, 3, 0},
        {"notACalendarDate", {"2023-02-30"}, Storage::String, 1, 0},
        {"emptyStringIsText", {"12", "\"\""}, Storage::String, 2, 0},
        {"caseMatters", {"North", "north", "North"}, Storage::String, 2, 0},
        {"allMissing", {"", ""}, Storage::String, 0, 2},
        {"unquotedNAIsMissing", {"1", "NA", "2"}, Storage::Integer, 2, 1},
        {"realsWithNA", {"1.5", "NA", "2.5", "NA"}, Storage::Real, 2, 2},
        {"quotedNAIsText", {"1", "\"NA\""}, Storage::String, 2, 0},
        {"NAIsCaseSensitive", {"1", "na"}, Storage::String, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CsvTable data = loadColumn(c.values, c.name);
        ASSERT_EQ(data.table.rowCount(), c.values.size());
        EXPECT_EQ(data.fields[0].storage, static_cast<int>(c.storage));
        EXPECT_EQ(data.fields[0].measure,
                  static_cast<int>(c.storage == Storage::String ? Measure::Nominal : Measure::Continuous));
        EXPECT_EQ(data.fields[0].categories, c.categories);
        EXPECT_EQ(data.fields[0].missing, c.missing);
        EXPECT_EQ(data.table.values(0).kind(),
                  refhost::ColumnValues::kindFor(static_cast<int>(c.storage)));
    }
}

// A large file is read in parts on two threads; a quote anywhere sends it
// through the record-by-record reader. Both must give the same table,
// whichever part first sees a column's wider kind, whatever the delimiter.
TEST(CsvTable, LargeFilesLoadAlikeWhicheverReaderTakesThem)
{
    const std::size_t rows = 60000;
    for (const char delimiter : {',', ';', '\t'}) {
        SCOPED_TRACE(std::string("delimiter ") + (delimiter == '\t' ? "tab" : std::string(1, delimiter)));
        const std::string d(1, delimiter);
        std::string plain = "g" + d + "n" + d + "x" + d + "when\n";
        for (std::size_t i = 0; i < rows; ++i) {
            const std::string x = i == rows - 10 ? "0.5" : std::to_string(i % 97);  // real only near the end
            const std::string when = i == 3 ? "" : i == 4 ? "NA" : "2024-01-" + std::to_string(10 + i % 20);
            plain += "grp" + std::to_string(i / 5000) + d + std::to_string(i) + d + x + d + when + "\r\n";
        }
        std::string quoted = plain;
        quoted.replace(quoted.find("grp0"), 4, "\"grp0\"");
        const clitest::fs::path dir = clitest::freshDir("large-load");
        clitest::writeFile(dir / "plain.csv", plain);
        clitest::writeFile(dir / "quoted.csv", quoted);
        CsvFormat format;
        format.delimiter = delimiter;
        const CsvTable fast = readCsvTable((dir / "plain.csv").string(), "", format);
        const CsvTable full = readCsvTable((dir / "quoted.csv").string(), "", format);
        ASSERT_EQ(fast.table.rowCount(), rows);
        EXPECT_TRUE(fast.table == full.table);
        const std::vector<int> storages = {3, 1, 2, 4};
        for (std::size_t c = 0; c < storages.size(); ++c) EXPECT_EQ(fast.table.columns()[c].storage, storages[c]);
        EXPECT_EQ(fast.fields[0].categories, 12u);
        EXPECT_EQ(fast.fields[1].categories, rows);
        EXPECT_EQ(fast.fields[2].categories, 98u);
        EXPECT_EQ(fast.fields[3].missing, 2u);
        EXPECT_EQ(fast.lines[rows - 1], rows + 1);
        EXPECT_EQ(full.lines[rows - 1], rows + 1);
    }
}

// One table written in each way split-run reads: the same records must come
// out, missing values and text included.
TEST(CsvTable, ReadsTheSameRecordsWhateverTheLayoutEncodingOrCompression)
{
    const std::string reference = "city,n,x\nK\xC3\xB6ln,1,2.5\nNA,NA,-1.25\n\"NA\",3,\n";
    auto gzip = [](const std::string& text) {
        const clitest::fs::path file = clitest::freshDir("gzip") / "data.csv.gz";
        gzFile out = gzopen(file.c_str(), "wb");
        gzwrite(out, text.data(), static_cast<unsigned>(text.size()));
        gzclose(out);
        return clitest::readFile(file);
    };
    auto format = [](char delimiter, char decimal, bool latin1, std::vector<std::string> na) {
        CsvFormat f;
        f.delimiter = delimiter;
        f.decimal = decimal;
        f.latin1 = latin1;
        f.naValues = std::move(na);
        return f;
    };
    struct Case {
        const char* name;
        std::string bytes;
        CsvFormat format;
    };
    const Case cases[] = {
        {"semicolons and decimal commas", "city;n;x\nK\xC3\xB6ln;1;2,5\nNA;NA;-1,25\n\"NA\";3;\n",
         format(';', ',', false, {"NA"})},
        {"tabs", "city\tn\tx\nK\xC3\xB6ln\t1\t2.5\nNA\tNA\t-1.25\n\"NA\"\t3\t\n", format('\t', '.', false, {"NA"})},
        {"Latin-1", "city,n,x\nK\xF6ln,1,2.5\nNA,NA,-1.25\n\"NA\",3,\n", format(',', '.', true, {"NA"})},
        {"gzip", gzip(reference), CsvFormat{}},
        {"other missing tokens", "city,n,x\nK\xC3\xB6ln,1,2.5\n-,-999,-1.25\n\"NA\",3,\n",
         format(',', '.', false, {"-", "-999"})},
    };
    const clitest::fs::path dir = clitest::freshDir("layouts");
    clitest::writeFile(dir / "reference.csv", reference);
    const CsvTable expected = readCsvTable((dir / "reference.csv").string(), "");
    ASSERT_EQ(expected.table.rowCount(), 3u);
    EXPECT_EQ(expected.fields[0].missing, 1u);   // unquoted NA; the quoted one is text
    EXPECT_EQ(expected.fields[1].storage, static_cast<int>(Storage::Integer));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clitest::writeFile(dir / "data", c.bytes);
        const CsvTable data = readCsvTable((dir / "data").string(), "", c.format);
        EXPECT_TRUE(data.table == expected.table);
    }
}

}  // namespace

// Value parsing and per-column storage inference.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>

#include <map>
#include <tuple>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "common/tsv.h"
#include "csv_table.h"
#include "data_model_text.h"
#include "errors.h"
#include "input_source.h"
#include "plain_csv_loader.h"
#include "streamed_csv_source.h"
#include "value_parsing.h"

using namespace splitrun;

namespace {

CsvTable load(const std::string& text, const CsvFormat& format = {})
{
    const clitest::fs::path file = clitest::writeFile(clitest::freshDir("inference") / "data.csv", text);
    return readCsvTable(file.string(), "", format);
}

// The table as loaded, and as profiled for a file read pass by pass.
std::vector<CsvTable> loadBothWays(const std::string& text, const std::vector<std::string>& categorical = {})
{
    const clitest::fs::path file = clitest::writeFile(clitest::freshDir("inference-both") / "data.csv", text);
    std::vector<CsvTable> tables;
    tables.push_back(readCsvTable(file.string(), "", {}, categorical));
    tables.push_back(profileCsvFile(file.string(), "", {}, readStreamedCsv, {}, categorical));
    return tables;
}

TEST(ValueParsing, ExactFormatsBecomeEpochNumbersOthersAreRefused)
{
    using Parse = std::optional<std::int64_t> (*)(std::string_view);
    const std::map<std::string, Parse> parsers = {
        {"date", &parseDate}, {"time", &parseTime}, {"stamp", &parseTimestamp}, {"integer", &parseInteger}};
    for (const std::vector<std::string>& c : splittest::TsvRows("cli/parsed_values.tsv"))
        EXPECT_EQ(parsers.at(c.at(0))(c.at(1)), c.at(2) == "-" ? std::nullopt : std::optional(std::stoll(c[2]))) << c[1];
    for (std::int64_t days : {-719468LL, -1LL, 0LL, 11016LL, 19782LL, 2932896LL}) EXPECT_EQ(parseDate(formatDate(days)), days) << days;
    EXPECT_EQ(formatTimestamp(-1), "1969-12-31 23:59:59");
}

TEST(CsvTable, InfersStorageAndCountsDistinctAndMissingValues)
{
    const std::map<std::string, Storage> storages = {{"Integer", Storage::Integer}, {"Real", Storage::Real},
        {"String", Storage::String}, {"Date", Storage::Date}, {"Time", Storage::Time}, {"Timestamp", Storage::Timestamp}};
    for (const std::vector<std::string>& c : splittest::TsvRows("cli/inferred_storages.tsv")) {
        const Storage storage = storages.at(c.at(1));
        std::string csv = "v,k\n" + c.at(0) + ",1\n";
        std::size_t values = 1;
        for (std::size_t at; (at = csv.find('|')) != std::string::npos; ++values) csv.replace(at, 1, ",1\n");
        SCOPED_TRACE(csv);
        const CsvTable data = load(csv);
        ASSERT_EQ(data.table.rowCount(), values);
        EXPECT_EQ(data.fields[0].storage, static_cast<int>(storage));
        EXPECT_EQ(data.fields[0].measure, static_cast<int>(storage == Storage::String ? Measure::Nominal : Measure::Continuous));
        EXPECT_EQ(std::pair(data.fields[0].categories, data.fields[0].missing),
                  std::pair(std::stoul(c.at(2)), std::stoul(c.at(3))));
        EXPECT_EQ(data.table.values(0).kind(), refhost::ColumnValues::kindFor(static_cast<int>(storage)));
        EXPECT_EQ(loadBothWays(csv)[1].fields[0].storage, static_cast<int>(storage)) << "profiled pass by pass";
    }
}

// Parts read on two threads give the table the quoted (record-by-record) path gives, whatever the delimiter.
TEST(CsvTable, LargeFilesLoadAlikeWhicheverReaderTakesThem)
{
    const std::size_t rows = 60000;
    for (const char delimiter : {',', ';', '\t'}) {
        SCOPED_TRACE(static_cast<int>(delimiter));
        const std::string d(1, delimiter);
        std::string plain = "g" + d + "n" + d + "x" + d + "when\n";
        std::string quoted = plain;   // every group name in quotes, as R writes texts
        for (std::size_t i = 0; i < rows; ++i) {
            const std::string x = i == rows - 10 ? "0.5" : std::to_string(i % 97);  // real only near the end
            const std::string when = i == 3 ? "" : i == 4 ? "NA" : "2024-01-" + std::to_string(10 + i % 20);
            const std::string rest = d + std::to_string(i) + d + x + d + when + "\r\n";
            plain += "grp" + std::to_string(i / 5000) + rest;
            quoted += "\"grp" + std::to_string(i / 5000) + "\"" + rest;
        }
        const CsvTable fast = load(plain, {.delimiter = delimiter});
        // A blank last line is the full reader's to read; quoted texts are
        // the chunks' again.
        const CsvTable full = load(plain + "\r\n", {.delimiter = delimiter});
        ASSERT_EQ(fast.table.rowCount(), rows);
        EXPECT_TRUE(fast.table == full.table);
        EXPECT_TRUE(fast.table == load(quoted, {.delimiter = delimiter}).table);
        for (std::size_t c = 0; c < 4; ++c) EXPECT_EQ(fast.table.columns()[c].storage, (std::vector{3, 1, 2, 4}[c]));
        EXPECT_EQ(std::vector({fast.fields[0].categories, fast.fields[1].categories, fast.fields[2].categories,
                               fast.fields[3].missing, fast.lines[rows - 1], full.lines[rows - 1]}),
                  std::vector<std::size_t>({12, rows, 98, 2, rows + 1, rows + 1}));
    }
}

// A file cut into chunks anywhere (down to a byte each) and read on several
// threads gives the columns one chunk on one thread gives: chunks that
// inferred different storages join as one pass would read them.
TEST(CsvTable, ChunksJoinAsOnePassReadsThem)
{
    struct Case { const char* name; std::string csv; std::vector<Storage> storages; };
    const Case cases[] = {
        {"CRLF, no final line end", "a,b\r\n1,x\r\n2,y\r\n3,z", {Storage::Integer, Storage::String}},
        {"byte order mark, fewer records than threads", "\xEF\xBB\xBFg,v\nq,1.5\n", {Storage::String, Storage::Real}},
        {"integers widen when a later chunk holds reals", "v,k\n1,a\n-0,a\n2,a\n2.5,b\n3,b\n", {Storage::Real, Storage::String}},
        {"integers after reals read as reals, -0 keeps its sign and 0 its own", "v\n2.5\n3\n-0\n0\n", {Storage::Real}},
        {"after reals, a chunk that widens on its own keeps its -0's sign", "v\n2.5\n2.5\n-0\n1.5\n2.25\n-0\n1.5\n2.5\n-0\n-0\n0.5\n", {Storage::Real}},
        {"reals before a CR line end; a real with bytes after it is text", "k,v,w\r\na,1.5,-0.25\r\nb,2.25x,3.5\r\n"
         "c,-0.0,1e3\r\nd,4.125,-7.0000001\r\n", {Storage::String, Storage::String, Storage::Real}},
        {"dates then an integer are text", "d\n2024-01-02\nNA\n7\n", {Storage::String}},
        {"an integer then dates are text", "d\n7\n2024-01-02\n2024-01-03\n", {Storage::String}},
        {"missing first, then dates", "d,n\n,1\nNA,2\n2024-01-02,3\n", {Storage::Date, Storage::Integer}},
        {"only missing values", "d,n\n,1\n,2\n", {Storage::String, Storage::Integer}},
        {"a line longer than a chunk", "t,n\n" + std::string(300, 'w') + ",1\nu,2\n", {Storage::String, Storage::Integer}},
        {"header only", "a,b\n", {Storage::String, Storage::String}},
        {"quoted names and texts, a delimiter and NA within quotes", "\"a\",\"b\"\n\"x,y\",1\n\"NA\",\"2\"\nNA,3\n",
         {Storage::String, Storage::Integer}},
        {"quoted, the file ending in an empty field", "\"a\",\"b\"\n\"x\",1\n\"y\",", {Storage::String, Storage::Integer}},
        {"line ends and quoted texts on either side of a 16-, 32- and 64-byte edge",
         "t,n\n" + std::string(13, 'w') + ",1\n" + std::string(13, 'w') + ",2\r\n\"" + std::string(27, 'v') + "\",3\n" +
         std::string(59, 'w') + ",4\r\n\"" + std::string(70, 'v') + "\",5\n" + std::string(61, 'w') + ",6",
         {Storage::String, Storage::Integer}},
        {"runs of a text: longer texts after it, quoted texts then the same bytes unquoted",
         "k,v\nab,1\nab,2\nabc,3\nab,\nab,4\nlong text 1,5\nlong text 1,6\nlong text 12,7\n\"x,1\",8\n\"x,1\",9\nx,1\n"
         "\"NA\",10\n\"NA\",11\nNA,12\nab,13\nab,14", {Storage::String, Storage::Integer}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const clitest::fs::path file = clitest::writeFile(clitest::freshDir("chunks") / "data.csv", c.csv);
        const auto whole = loadPlainCsv(file.string(), {}, 1, {});
        ASSERT_TRUE(whole);
        const clitest::fs::path gz = clitest::writeGzip(file.string() + ".gz", c.csv);
        const OpenStream gzipped = [&] { return std::make_unique<InputSource>(gz.string(), "--data", false); };
        EXPECT_EQ(whole->storages, c.storages);
        for (const std::size_t chunkBytes : {1, 2, 3, 5, 8, 13, 64}) {
            for (const std::size_t threads : {1, 3}) {
                const auto cut = loadPlainCsv(file.string(), {}, threads, {}, chunkBytes);
                ASSERT_TRUE(cut) << chunkBytes;
                EXPECT_EQ(cut->storages, whole->storages) << chunkBytes << " bytes, " << threads << " threads";
                EXPECT_TRUE(cut->values == whole->values) << chunkBytes << " bytes, " << threads << " threads";
                // The profile, which keeps no values, infers the same storages.
                const int descriptor = ::open(file.c_str(), O_RDONLY);
                const auto profile = profilePlainCsv(descriptor, {}, threads, {}, chunkBytes);
                ::close(descriptor);
                ASSERT_TRUE(profile) << chunkBytes;
                EXPECT_EQ(profile->storages, whole->storages) << "profiled in " << chunkBytes << "-byte chunks";
                // Compressed, the text is cut at line ends as it is inflated,
                // whether or not its size is known beforehand.
                const auto streamed = loadStreamedCsv(gzipped, {}, threads, {}, chunkBytes == 1 ? 0 : c.csv.size(),
                                                      chunkBytes);
                ASSERT_TRUE(streamed) << chunkBytes;
                EXPECT_EQ(streamed->storages, whole->storages) << "inflated in " << chunkBytes << "-byte chunks";
                EXPECT_TRUE(streamed->values == whole->values) << "inflated in " << chunkBytes << "-byte chunks";
                for (std::size_t col = 0; col < cut->values.size(); ++col) {   // == takes -0 for 0
                    if (cut->values[col].kind() != refhost::ColumnValues::Kind::Real) continue;
                    for (std::size_t row = 0; row < cut->values[col].size(); ++row)
                        EXPECT_EQ(std::signbit(cut->values[col].reals()[row]),
                                  std::signbit(whole->values[col].reals()[row])) << chunkBytes << " bytes";
                }
            }
        }
    }
    // What the chunks cannot read goes to the full reader, whatever the cut.
    // A line end within quotes declines the chunk it starts in, wherever the cuts fall.
    for (const std::string csv : {"a,b\n1,2\n\n3,4\n", "a,b\n1,\"x\ny\"\n2,z\n", "a,b\n1,\"x\"\"y\"\n", "a,b\n1,\"\"\n",
                                  "a,b\n1,x\"y\n", "a,b\n1,2\n3\n", "a,b\n1,2\r3,4\n"})
        for (const std::size_t chunkBytes : {1, 3, 64}) {
            const clitest::fs::path file = clitest::writeFile(clitest::freshDir("chunks") / "data.csv", csv);
            EXPECT_FALSE(loadPlainCsv(file.string(), {}, 2, {}, chunkBytes)) << csv << chunkBytes;
            const clitest::fs::path gz = clitest::writeGzip(file.string() + ".gz", csv);
            const OpenStream gzipped = [&] { return std::make_unique<InputSource>(gz.string(), "--data", false); };
            EXPECT_FALSE(loadStreamedCsv(gzipped, {}, 2, {}, 0, chunkBytes)) << csv << chunkBytes;
        }
}

// The chunks read numbers as the full reader does: integers that widen to
// reals keep "-0" as -0, and with a decimal comma a number's one comma is its
// point wherever the field is (quoted, in a text column, beyond the inline
// reader's digits) while nothing else changes. Checked plain and
// compressed, for every cut and thread count.
TEST(CsvTable, ChunksReadNumbersAsTheFullReaderReadsThem)
{
    const CsvFormat semicolons{.delimiter = ';', .decimal = ','};
    const CsvFormat tabs{.delimiter = '\t', .decimal = ','};
    const CsvFormat commaToken{.delimiter = ';', .decimal = ',', .naValues = {"-99,0"}};
    struct Case { const char* name; std::string csv; CsvFormat format; std::vector<Storage> storages; };
    const Case cases[] = {
        {"commas and points alike, signs, -0", "v;w\n1,5;2\n-0,25;+3,125\n2.75;-0,0\n-0;4\n", semicolons,
         {Storage::Real, Storage::Real}},
        {"integers widen at a comma", "v;k\n1;a\n2;a\n-0;a\n3,5;a\n4;a\n", semicolons,
         {Storage::Real, Storage::String}},
        {"integers widen at a point, -0 keeping its sign", "v,k\n1,a\n2,a\n-0,a\n3.5,a\n4,a\n", CsvFormat{},
         {Storage::Real, Storage::String}},
        {"a comma with no digits on one side, exponents, long digits", "v;n\n1,;1\n,5;2\n1,5e3;3\n-2,5E-2;4\n"
         "123456789,123456789;5\n0,12345678901234567;6\n", semicolons, {Storage::Real, Storage::Integer}},
        {"two commas, a comma and a point, or no number: text", "k;v\n1,5.3;1\n1,000,5;2\na,b;3\n1,5;4\n",
         semicolons, {Storage::String, Storage::Integer}},
        {"runs of a text column's numbers keep the point they were given", "k;v\nx;1\n1,5;2\n1,5;3\n1.5;4\n"
         "1,5;5\n1,25;6\n", semicolons, {Storage::String, Storage::Integer}},
        {"quoted numbers are read as numbers", "\"v\";\"k\"\n\"1,5\";\"a;b\"\n2,5;\"c\"\n", semicolons,
         {Storage::Real, Storage::String}},
        {"tab-delimited, a comma-decimal after a timestamp", "t\tv\n2024-01-02 10:00:00\t1,5\n"
         "2024-01-02 10:00:01,5\t2\n", tabs, {Storage::String, Storage::Real}},
        {"names keep their commas", "v;1,5;\"2,5\"\n1,5;1;x\n", semicolons,
         {Storage::Real, Storage::Integer, Storage::String}},
        {"a missing-value token that reads as a number with its comma", "v;n\n1,5;1\n-99,0;2\n\"-99,0\";3\n"
         ";4\n", commaToken, {Storage::Real, Storage::Integer}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const clitest::fs::path dir = clitest::freshDir("decimal-commas");
        const clitest::fs::path file = clitest::writeFile(dir / "data.csv", c.csv);
        const CsvTable full = readCsvTableSerially(file.string(), "", c.format);
        const clitest::fs::path gz = clitest::writeGzip(dir / "data.csv.gz", c.csv);
        const OpenStream gzipped = [&] { return std::make_unique<InputSource>(gz.string(), "--data", false); };
        for (const std::size_t chunkBytes : {1, 3, 64}) {
            for (const std::size_t threads : {1, 3}) {
                const auto plain = loadPlainCsv(file.string(), {}, threads, c.format, chunkBytes);
                const auto streamed = loadStreamedCsv(gzipped, {}, threads, c.format, 0, chunkBytes);
                for (const auto& loaded : {plain, streamed}) {
                    ASSERT_TRUE(loaded) << chunkBytes << " bytes, " << threads << " threads";
                    EXPECT_EQ(loaded->storages, c.storages);
                    for (std::size_t col = 0; col < c.storages.size(); ++col)
                        EXPECT_EQ(loaded->header[col], full.table.columns()[col].name);
                    for (std::size_t col = 0; col < c.storages.size(); ++col) {
                        const refhost::ColumnValues& expected = full.table.values(col);
                        EXPECT_EQ(full.table.columns()[col].storage, static_cast<int>(c.storages[col]));
                        ASSERT_TRUE(loaded->values[col] == expected) << "column " << col << ", " << chunkBytes
                                                                     << " bytes, " << threads << " threads";
                        if (expected.kind() != refhost::ColumnValues::Kind::Real) continue;
                        for (std::size_t row = 0; row < expected.size(); ++row)   // == takes -0 for 0
                            EXPECT_EQ(std::signbit(loaded->values[col].reals()[row]),
                                      std::signbit(expected.reals()[row])) << "row " << row;
                    }
                }
            }
        }
    }
}

// A compressed file whose text the chunks cannot read, or whose compressed
// data is damaged anywhere, leaves the table to the full reader, which
// gives the message the file deserves; a sound one loads as its plain text.
TEST(CsvTable, CompressedFilesLoadAsTheirTextOrFailAsTheFullReaderSays)
{
    std::string csv = "g,n,x\n";
    for (int i = 0; i < 20000; ++i)
        csv += "grp" + std::to_string(i / 1000) + "," + std::to_string(i) + "," + std::to_string(i % 89) + ".5\n";
    const clitest::fs::path dir = clitest::freshDir("compressed-loads");
    const std::string sound = clitest::readFile(clitest::writeGzip(dir / "sound.csv.gz", csv));
    const CsvTable plain = load(csv);
    EXPECT_TRUE(readCsvTable((dir / "sound.csv.gz").string(), "").table == plain.table);
    struct Case { const char* name; std::string bytes; std::string message; };
    const Case cases[] = {
        {"truncated in the middle", sound.substr(0, sound.size() / 2), "truncated"},
        {"bytes after the gzip data", sound + "trailing text", "followed by bytes that are not gzip data"},
        // Found only after the last record: every chunk read well.
        {"a damaged checksum", sound.substr(0, sound.size() - 8) + static_cast<char>(sound[sound.size() - 8] ^ 1) +
                                   sound.substr(sound.size() - 7),
         "corrupt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const clitest::fs::path file = clitest::writeFile(dir / "damaged.csv.gz", c.bytes);
        const OpenStream open = [&] { return std::make_unique<InputSource>(file.string(), "--data", false); };
        EXPECT_FALSE(loadStreamedCsv(open, {}, 2, {}, 0, 4096));
        try {
            readCsvTable(file.string(), "");
            ADD_FAILURE() << "loaded";
        } catch (const InputError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

// A file read pass by pass gives the same records, on the same lines,
// whether its chunks are read on threads to the end, up to a quote far down
// the file (the records from there on read one by one), or one by one from
// the start.
TEST(CsvTable, StreamedPassGivesTheSameRecordsWhereverTheQuickReadStops)
{
    const std::size_t rows = 60000;
    std::string plain = "g,n,x\n";
    for (std::size_t i = 0; i < rows; ++i)
        plain += "grp" + std::to_string(i / 5000) + "," + std::to_string(i) + "," + std::to_string(i % 89) + ".5\n";
    for (const std::size_t quoteAt : {std::string::npos, plain.find("grp11"), plain.find("grp0")}) {
        // A doubled quote is the full reader's to read.
        std::string csv = plain;
        if (quoteAt != std::string::npos) csv.replace(quoteAt, csv.find(',', quoteAt) - quoteAt, "\"q\"\"\"");
        const clitest::fs::path dir = clitest::freshDir("streamed-chunks");
        // Compressed, the chunks are cut as the text is inflated.
        for (const clitest::fs::path& file : {clitest::writeFile(dir / "data.csv", csv),
                                              clitest::writeGzip(dir / "data.csv.gz", csv)}) {
            SCOPED_TRACE(file.filename().string() + " " + std::to_string(quoteAt));
            std::size_t seen = 0;
            const CsvTable profile = profileCsvFile(
                file.string(), "", {}, readStreamedCsv, [&](const refhost::Table& block, const CsvBlock& read) {
                    for (std::size_t r = 0; r < block.rowCount(); ++r, ++seen) {
                        ASSERT_EQ(read.line(r), seen + 2);
                        ASSERT_EQ(block.values(1).integers()[r], static_cast<std::int64_t>(seen));
                        ASSERT_EQ(block.values(2).reals()[r], static_cast<double>(seen % 89) + 0.5);
                    }
                });
            EXPECT_EQ(seen, rows);
            EXPECT_EQ(profile.fields[1].storage, static_cast<int>(Storage::Integer));
            EXPECT_EQ(profile.fields[0].categories, quoteAt == std::string::npos ? 12u : 13u);
        }
    }
}

// Profiling keeps a column's distinct texts only within its budget, and a
// row kept for another column's new value holds such a text as missing, so
// that lines of long texts take no memory in proportion to their number;
// the longest text is measured all the same.
TEST(CsvTable, ProfilingKeepsTextsOnlyWithinTheBudgetAndMeasuresTheLongest)
{
    std::string csv = "n,note,short\n";
    for (int i = 0; i < 30; ++i) csv += std::to_string(i) + "," + std::string(100000 + i, 'z') + ",s" + std::to_string(i % 3) + "\n";
    const clitest::fs::path file = clitest::writeFile(clitest::freshDir("profile-budget") / "data.csv", csv);
    const CsvTable data = profileCsvFile(file.string(), "", {}, readStreamedCsv, {}, {}, std::size_t{1} << 20);
    const auto& notes = data.table.values(1).dictionary();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) kept += notes.at(static_cast<std::uint32_t>(i)).size();
    EXPECT_LE(kept, std::size_t{1} << 20);
    EXPECT_EQ(data.table.rowCount(), 30u);   // every row brings n a new number
    EXPECT_EQ(data.fields[1].longestText, 100029u);
    EXPECT_EQ(data.fields[1].categories, 30u);
    EXPECT_TRUE(data.fields[1].categoriesUnkept);
    EXPECT_FALSE(data.fields[2].categoriesUnkept);
    EXPECT_EQ(data.fields[2].categories, 3u);
}

// The component's data model lists a field's categories up to the cap, and none past it.
TEST(CsvTable, TheDataModelListsCategoriesUpToTheCap)
{
    for (const std::size_t categories : {kCategoryLimit, kCategoryLimit + 1}) {
        std::string csv = "k,c,y\n";
        for (std::size_t i = 0; i < categories; ++i) csv += "a,c" + std::to_string(i) + ",1\n";
        const clitest::fs::path file = clitest::writeFile(clitest::freshDir("category-cap") / "data.csv", csv);
        const CsvTable data = readCsvTable(file.string(), "");
        const std::string model = componentDataModel(data, data.table, {{"k"}, {0}, "y", 2, {}, {}});
        std::size_t listed = 0;
        for (std::size_t at = model.find("value=\"c"); at != std::string::npos; at = model.find("value=\"c", at + 1)) ++listed;
        EXPECT_EQ(listed, categories == kCategoryLimit ? categories : 0u) << categories;
    }
}

TEST(CsvTable, ReadsTheSameRecordsWhateverTheLayoutEncodingOrCompression)
{
    const std::string reference = "city,n,x\nK\xC3\xB6ln\xC2\x80,1,2.5\nNA,NA,-1.25\n\"NA\",3,\n";
    const std::pair<std::string, CsvFormat> cases[] = {
        {"city;n;x\nK\xC3\xB6ln\xC2\x80;1;2,5\nNA;NA;-1,25\n\"NA\";3;\n", {.delimiter = ';', .decimal = ','}},
        {"city\tn\tx\nK\xC3\xB6ln\xC2\x80\t1\t2.5\nNA\tNA\t-1.25\n\"NA\"\t3\t\n", {.delimiter = '\t'}},
        {"city,n,x\nK\xF6ln\x80,1,2.5\nNA,NA,-1.25\n\"NA\",3,\n", {.latin1 = true}},
        {clitest::readFile(clitest::writeGzip(clitest::freshDir("layouts") / "data.csv.gz", reference)), {}},
        {"city,n,x\nK\xC3\xB6ln\xC2\x80,1,2.5\n-,-999,-1.25\n\"NA\",3,\n", {.naValues = {"-", "-999"}}},
    };
    const CsvTable expected = load(reference);
    ASSERT_EQ(expected.table.rowCount(), 3u);
    EXPECT_EQ(expected.fields[0].missing, 1u);   // unquoted NA; the quoted one is text
    EXPECT_EQ(expected.fields[1].storage, static_cast<int>(Storage::Integer));
    for (const auto& [bytes, format] : cases) EXPECT_TRUE(load(bytes, format).table == expected.table) << bytes;
}

// R's write.csv quotes every text and heads the row names with an empty
// name; the row names are left out, and declared categories keep their
// texts ("01" stays "01") whether the file is loaded or profiled.
TEST(CsvTable, RowNamesAreLeftOutAndDeclaredCategoriesStayText)
{
    const std::string written = "\"\",\"g\",\"dose\",\"y\"\n\"1\",\"a\",\"01\",2.5\n\"2\",\"a\",\"2\",3\n\"3\",\"b\",\"2\",Inf\n";
    for (const CsvTable& data : loadBothWays(written, {"dose"})) {
        ASSERT_EQ(data.table.columnCount(), 3u);
        EXPECT_EQ(data.table.columns()[1].name, "dose");
        EXPECT_EQ(data.fields[1].storage, static_cast<int>(Storage::String));
        EXPECT_EQ(data.fields[2].storage, static_cast<int>(Storage::Real));
        EXPECT_EQ(data.csvColumns, (std::vector<std::size_t>{1, 2, 3}));
        ASSERT_EQ(data.notes.size(), 1u);
        EXPECT_NE(data.notes[0].find("row names"), std::string::npos);
        EXPECT_EQ(data.recordCount(), 3u);
    }
    EXPECT_EQ(loadBothWays(written)[0].fields[1].storage, static_cast<int>(Storage::Integer));
    // A plain file (no quotes) takes the quick loader.
    const CsvTable plain = loadBothWays("g,dose,y\na,01,1\nb,2,2\n", {"dose"})[0];
    EXPECT_EQ(plain.table.values(1).dictionary().at(0), "01");
    EXPECT_THROW(loadBothWays(written, {"Dose"}), InputError);
}

// refuseStrayTexts's message for column x of `data`, or "" when it takes the column.
std::string strayTextError(const CsvTable& data, const CsvFormat& format = {}, const std::vector<std::string>& categorical = {})
{
    try {
        refuseStrayTexts(data, {0, 1}, format, categorical);
    } catch (const InputError& e) {
        return e.what();
    }
    return "";
}

// A column of numbers with a few stray texts is refused at the first of
// them; a column where texts are common is a category.
TEST(CsvTable, NumbersWithStrayTextsAreRefusedAtTheFirstOne)
{
    struct Case { std::vector<std::string> values; const char* error; };
    const Case cases[] = {
        {{"1", "2", "oops", "4", "5", "6"}, "data.csv:4:2 (field 'x'): the value 'oops' is not a number, while 5"},
        {{"1", "2", "N/A", "4", "N/A", "6", "7", "8", "9", "10"}, "'N/A' is not a number, while 8 of the field's 10"},
        {{"1.5", "\"\"", "2", "3", "4"}, "data.csv:3:2 (field 'x'): the value '' is not a number"},
        {{"1", "2", "other", "other"}, nullptr}, {{"1", "2", "3", "4", "a", "b", "c", "d"}, nullptr},
        {{"1", "2", "3", "x"}, nullptr},
    };
    for (const Case& c : cases) {
        std::string csv = "g,x\n";
        for (const std::string& value : c.values) csv += "a," + value + "\n";
        SCOPED_TRACE(csv);
        for (const CsvTable& data : loadBothWays(csv)) {
            const std::string error = strayTextError(data);
            if (c.error == nullptr) {
                EXPECT_EQ(error, "");
            } else {
                EXPECT_NE(error.find(c.error), std::string::npos) << error;
                EXPECT_NE(error.find("--categorical x"), std::string::npos) << error;
            }
            EXPECT_EQ(strayTextError(data, {}, {"x"}), "");
        }
    }
    // Read with ';' between fields, a column of decimal commas points to --decimal, however many such
    // values it holds; texts with two commas, or with --decimal ',' given, are the model's to judge.
    const CsvFormat semicolons{.delimiter = ';'}, commaDecimals{.delimiter = ';', .decimal = ','};
    for (const auto& [csv, format, refused] : std::vector<std::tuple<std::string, CsvFormat, bool>>{
             {"g,x\na,\"2,5\"\na,3\na,\"4,75\"\na,\"-0,5\"\n", semicolons, true},
             {"g,x\na,\"2,5\"\na,\"1,2,3\"\n", semicolons, false},
             {"g,x\na,\"2,5\"\na,3\n", commaDecimals, false}}) {
        for (const CsvTable& data : loadBothWays(csv)) {
            const std::string error = strayTextError(data, format);
            EXPECT_EQ(error.find("data.csv:2:2 (field 'x'): the value '2,5' is a number only with a decimal comma; "
                                 "if the file writes decimals with commas, give --decimal ','") != std::string::npos,
                      refused) << csv << error;
        }
    }
    // A quoted file is read in chunks; a stray text far down keeps its line.
    std::string quoted = "\"g\",\"x\"\n";
    for (int i = 0; i < 40000; ++i) quoted += i == 30000 ? "\"a\",\"oops\"\n" : "\"a\"," + std::to_string(i) + ".5\n";
    for (const CsvTable& data : loadBothWays(quoted))
        EXPECT_NE(strayTextError(data).find("data.csv:30002:2 (field 'x'): the value 'oops'"), std::string::npos);
}

}  // namespace

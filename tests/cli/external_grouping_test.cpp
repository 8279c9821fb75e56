// Input over --memory-limit is grouped through temporary files: the loaded run's groups in its order,
// no files left, and a clear error when they cannot be written.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <random>

#include "cli_harness.h"
#include "errors.h"
#include "external_grouping.h"
#include "group_order.h"

using namespace clitest;

namespace {

// A table served in blocks of `blockRows`, as a streamed file is.
struct TableSource : refhost::RecordSource {
    TableSource(refhost::Table table, std::size_t blockRows) : table_(std::move(table)), blockRows_(blockRows) {}
    const std::vector<refhost::Column>& columns() const override { return table_.columns(); }
    std::unique_ptr<refhost::RecordPass> open() const override { return std::make_unique<Pass>(*this); }
    struct Pass : refhost::RecordPass {
        explicit Pass(const TableSource& source) : source(source) {}
        bool next(refhost::Table& block) override
        {
            const refhost::Table& all = source.table_;
            block = refhost::Table(all.columns());
            for (std::size_t end = std::min(at + source.blockRows_, all.rowCount()); at < end; ++at)
                block.addRowFrom(all, at);
            return block.rowCount() > 0;
        }
        const TableSource& source;
        std::size_t at = 0;
    };
    refhost::Table table_;
    std::size_t blockRows_;
};

splitrun::ExternalGroupingSettings settingsFor(const fs::path& temp, std::uint64_t limit, const refhost::Table& table)
{
    return {.tempDir = temp, .memoryLimit = limit, .inputBytes = 20 * table.rowCount(), .records = table.rowCount(),
            .write = {}, .progress = {}};
}

refhost::Table readAll(const refhost::RecordSource& source)
{
    refhost::Table all(source.columns());
    refhost::Table block;
    for (const auto pass = source.open(); pass->next(block);)
        for (std::size_t row = 0; row < block.rowCount(); ++row) all.addRowFrom(block, row);
    return all;
}

// Shuffled rows: a string key with missing values and a one-record group, an integer key,
// a real key holding 0 and -0, a value column numbering the rows in input order, and a key of
// 1,200 values, each on two or three rows far apart.
refhost::Table shuffledTable(std::size_t rows)
{
    refhost::Table table({{"s", 3, 3}, {"i", 1, 3}, {"r", 2, 1}, {"n", 1, 1}, {"k", 1, 3}});
    std::mt19937 random(7);
    const char* names[] = {"b", "", "a", "c\"d", "ab"};
    for (std::size_t row = 0; row < rows; ++row) {
        const unsigned pick = random() % 6;
        refhost::Cell s = pick == 5 ? refhost::Cell() : refhost::Cell::text(names[pick]);
        if (row == rows / 2) s = refhost::Cell::text("only-once");
        const long i = static_cast<long>(random() % 7) - 3;
        const double r = random() % 3 == 0 ? (random() % 2 ? 0.0 : -0.0) : std::ldexp(double(random() % 5), -1);
        table.addRow({s, i % 3 == 0 ? refhost::Cell() : refhost::Cell::integer(i), refhost::Cell::real(r),
                      refhost::Cell::integer(static_cast<long>(row)),
                      refhost::Cell::integer(static_cast<long>(row * 7919 % 1200))});
    }
    return table;
}

bool emptyDir(const fs::path& dir) { return fs::is_directory(dir) && fs::is_empty(dir); }

TEST(ExternalGrouping, GivesTheOrderOfTheInMemorySortWhateverThePartitioning)
{
    const refhost::Table table = shuffledTable(3000);
    const fs::path temp = freshDir("external_grouping_order");
    // Limits from one partition per key to all keys in one partition; k has more keys than the first
    // table of distinct keys holds.
    for (const std::vector<std::size_t>& keys : {std::vector<std::size_t>{0}, {1, 0}, {2}, {0, 1, 2}, {4}}) {
        refhost::Table expected = table;
        expected.permuteRows(splitrun::sortedByKey(table, keys));
        for (std::uint64_t limit : {1u << 16, 1u << 18, 1u << 30}) {
            // Too few keys fit for three columns, or for a key per record below the largest limit.
            if ((limit == 1u << 16 && keys.size() == 3) || (keys[0] == 4 && limit < 1u << 30)) continue;
            std::size_t reported = 0;
            splitrun::ExternalGroupingSettings settings = settingsFor(temp, limit, table);
            settings.progress = [&](std::size_t done, std::size_t) { reported = done; };
            {
                const auto grouped = splitrun::groupExternally(TableSource(table, 100), keys, settings);
                EXPECT_TRUE(readAll(*grouped) == expected) << keys.size() << " keys, limit " << limit;
                EXPECT_TRUE(readAll(*grouped) == expected) << "second pass";
            }
            EXPECT_EQ(reported, table.rowCount()) << "records reported grouped";
            EXPECT_TRUE(emptyDir(temp)) << "temporary files left behind";
        }
    }
}

// A write that fails in a sorted run or in the merge into the grouped records, or keys that do not
// fit, stop the grouping with an error that says why (and names the file), leaving no files behind.
TEST(ExternalGrouping, FullDiskOrTooManyKeysIsAClearErrorAndLeavesNoFiles)
{
    const refhost::Table table = shuffledTable(2000);
    const fs::path temp = freshDir("external_grouping_full");
    struct Case {
        const char* name;
        std::uint64_t limit;
        std::vector<std::size_t> keys;
        std::string file;   // whose writes fail
        int error;          // with this errno, or 0
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"disk full in the first run", 1 << 14, {0}, "run-0", ENOSPC,
         {"--temp-dir " + temp.string(), "no space left", "larger disk", "/run-0;"}},
        {"quota exceeded in a later run", 1 << 14, {0}, "run-3", EDQUOT, {"no space left", "/run-3;"}},
        {"write error in the merge", 1 << 14, {0}, "grouped", EIO, {"writable directory", "/grouped;"}},
        {"too many keys", 256, {0, 1, 3}, "", 0, {"distinct values", "--memory-limit", "--presorted"}},
    };
    for (const Case& c : cases) {
        splitrun::ExternalGroupingSettings settings = settingsFor(temp, c.limit, table);
        settings.write = [&](int fd, const void* bytes, std::size_t length) -> ssize_t {
            if (c.error && fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).filename() == c.file)
                return errno = c.error, -1;
            return ::write(fd, bytes, length);
        };
        try {
            splitrun::groupExternally(TableSource(table, 64), c.keys, settings);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const splitrun::InputError& e) {
            for (const std::string& part : c.expected)
                EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << c.name << ": " << e.what();
        }
        EXPECT_TRUE(emptyDir(temp)) << c.name;
    }
}

// Shuffled rows over many sorted runs: key g holds one group of most of the records, groups of
// about five records, 0 and -0 (equal keys of other bytes) and missing; n numbers the rows in input
// order and t is a text of its own per row.
refhost::Table runsTable(std::size_t rows, std::size_t smallGroups)
{
    refhost::Table table({{"g", 2, 1}, {"n", 1, 1}, {"t", 3, 3}});
    std::mt19937 random(5);
    for (std::size_t row = 0; row < rows; ++row) {
        const unsigned pick = random() % 10;
        const refhost::Cell g = pick < 6   ? refhost::Cell::real(1.5)
                                : pick == 6 ? refhost::Cell::real(random() % 2 ? 0.0 : -0.0)
                                : pick == 7 ? refhost::Cell()
                                            : refhost::Cell::real(double(2 + random() % smallGroups));
        table.addRow({g, refhost::Cell::integer(static_cast<long>(row)),
                      refhost::Cell::text("t" + std::to_string(row % 977))});
    }
    return table;
}

// The merge of sorted runs: a group over many runs and over blocks of the runs and of the grouped
// records, many small groups, runs merged early when the number of records is not known, and
// columns that are not carried coming out missing.
TEST(ExternalGrouping, SortedRunsMergeIntoTheInMemorySortOrder)
{
    const fs::path temp = freshDir("external_grouping_runs");
    struct Case {
        const char* name;
        std::size_t rows, smallGroups;
        std::uint64_t limit;
        bool recordsKnown;
        std::vector<bool> carried;
    };
    const Case cases[] = {
        {"a group over runs and blocks", 20000, 20, 1 << 19, true, {}},
        {"many small groups", 12000, 1000, 1 << 20, true, {}},
        {"runs merged early", 30000, 5, 1 << 14, false, {}},
        {"a column not carried", 9000, 20, 1 << 18, true, {true, true, false}},
    };
    for (const Case& c : cases) {
        const refhost::Table table = runsTable(c.rows, c.smallGroups);
        refhost::Table sorted = table;
        sorted.permuteRows(splitrun::sortedByKey(table, {0}));
        std::vector<refhost::ColumnValues> values;
        for (std::size_t column = 0; column < sorted.columnCount(); ++column) {
            values.push_back(sorted.values(column));
            if (column < c.carried.size() && !c.carried[column]) {
                values.back() = refhost::ColumnValues(values.back().kind());
                for (std::size_t row = 0; row < sorted.rowCount(); ++row) values.back().appendMissing();
            }
        }
        const refhost::Table expected(sorted.columns(), std::move(values));
        splitrun::ExternalGroupingSettings settings = settingsFor(temp, c.limit, table);
        if (!c.recordsKnown) settings.records = 0;
        settings.carried = c.carried;
        {
            const auto grouped = splitrun::groupExternally(TableSource(table, 700), {0}, settings);
            EXPECT_TRUE(readAll(*grouped) == expected) << c.name;
        }
        EXPECT_TRUE(emptyDir(temp)) << c.name;
    }
}

TEST(ExternalGrouping, ShuffledFileOverTheLimitBuildsWhatTheLoadedRunBuilds)
{
    const fs::path dir = freshDir("external_grouping_cli");
    std::string csv = "region,code,x,y\n";
    std::mt19937 random(11);
    const char* regions[] = {"", "East", "\"North, upper\"", "South", "West", "NA"};
    for (int i = 0; i < 6000; ++i) {
        const int g = static_cast<int>(random() % 6);
        const int code = static_cast<int>(random() % 4) - 1;
        const double x = (random() % 1000) / 10.0;
        csv += std::string(regions[g]) + "," + (code < 0 ? "" : std::to_string(code)) + "," +
               std::to_string(x) + "," + std::to_string(2 * x + g - code + (random() % 10) / 10.0) + "\n";
        if (i == 3000) csv += "Lonely,9,1.5,2.5\n";   // a group of one record
    }
    writeFile(dir / "in.csv", csv);
    const fs::path temp = dir / "temp";
    fs::create_directories(temp);
    for (const char* split : {"region", "code,region"}) {
        const std::vector<std::string> model = {"--data", (dir / "in.csv").string(), "--threads", "2", "--split", split,
                                                "--target", "y", "--inputs", "x"};
        std::vector<std::string> limited = model;
        limited.insert(limited.end(), {"--memory-limit", "64K", "--temp-dir", temp.string()});
        EXPECT_TRUE(buildOutcome(dir / "limited", limited) == buildOutcome(dir / "loaded", model)) << split;
        EXPECT_TRUE(emptyDir(temp)) << split;
    }
}

// A temporary directory that cannot be made stops grouping but not presorted input, which is
// read from the file again; presorted input found not grouped leaves no spool behind.
TEST(ExternalGrouping, TemporaryDirectoryFailuresAndUngroupedPresortedInput)
{
    const fs::path dir = freshDir("external_grouping_temp_dir");
    std::string csv = "g,x,y\n";
    for (int i = 0; i < 300; ++i)
        csv += std::string(1, char('a' + (i < 290 ? i / 50 : 0))) + "," + std::to_string(i % 7) + "," + std::to_string(i % 5) + "\n";
    writeFile(dir / "in.csv", csv);
    fs::create_directories(dir / "temp");
    struct Case { const char* temp; bool presorted; bool grouped; int status; std::string message; };
    const Case cases[] = {
        {"missing", false, true, 2, "--temp-dir " + (dir / "missing").string()},
        {"missing", true, true, 0, ""},
        {"temp", true, false, 2, "reappears at line 292"},
    };
    for (const Case& c : cases) {
        writeFile(dir / "in.csv", c.grouped ? csv.substr(0, csv.find("\nf") + 1) : csv);
        const fs::path out = dir / (std::string("out-") + c.temp + (c.presorted ? "-presorted" : ""));
        std::vector<std::string> args = {"--split", "g", "--target", "y", "--memory-limit", "1K", "--temp-dir", (dir / c.temp).string()};
        if (c.presorted) args.push_back("--presorted");
        const RunOutput run = runBuild(dir / "in.csv", out, args);
        EXPECT_EQ(run.status, c.status) << out << run.err;
        if (!c.message.empty()) { EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err; }
        EXPECT_EQ(fs::exists(out), c.status == 0) << out;
        EXPECT_TRUE(emptyDir(dir / "temp")) << out;
    }
}

}  // namespace

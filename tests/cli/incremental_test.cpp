// split-run build --incremental: after a change to the data or the options,
// an incremental build into the previous output writes exactly what a full
// build on the same data writes (every file, and containers.db byte for
// byte), reusing only the groups that did not change; a previous output it
// cannot trust is not used.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <functional>

#include "cli_harness.h"
#include "output_manifest.h"

using namespace clitest;

namespace {

// Groups g1..gN of six records each (string keys, as the file sorts them).
std::string baseData(int groups)
{
    std::string text = "store,x1,x2,y\n";
    for (int g = 1; g <= groups; ++g)
        for (int r = 0; r < 6; ++r)
            text += "g" + std::to_string(g) + "," + std::to_string(r) + "," + std::to_string((r * 7 + g) % 5) +
                    "," + std::to_string(g * 10 + 2 * r + (r * r) % 3) + "\n";
    return text;
}

std::string withoutLinesStarting(std::string text, const std::string& prefix)
{
    for (std::size_t at; (at = text.find("\n" + prefix)) != std::string::npos;)
        text.erase(at + 1, text.find('\n', at + 1) - at);
    return text;
}

RunOutput build(const fs::path& data, const fs::path& out, std::vector<std::string> extra)
{
    extra.insert(extra.begin(), {"--split", "store", "--target", "y", "--inputs", "x1,x2", "--threads", "2"});
    return runBuild(data, out, extra);
}

// groups.csv's rows without the reused column, and the reused column.
std::pair<std::vector<Record>, std::string> splitReused(const fs::path& groupsCsv)
{
    std::vector<Record> rows = readCsvRecords(groupsCsv);
    std::string reused;
    for (Record& row : rows) {
        reused += row.at("reused") == "true" ? 'R' : '-';
        row.erase("reused");
    }
    return {rows, reused};
}

// An incremental build in `incremental` matches a full build in `full`:
// every file (containers.db byte for byte) and every exported entry, with
// groups.csv equal but for its reused column.
void expectSameAsFullBuild(const fs::path& incremental, const fs::path& full)
{
    std::map<std::string, std::string> a = treeContents(incremental), b = treeContents(full);
    a.erase("groups.csv");
    b.erase("groups.csv");
    EXPECT_EQ(a, b);
    EXPECT_EQ(splitReused(incremental / "groups.csv").first, splitReused(full / "groups.csv").first);
    EXPECT_EQ(treeContents(exportedFiles(incremental)), treeContents(exportedFiles(full)));
    EXPECT_EQ(splitReused(full / "groups.csv").second.find('R'), std::string::npos);
}

// The report's line of counts, without its "Incremental: ".
std::string incrementalLine(const std::string& report)
{
    const std::size_t at = report.find("Incremental: ");
    return at == std::string::npos ? "" : report.substr(at + 13, report.find('\n', at) - at - 13);
}

// Lists the files of a build's directory in its manifest as they are now,
// so that the next build takes them for its own and may replace them.
void ownAgain(const fs::path& out)
{
    writeFile(out / splitrun::kManifestName, splitrun::manifestText(out, splitrun::readManifest(out).build));
}

// Runs `sql` on the SQLite database at `path` (created when missing).
std::function<void(const fs::path&)> sql(const char* statements)
{
    return [statements](const fs::path& path) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, statements, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    };
}

// A previous build, the data and options of the next one, and what the
// incremental build must say and reuse.
struct Change {
    const char* name;
    std::function<std::string(const std::string&)> data;   // the new data from the base data
    std::vector<std::string> extra;                         // options of the second build
    std::function<void(const fs::path&)> spoil;             // done to the previous containers.db
    const char* counts;
    std::string reused;   // groups.csv's reused column, R for true, in group order
    const char* stderrHas;
    std::vector<std::string> first = {};                    // options of the first build
    // Past 64 groups the StatXML entries no longer list the split values,
    // so a group moved by another's arrival or removal keeps its entries
    // but for its model ID.
    int groups = 5;
};

class IncrementalBuild : public ::testing::TestWithParam<Change> {};

TEST_P(IncrementalBuild, WritesWhatAFullBuildWritesAndReusesOnlyTheUnchanged)
{
    const Change& change = GetParam();
    const fs::path dir = freshDir(std::string("incremental-") + change.name);
    writeFile(dir / "base.csv", baseData(change.groups));
    writeFile(dir / "new.csv", change.data(baseData(change.groups)));
    ASSERT_EQ(build(dir / "base.csv", dir / "inc", change.first).status, 0);
    if (change.spoil) {
        change.spoil(dir / "inc" / "containers.db");
        ownAgain(dir / "inc");
    }

    std::vector<std::string> extra = change.extra;
    extra.push_back("--incremental");
    const RunOutput inc = build(dir / "new.csv", dir / "inc", extra);
    ASSERT_EQ(inc.status, 0) << inc.err;
    ASSERT_EQ(build(dir / "new.csv", dir / "full", change.extra).status, 0);

    EXPECT_EQ(incrementalLine(inc.out), change.counts);
    EXPECT_EQ(splitReused(dir / "inc" / "groups.csv").second, change.reused);
    if (*change.stderrHas) {
        EXPECT_NE(inc.err.find(change.stderrHas), std::string::npos) << inc.err;
        EXPECT_NE(inc.err.find("; building every group\n"), std::string::npos) << inc.err;
    } else
        EXPECT_EQ(inc.err, "");
    expectSameAsFullBuild(dir / "inc", dir / "full");
}

const auto same = [](const std::string& data) { return data; };
const char* const allRefitted = "0 reused, 5 refitted, 0 added, 0 removed";
const char* const allAdded = "0 reused, 0 refitted, 5 added, 0 removed";   // nothing known of the previous build

INSTANTIATE_TEST_SUITE_P(Changes, IncrementalBuild,
    ::testing::Values(
        Change{"unchanged", same, {}, {}, "5 reused, 0 refitted, 0 added, 0 removed", "RRRRR", ""},
        Change{"edited", [](std::string d) { return d.replace(d.find("g3,2,"), 5, "g3,9,"); }, {}, {},
               "4 reused, 1 refitted, 0 added, 0 removed", "RR-RR", ""},
        Change{"added", [](const std::string& d) { return d + "g6,1,2,3\ng6,2,1,5\ng6,3,3,8\ng6,5,0,9\n"; }, {}, {},
               "5 reused, 0 refitted, 1 added, 0 removed", "RRRRR-", ""},
        Change{"removed last", [](const std::string& d) { return withoutLinesStarting(d, "g5,"); }, {}, {},
               "4 reused, 0 refitted, 0 added, 1 removed", "RRRR", ""},
        // A group gone from the front, or new there, moves the others: they
        // are reused under their new model IDs.
        Change{"removed first", [](const std::string& d) { return withoutLinesStarting(d, "g1,"); }, {}, {},
               "4 reused, 0 refitted, 0 added, 1 removed", "RRRR", ""},
        Change{"added first", [](const std::string& d) { return d + "g0,1,2,3\ng0,2,1,5\ng0,3,3,8\ng0,5,0,9\n"; },
               {}, {}, "5 reused, 0 refitted, 1 added, 0 removed", "-RRRRR", ""},
        // g1 sorts first and g9a last: every other group moves up by one.
        Change{"moved among many",
               [](const std::string& d) {
                   return withoutLinesStarting(d, "g1,") + "g9a,1,2,3\ng9a,2,1,5\ng9a,3,3,8\ng9a,5,0,9\n";
               },
               {}, {}, "69 reused, 0 refitted, 1 added, 1 removed", std::string(69, 'R') + "-", "", {}, 70},
        // Records in another order within a group: another fit input.
        Change{"reordered", [](std::string d) {
                   const std::size_t a = d.find("g2,0,"), b = d.find("g2,1,"), e = d.find('\n', b);
                   return d.substr(0, a) + d.substr(b, e + 1 - b) + d.substr(a, b - a) + d.substr(e + 1);
               }, {}, {}, "4 reused, 1 refitted, 0 added, 0 removed", "R-RRR", ""},
        // Options that only shape the tables keep every group.
        // A reused group keeps the levels its records hold: its segment in
        // split-model.pmml lists the reference level with a beta of 0.
        Change{"categorical input", same, {"--family", "gaussian", "--categorical", "x2"}, {},
               "5 reused, 0 refitted, 0 added, 0 removed", "RRRRR", "", {"--family", "gaussian", "--categorical", "x2"}},
        Change{"conf level", same, {"--conf-level", "0.9"}, {}, "5 reused, 0 refitted, 0 added, 0 removed",
               "RRRRR", ""},
        Change{"other options", same, {"--non-finite", "skip"}, {}, allRefitted, "-----",
               "the previous build used other model options"},
        Change{"other model", same, {"--family", "gaussian"}, {}, allRefitted, "-----", "other model options"},
        // Streamed from the file, grouped through temporary files.
        Change{"streamed", [](std::string d) { return d.replace(d.find("g4,5,"), 5, "g4,8,"); },
               {"--memory-limit", "1K"}, {}, "4 reused, 1 refitted, 0 added, 0 removed", "RRR-R", ""},
        // Stored outputs whose entries changed under them are fitted again.
        Change{"spoilt entries", same, {},
               sql("UPDATE entries SET content = CAST('<x/>' || content AS BLOB) "
                   "WHERE key IN ('model-0002', 'model-0004')"),
               "3 reused, 2 refitted, 0 added, 0 removed", "R-R-R", ""},
        // Previous outputs that are not trusted at all.
        Change{"other model code", same, {}, sql("UPDATE build SET model_code = 0"), allRefitted, "-----",
               "written by another version of the model code (0, this is "},
        Change{"garbage", same, {}, [](const fs::path& db) { writeFile(db, std::string(5000, 'x')); }, allAdded,
               "-----", "the previous build cannot be read"},
        Change{"truncated", same, {}, [](const fs::path& db) { fs::resize_file(db, 70000); }, allAdded, "-----",
               "the previous build cannot be read"},
        Change{"foreign", same, {},
               [](const fs::path& db) {
                   fs::remove(db);
                   sql("CREATE TABLE sales(store TEXT, y REAL)")(db);
               },
               allAdded, "-----", "not a container store this version of split-run reads"},
        Change{"version 1", same, {}, sql("DROP TABLE groups; DROP TABLE build; PRAGMA user_version=1"), allAdded,
               "-----", "written by an older split-run that kept no fingerprints"},
        Change{"no groups table", same, {}, sql("DROP TABLE groups"), allAdded, "-----",
               "the previous build cannot be read"},
        Change{"version 2", same, {}, sql("PRAGMA user_version=2"), allAdded, "-----",
               "kept its groups otherwise"}),
    CaseNameOf{});

}  // namespace

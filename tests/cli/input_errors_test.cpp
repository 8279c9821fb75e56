// Input errors that need large inputs (far down a file, long names, binary data, many keys) exit with
// status 2 and name what is wrong and where; the message snapshots pin the others whole.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include "cli_harness.h"
#include "options.h"
#include "value_parsing.h"
#include "visible_text.h"

using namespace clitest;

namespace {

const char* const kGoodCsv = "region,x,y,flag,label\nNorth,1,2.5,yes,a\nNorth,2,4.5,no,b\nSouth,1,1.5,yes,c\n";

TEST(InputErrors, LargeInputsExitWithTwoAndSayWhatAndWhere)
{
    // csv: data.csv; args: after build --data data.csv --out out
    struct Case { const char* name; std::string csv; std::vector<std::string> args, expected; };
    const std::vector<std::string> base = {"--split", "region", "--target", "y", "--inputs", "x"};
    auto with = [&](std::vector<std::string> more) { more.insert(more.begin(), base.begin(), base.end()); return more; };
    auto csv = [](const std::string& row) { return std::string(kGoodCsv) + row; };
    std::string filler;
    for (int i = 0; i < 50000; ++i) filler += "South,2,3.5,no,d\n";
    std::string manyKeys = "region,x,y\n";   // grouped, a key per record
    for (int i = 0; i < 20000; ++i) manyKeys += "r" + std::to_string(i) + ",1,2\n";
    const Case cases[] = {
        // Far enough down to be read by a later chunk than the first.
        {"ragged row after 50,000 records", csv(filler + "South,2,3.5\n"), base, {"data.csv:50005:4 (field 'flag')"}},
        {"stray cell after 50,000 records", csv(filler + "North,oops,1,no,f\n"), base, {"data.csv:50005:2 (field 'x')"}},
        {"stray cell after 50,000 records, streamed", csv(filler + "North,oops,1,no,f\n"),
         with({"--memory-limit", "1M"}), {"data.csv:50005:2 (field 'x')", "while 50003 of the field's 50004"}},
        {"field name longer than 64 KiB", csv("").replace(16, 5, std::string(70000, 'n')), base,
         {"data.csv:1:5", "is 70000 bytes long, more than the 65536"}},
        // Before the records: a limit too small for the keys does not speak first.
        {"a control character in a field name, profiled in chunks", csv(filler).replace(7, 1, "x\x1b"),
         with({"--memory-limit", "100"}), {"data.csv:1:2: the field name 'x\\x1B' holds a control character"}},
        {"field name longer than 64 KiB, Latin-1 (the full reader)", csv("").replace(16, 5, std::string(70000, 'n')),
         with({"--encoding", "latin1"}), {"data.csv:1:5", "is 70000 bytes long, more than the 65536"}},
        {"a field name of exactly 64 KiB is taken", csv("").replace(16, 5, std::string(65536, 'n')),
         {"--split", "Region", "--target", "y"}, {"--split", "'Region' is not a column"}},
        // Binary data is refused at its first block, not read on until a
        // field outgrows --max-field-size (a 3 MB header line here).
        {"binary data", std::string("region\0", 7) + std::string(3 << 20, 'x'), base,
         {"line 1 holds a zero byte", "the file looks binary", "gzip-compressed CSV is also read"}},
        {"presorted file with more keys than the memory limit holds", manyKeys,
         with({"--presorted", "--memory-limit", "16K"}),
         {"more distinct values", "than fit in --memory-limit to check that the file is grouped", "raise --memory-limit"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshDir("input-error", {{"data.csv", c.csv}});
        const RunOutput run = runBuild(dir / "data.csv", dir / "out", c.args);
        EXPECT_EQ(run.status, 2) << run.out << run.err;
        for (const std::string& part : c.expected)
            EXPECT_NE(run.err.find(part), std::string::npos) << part << "\n" << run.err;
        EXPECT_FALSE(fs::exists(dir / "out")) << "output made for a refused run";
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_NE(entry.path().filename().string().rfind(".out", 0), 0u) << "left behind: " << entry.path();
    }
    // A streamed build whose temporary directory comes from a missing $TMPDIR names TMPDIR, not --temp-dir.
    const fs::path dir = freshDir("input-error-tmpdir", {{"data.csv", csv(filler)}});
    const RunOutput run = runBuild(dir / "data.csv", dir / "out", with({"--memory-limit", "64K"}),
                                   {{"TMPDIR", (dir / "missing").string()}});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("TMPDIR " + (dir / "missing").string() + " (the default --temp-dir): cannot create"),
              std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
}

// A build whose report cannot be written fails, though its outputs stand; closed standard descriptors and a
// file size limit end the run with a message, not a hang, a signal or a report written into an output.
TEST(InputErrors, BuildWhoseStreamsOrFilesCannotBeUsedEndsCleanly)
{
    // outputs: the outputs stand
    const struct { const char *before, *data, *after; int status; const char* message; bool outputs; } cases[] = {
        {"", "data.csv", "> /dev/full", 1, "the report could not be written", true},
        {"", "data.csv", ">&-", 1, "the report could not be written", true},
        {"", "-", "<&-", 2, "--data -: standard input is closed", false},
        {"ulimit -f 1; ", "data.csv", "", 1, "run failed: cannot write", false},
        {"ulimit -n 32; ", "many.csv", "--memory-limit 64K", 2, "raise the limit of open files (ulimit -n)", false},
    };
    std::string many = "region,x,y,flag,label\n";   // 100 groups, grouped through some 50 temporary files
    for (int i = 0; i < 20000; ++i) many += "r" + std::to_string(i / 200) + "," + std::to_string(i % 7) + ",1.5,no,a\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + c.after);
        const fs::path dir = freshDir("report-full");
        writeFile(dir / "data.csv", std::string(kGoodCsv) + "South,3,3.5,no,d\nSouth,5,2.5,yes,e\n");
        writeFile(dir / "many.csv", many);
        const std::string data = c.data == std::string("-") ? "-" : (dir / c.data).string();
        const std::string command = "cd '" + dir.string() + "' && " + c.before + "timeout 60 '" + SPLIT_RUN_PATH +
                                    "' build --data '" + data + "' --split region --target y --inputs x --out out " +
                                    c.after + " 2> err";
        const int status = std::system(("sh -c \"" + command + "\"").c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.status);
        EXPECT_NE(readFile(dir / "err").find(c.message), std::string::npos) << readFile(dir / "err");
        EXPECT_EQ(readFile(dir / "err").find("Sanitizer:"), std::string::npos) << "a leak on the way out";
        EXPECT_EQ(fs::exists(dir / "out" / "groups.csv"), c.outputs);
        if (c.outputs) {
            EXPECT_EQ(readFile(dir / "out" / "groups.csv").rfind("region,", 0), 0u);
        }
        for (const auto& entry : fs::directory_iterator(dir))   // no working directory left beside out
            EXPECT_NE(entry.path().filename().string().rfind(".out", 0), 0u) << entry.path();
    }
}

// Every spelling of the one other encoding the help names reads the file as latin-1.
TEST(Usage, EncodingSpellings)
{
    for (const char* encoding : {"latin1", "latin-1", "iso-8859-1", "utf-8"}) {
        const char* argv[] = {"split-run", "score", "--model", "m.pmml", "--data", "d.csv", "--out", "o.csv",
                              "--encoding", encoding};
        std::ostringstream out, err;
        const splitrun::CommandLine line = splitrun::parseCommandLine(std::size(argv), argv, out, err);
        EXPECT_FALSE(line.exitStatus) << encoding << err.str();
        EXPECT_EQ(line.score.format.latin1, std::string(encoding) != "utf-8") << encoding;
    }
}

// --threads: a count given is kept, a build's capped at four per core (at least 8); none is one per core.
TEST(Usage, ThreadsGivenAreKeptAndNoneIsOnePerCore)
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const struct { const char* given; unsigned build, score; } cases[] = {
        {nullptr, cores, cores}, {"3", 3, 3}, {"1000", std::max(8u, 4 * cores), 1000}};
    for (const auto& c : cases) {
        std::vector<const char*> build = {"split-run", "build", "--data", "d", "--split", "g", "--target", "y", "--out", "o"};
        std::vector<const char*> score = {"split-run", "score", "--model", "m", "--data", "d", "--out", "o"};
        for (auto* argv : {&build, &score})
            if (c.given) argv->insert(argv->end(), {"--threads", c.given});
        std::ostringstream out, err;
        EXPECT_EQ(splitrun::parseCommandLine(static_cast<int>(build.size()), build.data(), out, err).build.threads, c.build);
        EXPECT_EQ(splitrun::parseCommandLine(static_cast<int>(score.size()), score.data(), out, err).score.threads, c.score)
            << err.str();
    }
}

// Text echoed in messages: controls, C1 controls and bytes of no UTF-8
// character escaped, well-formed characters kept; and which texts are UTF-8.
TEST(VisibleText, EscapesControlsAndBytesOfNoUtf8Character)
{
    const struct { std::string_view text, shown; bool utf8; } cases[] = {
        {"a\tb\\c\x1b[2J\x7f", "a\\tb\\\\c\\x1B[2J\\x7F", true},
        {"caf\xC3\xA9 \xC2\xA0 \xF0\x9F\x99\x82", "caf\xC3\xA9 \xC2\xA0 \xF0\x9F\x99\x82", true},  // kept whole, to the last byte
        {"x\xFF", "x\\xFF", false},                                 // Latin-1 or stray byte
        {"\xC2\x9B" "1m", "\\xC2\\x9B1m", true},                   // C1 control (CSI)
        {"\xC0\x80", "\\xC0\\x80", false},                         // overlong zero
        {"\xED\xA0\x80", "\\xED\\xA0\\x80", false},                // surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", false},       // past U+10FFFF
        {"ab\xE2\x82", "ab\\xE2\\x82", false},                      // cut short at the end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(splitrun::visibleText(c.text), c.shown) << c.text;
        EXPECT_EQ(splitrun::isUtf8(c.text), c.utf8) << c.text;
    }
}

}  // namespace

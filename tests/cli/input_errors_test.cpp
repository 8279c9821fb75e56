// Every class of input error exits with status 2 and names what is wrong and where.
#include <sys/wait.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include <sstream>

#include "cli_harness.h"
#include "options.h"

using namespace clitest;

namespace {

const char* const kGoodCsv = "region,x,y,flag,label\nNorth,1,2.5,yes,a\nNorth,2,4.5,no,b\nSouth,1,1.5,yes,c\n";

std::string dataModel(const std::string& lastName, const std::string& lastStorage)
{
    return "<DataModel version=\"1.0\"><Fields caseSensitive=\"true\" count=\"5\"><Field name=\"region\" "
           "storage=\"string\" measure=\"nominal\"/><Field name=\"x\" storage=\"integer\" measure=\"continuous\"/>"
           "<Field name=\"y\" storage=\"real\" measure=\"continuous\"/><Field name=\"flag\" storage=\"string\" "
           "measure=\"flag\"/><Field name=\"" + lastName + "\" storage=\"" + lastStorage + "\" measure=\"nominal\"/></Fields></DataModel>";
}

TEST(InputErrors, EachClassExitsWithTwoAndSaysWhatAndWhere)
{
    struct Case {
        const char* name;
        std::string csv, model;          // data.csv and model.xml (when not empty)
        std::vector<std::string> args, expected;   // args after COMMAND --data data.csv --out out
        const char* command = "build";
        bool outIsFile = false;   // a file stands where the output goes
    };
    const std::vector<std::string> base = {"--split", "region", "--target", "y", "--inputs", "x"};
    auto with = [&](std::vector<std::string> more) { more.insert(more.begin(), base.begin(), base.end()); return more; };
    auto csv = [](const std::string& row) { return std::string(kGoodCsv) + row; };
    std::string filler;
    for (int i = 0; i < 50000; ++i) filler += "South,2,3.5,no,d\n";
    std::string manyKeys = "region,x,y\n";   // grouped, a key per record
    for (int i = 0; i < 20000; ++i) manyKeys += "r" + std::to_string(i) + ",1,2\n";
    const std::vector<std::string> dm = with({"--data-model", "model.xml"});
    auto utf16 = [](std::string_view mark, std::string_view text, bool little) {
        std::string wide(mark);
        for (char c : text) wide += little ? std::string{c, '\0'} : std::string{'\0', c};
        return wide;
    };
    const Case cases[] = {
        {"a control byte after a closing quote is named by its code", csv("\"South\"\x7f,2,3.5,no,d\n"), "", base,
         {"data.csv:5:1 (field 'region')", "unexpected character 0x7F after the closing quote"}},
        {"a second byte order mark hides the first name", "\xEF\xBB\xBF\xEF\xBB\xBF" + std::string(kGoodCsv), "", base,
         {"--split: the field 'region' is not a column", "starts with a second byte order mark"}},
        {"unknown split field", kGoodCsv, "", {"--split", "Region", "--target", "y"},
         {"--split", "'Region' is not a column", "region, x, y, flag, label"}},
        {"a value that does not fit the data model's storage, file read pass by pass", kGoodCsv, dataModel("label", "integer"),
         with({"--data-model", "model.xml", "--memory-limit", "100"}), {"data.csv:2:5 (field 'label')", "'a' is not"}},
        {"control characters in a quoted value are shown escaped", csv("").replace(csv("").find(",a\n"), 3, ",\x1b[2Ja\n"),
         dataModel("label", "integer"), dm, {"'\\x1B[2Ja' is not a whole number"}},
        {"logistic target with one value in the whole input", "region,x,y\nNorth,1,1\nNorth,2,1\nSouth,1,1\n", "",
         with({"--model", "logistic"}), {"--target y", "exactly two distinct values", "has 1 (1)"}},
        {"the first of two categories with a control character, file read pass by pass", csv("South,2,3.5,no,\x01" "d\nSouth,3,4,no,\x02" "e\n"),
         "", {"--split", "region", "--target", "y", "--inputs", "x,label", "--memory-limit", "100"},
         {"data.csv:5 (field 'label')", "'\\x01d'"}},
        {"target category with a control character",
         "region,x,y,flag,label\nNorth,1,2.5,yes,a\nNorth,2,4.5,n\x01o,b\nSouth,1,1.5,yes,c\nSouth,2,3.5,n\x01o,d\n", "",
         {"--split", "region", "--target", "flag", "--inputs", "x", "--model", "logistic"},
         {"data.csv:3 (field 'flag')", "'n\\x01o' holds a control character"}},
        {"unknown option, named before missing ones", kGoodCsv, "", {"--bogus"}, {"unknown option --bogus", "--help"}},
        {"field longer than the limit", csv("South,1,1.5,yes," + std::string(100, 'z') + "\n"), "",
         with({"--max-field-size", "64"}), {"data.csv:5:5", "longer than 64 bytes", "--max-field-size"}},
        {"corrupt gzip data", "\x1f\x8b\x08garbage", "", base, {"data.csv", "gzip"}},
        {"UTF-16 data without a byte order mark", utf16("", kGoodCsv, false), "", base,
         {"UTF-16 text (big-endian, without a byte order mark)", "iconv -f UTF-16BE -t UTF-8"}},
        {"UTF-16 model given to score", kGoodCsv, utf16("", "<PMML/>", true), {"--model", "model.xml"},
         {"--model", "UTF-16 text", "iconv"}, "score"},
        {"an empty path for a file option", kGoodCsv, "", with({"--data-model", ""}),
         {"--data-model", "is empty; give the data model's file"}},
        {"output path is a file", kGoodCsv, "", base, {"is not a directory"}, "build", true},
        {"score with a model it cannot use", kGoodCsv, "<PMML version=\"4.4\"><DataDictionary/></PMML>",
         {"--model", "model.xml"}, {"--model", "model.xml"}, "score"},
        {"empty items of --na-values are no tokens", csv("South,3,3.5,no,d\nSouth,4,4.5,yes,e\nNorth,oops,1,no,f\n"), "",
         with({"--na-values", ",NA,"}), {"--na-values 'NA,oops'"}},
        // Far enough down to be read by a later chunk than the first.
        {"ragged row after 50,000 records", csv(filler + "South,2,3.5\n"), "", base, {"data.csv:50005:4 (field 'flag')"}},
        {"stray cell after 50,000 records", csv(filler + "North,oops,1,no,f\n"), "", base, {"data.csv:50005:2 (field 'x')"}},
        {"stray cell after 50,000 records, streamed", csv(filler + "North,oops,1,no,f\n"), "",
         with({"--memory-limit", "1M"}), {"data.csv:50005:2 (field 'x')", "while 50003 of the field's 50004"}},
        {"field name longer than 64 KiB", csv("").replace(16, 5, std::string(70000, 'n')), "", base,
         {"data.csv:1:5", "is 70000 bytes long, more than the 65536"}},
        {"a field name of exactly 64 KiB is taken", csv("").replace(16, 5, std::string(65536, 'n')), "",
         {"--split", "Region", "--target", "y"}, {"--split", "'Region' is not a column"}},
        {"split list with an empty name", kGoodCsv, "", {"--split", "region,", "--target", "y"}, {"--split", "empty"}},
        {"field size limit of zero", kGoodCsv, "", with({"--max-field-size", "0"}), {"--max-field-size", "at least 1"}},
        {"field size limit past 64 bits", kGoodCsv, "", with({"--max-field-size", "18446744073709551616"}),
         {"--max-field-size", "at most 18 digits"}},
        {"data given twice", kGoodCsv, "", with({"--data", "other.csv"}), {"--data is given 2 times; give it once"}},
        {"missing-value token holding a line break", kGoodCsv, "", {"--model", "model.xml", "--na-out", "n\ra"},
         {"--na-out", "would break the CSV"}, "score"},
        // Binary data is refused at its first block, not read on until a
        // field outgrows --max-field-size (a 3 MB header line here).
        {"binary data", std::string("region\0", 7) + std::string(3 << 20, 'x'), "", base,
         {"line 1 holds a zero byte", "the file looks binary", "gzip-compressed CSV is also read"}},
        {"two inputs read from standard input", kGoodCsv, "", with({"--input-pmml", "-", "--data-model", "-"}),
         {"--data-model - and --input-pmml -", "read only once"}},
        {"convergence tolerance below the smallest normal double", kGoodCsv, "",
         with({"--family", "gaussian", "--epsilon", "1e-320"}), {"--epsilon", "positive number from 2.2e-308"}},
        {"augmented records written over an input", kGoodCsv, "<PMML/>",
         with({"--input-pmml", "model.xml", "--augment", "model.xml"}), {"--augment", "reads as --input-pmml"}},
        {"data model with a reference to a character XML does not allow", kGoodCsv, dataModel("label&#0;", "string"),
         dm, {"--data-model", "'&#0;'"}},
        {"presorted file with more keys than the memory limit holds", manyKeys, "",
         with({"--presorted", "--memory-limit", "16K"}),
         {"more distinct values", "than fit in --memory-limit to check that the file is grouped", "raise --memory-limit"}},
        {"numeric target made a category by --categorical", kGoodCsv, "", with({"--categorical", "y"}),
         {"--target y: --categorical y makes the field a category (leave it out of --categorical", "numeric target"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshDir("input-error");
        writeFile(dir / "data.csv", c.csv);
        if (!c.model.empty()) writeFile(dir / "model.xml", c.model);
        writeFile(dir / "empty.xml", "");
        if (c.outIsFile) writeFile(dir / "out", "not a directory");
        std::vector<std::string> args = {c.command, "--data", (dir / "data.csv").string(), "--out", (dir / "out").string()};
        for (std::string arg : c.args)
            args.push_back(arg == "model.xml" || arg == "empty.xml" ? (dir / arg).string() : arg);
        const RunOutput run = runSplitRun(args);
        EXPECT_EQ(run.status, 2) << run.out << run.err;
        for (const std::string& part : c.expected)
            EXPECT_NE(run.err.find(part), std::string::npos) << part << "\n" << run.err;
        if (c.outIsFile) EXPECT_EQ(readFile(dir / "out"), "not a directory");
        else EXPECT_FALSE(fs::exists(dir / "out")) << "output made for a refused run";
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_NE(entry.path().filename().string().rfind(".out", 0), 0u) << "left behind: " << entry.path();
    }
    // A streamed build whose temporary directory comes from a missing $TMPDIR names TMPDIR, not --temp-dir.
    const fs::path dir = freshDir("input-error-tmpdir");
    writeFile(dir / "data.csv", csv(filler));
    const char* saved = std::getenv("TMPDIR");
    const std::string before = saved ? saved : "";
    ::setenv("TMPDIR", (dir / "missing").c_str(), 1);
    const RunOutput run = runSplitRun({"build", "--data", (dir / "data.csv").string(), "--out", (dir / "out").string(),
                                       "--split", "region", "--target", "y", "--inputs", "x", "--memory-limit", "64K"});
    saved ? ::setenv("TMPDIR", before.c_str(), 1) : ::unsetenv("TMPDIR");
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + c.after);
        const fs::path dir = freshDir("report-full");
        writeFile(dir / "data.csv", std::string(kGoodCsv) + "South,3,3.5,no,d\nSouth,5,2.5,yes,e\n");
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

TEST(Usage, NoArgumentsIsAnErrorHelpVersionAndInfoAreNot)
{
    EXPECT_EQ(runSplitRun({}).status, 2);
    // A misspelt command is named, not the options that follow it.
    const RunOutput misspelt = runSplitRun({"bulid", "--data", "data.csv"});
    EXPECT_EQ(misspelt.status, 2);
    EXPECT_NE(misspelt.err.find("unknown command 'bulid'; give a command: build, score"), std::string::npos) << misspelt.err;
    const std::pair<const char*, const char*> usage[] = {{"--help", ""}, {"--version", "split-run "}, {"info", "name: "}};
    for (const auto& [command, text] : usage) {
        const RunOutput run = runSplitRun({command});
        EXPECT_TRUE(run.status == 0 && run.out.find(text) != std::string::npos) << command << run.out << run.err;
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

}  // namespace

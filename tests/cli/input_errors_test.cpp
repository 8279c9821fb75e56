// End to end: every class of input error ends with exit status 2 and a
// message that names what is wrong and where.
#include <gtest/gtest.h>

#include "cli_harness.h"

using namespace clitest;

namespace {

const char* const kGoodCsv =
    "region,x,y,flag,label\n"
    "North,1,2.5,yes,a\n"
    "North,2,4.5,no,b\n"
    "South,1,1.5,yes,c\n";

const char* const kDataModel =
    "<DataModel version=\"1.0\"><Fields caseSensitive=\"true\" count=\"5\">"
    "<Field name=\"region\" storage=\"string\" measure=\"nominal\"/>"
    "<Field name=\"x\" storage=\"integer\" measure=\"continuous\"/>"
    "<Field name=\"y\" storage=\"real\" measure=\"continuous\"/>"
    "<Field name=\"flag\" storage=\"string\" measure=\"flag\"/>"
    "<Field name=\"%s\" storage=\"%s\" measure=\"nominal\"/>"
    "</Fields></DataModel>";

std::string dataModel(const char* lastName, const char* lastStorage)
{
    char text[1024];
    std::snprintf(text, sizeof text, kDataModel, lastName, lastStorage);
    return text;
}

TEST(InputErrors, EachClassExitsWithTwoAndSaysWhatAndWhere)
{
    struct Case {
        const char* name;
        std::string csv;                 // written to data.csv
        std::string model;               // written to model.xml when not empty
        std::vector<std::string> args;   // after build --data data.csv --out out
        std::vector<std::string> expected;
    };
    const std::vector<std::string> base = {"--split", "region", "--target", "y", "--inputs", "x"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = base;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const Case cases[] = {
        {"ragged row", std::string(kGoodCsv) + "South,2,3.5\n", "", base,
         {"data.csv:5:4 (field 'flag')", "3 fields but the header has 5"}},
        {"unterminated quote", std::string(kGoodCsv) + "South,\"2,3.5,no,d\n", "", base,
         {"data.csv:5:2 (field 'x')", "never closed"}},
        {"unknown split field", kGoodCsv, "", {"--split", "Region", "--target", "y"},
         {"--split", "'Region' is not a column", "region, x, y, flag, label"}},
        {"unknown target", kGoodCsv, "", {"--split", "region", "--target", "z"},
         {"--target", "'z' is not a column"}},
        {"unknown input", kGoodCsv, "", {"--split", "region", "--target", "y", "--inputs", "x,w"}, {"--inputs", "'w' is not a column"}},
        {"data model names a field the file lacks", kGoodCsv, dataModel("labels", "string"),
         with({"--data-model", "model.xml"}), {"--data-model", "'labels' is not a column"}},
        {"value does not fit the data model's storage", kGoodCsv, dataModel("label", "integer"),
         with({"--data-model", "model.xml"}),
         {"data.csv:2:5 (field 'label')", "'a' is not a whole number", "--data-model"}},
        {"data model is not XML", kGoodCsv, "<DataModel><Fields>", with({"--data-model", "model.xml"}),
         {"--data-model", "model.xml"}},
        {"logistic target with more than two values", kGoodCsv, "",
         {"--split", "region", "--target", "label", "--inputs", "x", "--model", "logistic"},
         {"--target label", "exactly two distinct values", "has 3 (a, b, c)"}},
        {"event that is not a target value", kGoodCsv, "",
         {"--split", "region", "--target", "flag", "--inputs", "x", "--model", "logistic", "--event", "maybe"},
         {"--event maybe", "use no or yes"}},
        {"linear target holding text", kGoodCsv, "", {"--split", "region", "--target", "label"},
         {"--target label", "needs a numeric target"}},
        {"missing data file", "", "", base, {"--data", "missing.csv", "cannot open"}},
        {"missing input PMML file", kGoodCsv, "", with({"--input-pmml", "none.pmml"}),
         {"--input-pmml none.pmml", "cannot open"}},
    };
    for (const Case& c : cases) {
        const fs::path dir = freshDir("input-error");
        if (!c.csv.empty()) writeFile(dir / "data.csv", c.csv);
        if (!c.model.empty()) writeFile(dir / "model.xml", c.model);
        std::vector<std::string> args = {"build", "--data",
                                         (dir / (c.csv.empty() ? "missing.csv" : "data.csv")).string(),
                                         "--out", (dir / "out").string()};
        for (std::string arg : c.args) args.push_back(arg == "model.xml" ? (dir / arg).string() : arg);
        const RunOutput run = runSplitRun(args);
        EXPECT_EQ(run.status, 2) << c.name << "\n" << run.out << run.err;
        for (const std::string& part : c.expected)
            EXPECT_NE(run.err.find(part), std::string::npos) << c.name << ": " << part << "\n" << run.err;
        EXPECT_FALSE(fs::exists(dir / "out")) << c.name << ": output directory made for a refused run";
    }
}

TEST(InputErrors, OutputPathThatIsAFileIsRefused)
{
    const fs::path dir = freshDir("out-is-file");
    writeFile(dir / "data.csv", kGoodCsv);
    writeFile(dir / "out", "not a directory");
    const RunOutput run = runSplitRun({"build", "--data", (dir / "data.csv").string(), "--split", "region",
                                       "--target", "y", "--out", (dir / "out").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("is not a directory"), std::string::npos) << run.err;
}

TEST(InputErrors, UsageErrorsAndHelp)
{
    EXPECT_EQ(runSplitRun({}).status, 2);
    const RunOutput unknown = runSplitRun({"build", "--data", "x.csv", "--bogus"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("--help"), std::string::npos) << unknown.err;

    const RunOutput help = runSplitRun({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--data", "--split", "--target", "--inputs", "--threads", "--presorted",
                               "--data-model", "--input-pmml", "--input-statxml", "--model", "--event",
                               "--out", "score", "info", "Examples:"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST(InputErrors, ScoreRefusesAModelItCannotUse)
{
    const fs::path dir = freshDir("score-bad-pmml");
    writeFile(dir / "data.csv", kGoodCsv);
    writeFile(dir / "model.pmml", "<PMML version=\"4.4\"><DataDictionary/></PMML>");
    const RunOutput run = runSplitRun({"score", "--model", (dir / "model.pmml").string(), "--data",
                                       (dir / "data.csv").string(), "--out", (dir / "scored.csv").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--model " + (dir / "model.pmml").string()), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "scored.csv"));
}

TEST(Info, LoadsTheModuleAndNamesIt)
{
    const RunOutput run = runSplitRun({"info"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("name:       split"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("version:"), std::string::npos) << run.out;
}

}  // namespace

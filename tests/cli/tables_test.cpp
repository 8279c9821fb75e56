// A build's tidy tables and its terminal report.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cli_harness.h"

namespace {

using namespace clitest;

// Group A: x2 duplicates x1; group B: no record with a target, so no fit.
const char* const kData =
    "g,x1,x2,c,y\n"
    "A,1,2,p,3.5\nA,2,4,q,4\nA,3,6,p,7.25\nA,4,8,q,7\nA,5,10,p,11\nA,6,12,q,10.5\n"
    "B,1,1,p,\nB,2,2,q,\n";

std::string build(const fs::path& dir, const std::vector<std::string>& extra, RunOutput* run = nullptr,
                  const std::string& data = kData)
{
    writeFile(dir / "data.csv", data);
    std::vector<std::string> args = {"build", "--data", (dir / "data.csv").string(), "--split", "g",
                                     "--target", "y", "--out", (dir / "out").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunOutput result = runSplitRun(args);
    if (run) *run = result;
    return readFile(dir / "out" / "coefficients.csv");
}

TEST(Tables, AliasedTermsAndFailedGroupsKeepTheirRowsWithEmptyValues)
{
    const fs::path dir = freshDir("tables-aliased");
    RunOutput run;
    const std::string coefficients = build(dir, {}, &run);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(coefficients.substr(0, coefficients.find('\n')), "g,term,estimate,std_error,statistic,p_value");
    EXPECT_NE(coefficients.find("\nA,x2,,,,\n"), std::string::npos) << coefficients;
    EXPECT_NE(coefficients.find("\nA,cq,"), std::string::npos) << coefficients;
    EXPECT_EQ(coefficients.find("\nB,"), std::string::npos) << "a failed group has no terms";

    const std::vector<Record> groups = readCsvRecords(dir / "out" / "groups.csv");
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].at("status") + groups[0].at("df_residual") + groups[0].at("message"), "ok3aliased: x2");
    EXPECT_FALSE(groups[0].count("deviance")) << "logistic columns stay empty for a linear model";
    EXPECT_EQ(groups[1].at("status") + groups[1].at("records"), "failed2");
    EXPECT_FALSE(groups[1].count("model_id"));
    EXPECT_EQ(groups[1].at("message").rfind("too few records", 0), 0u);
    EXPECT_NE(run.out.find("aliased: x2"), std::string::npos) << run.out;
}

TEST(Tables, ReferenceLevelIsChosenByOptionAndChecked)
{
    const fs::path dir = freshDir("tables-reference");
    EXPECT_NE(build(dir, {"--reference", "c=q"}).find("\nA,cp,"), std::string::npos);
    for (const char* bad : {"c=z", "x9=p", "c"}) {
        RunOutput run;
        build(freshDir("tables-reference-bad"), {"--reference", bad}, &run);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.err.find("--reference"), std::string::npos) << run.err;
    }
}

TEST(Tables, ReportSummarisesBeyondAScreenfulOfGroups)
{
    const fs::path dir = freshDir("tables-many");
    std::string data = "g,x,y\n";
    for (int g = 0; g < 45; ++g)
        for (int i = 0; i < 3; ++i) data += std::to_string(g) + "," + std::to_string(i) + "," + std::to_string(g + i * i) + "\n";
    RunOutput run;
    build(dir, {}, &run, data);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("... 5 more groups; every group is listed in groups.csv"), std::string::npos) << run.out;
    EXPECT_LT(std::count(run.out.begin(), run.out.end(), '\n'), 80);
    EXPECT_EQ(readCsvRecords(dir / "out" / "groups.csv").size(), 45u);
}

TEST(Tables, ReportShowsControlCharactersAsEscapesAndSummarisesWideData)
{
    // A key holding a terminal escape is shown escaped; fields beyond a screenful are counted.
    const fs::path dir = freshDir("tables-wide");
    std::string data = "g";
    for (int f = 0; f < 50; ++f) data += ",x" + std::to_string(f);
    data += ",y\n";
    for (const char* key : {"\x1B[2J", "plain"})
        for (int i = 0; i < 4; ++i) {
            data += key;
            for (int f = 0; f < 50; ++f) data += "," + std::to_string((i * 7 + f) % 5);
            data += "," + std::to_string(i) + "\n";
        }
    RunOutput run;
    build(dir, {"--inputs", "x0"}, &run, data);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\\x1B[2J"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\x1B'), std::string::npos) << "raw escape reached the terminal";
    EXPECT_NE(run.out.find("  ... 12 more fields (12 integer)"), std::string::npos) << run.out;
}

}  // namespace

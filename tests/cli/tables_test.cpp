// A build's tidy tables and its terminal report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
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
    EXPECT_EQ(coefficients.substr(0, coefficients.find('\n')),
              "g,term,estimate,std_error,statistic,p_value,conf_low,conf_high");
    EXPECT_NE(coefficients.find("\nA,x2,,,,,,\n"), std::string::npos) << coefficients;
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

// Group A's intervals and covariance, from R:
//   d <- data.frame(x1 = 1:6, x2 = 2 * (1:6), c = rep(c("p", "q"), 3), y = c(3.5, 4, 7.25, 7, 11, 10.5))
//   m <- lm(y ~ x1 + x2 + c, d); confint(m); confint(m, level = 0.8); vcov(m)
TEST(Tables, IntervalsAndCovarianceAreRsWithItsTermNames)
{
    const struct {
        std::vector<std::string> options;
        const char* term;
        double low, high;
    } cases[] = {
        {{}, "(Intercept)", 1.0608013367051146, 2.939198663294881},
        {{}, "cq", -2.6806724587618067, -0.98599420790485903},
        {{"--conf-level", "0.8"}, "x1", 1.6223358696113594, 1.8776641303886406},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.term);
        const fs::path dir = freshDir("tables-intervals");
        build(dir, c.options);
        const std::vector<Record> rows = readCsvRecords(dir / "out" / "coefficients.csv");
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const Record& r) { return r.at("term") == c.term; });
        ASSERT_NE(row, rows.end());
        EXPECT_NEAR(std::stod(row->at("conf_low")), c.low, 1e-8 * std::fabs(c.low));
        EXPECT_NEAR(std::stod(row->at("conf_high")), c.high, 1e-8 * std::fabs(c.high));
    }
    const fs::path dir = freshDir("tables-covariance");
    build(dir, {});
    const std::string covariance = readFile(dir / "out" / "covariance.csv");
    EXPECT_EQ(covariance.substr(0, covariance.find('\n')), "g,term1,term2,covariance");
    const std::vector<Record> rows = readCsvRecords(dir / "out" / "covariance.csv");
    ASSERT_EQ(rows.size(), 16u) << "both orders of every pair of group A's four terms; none for B";
    std::map<std::string, std::string> byPair;
    for (const Record& r : rows) byPair[r.at("term1") + "|" + r.at("term2")] = r.count("covariance") ? r.at("covariance") : "NA";
    EXPECT_NEAR(std::stod(byPair.at("(Intercept)|cq")), -0.014178240740740767, 1e-10);
    EXPECT_EQ(byPair.at("(Intercept)|cq"), byPair.at("cq|(Intercept)"));
    EXPECT_NEAR(std::stod(byPair.at("x1|x1")), 0.0060763888888889011, 1e-12);
    EXPECT_EQ(byPair.at("x2|x1") + byPair.at("x1|x2") + byPair.at("x2|x2"), "NANANA") << "aliased: missing";
}

TEST(Tables, ReferenceLevelIsChosenByOptionAndChecked)
{
    const fs::path dir = freshDir("tables-reference");
    EXPECT_NE(build(dir, {"--reference", "c=q"}).find("\nA,cp,"), std::string::npos);
    // The other levels keep their order, as R's relevel leaves them.
    const std::string three = build(freshDir("tables-reference-order"), {"--reference", "c=q", "--inputs", "x1,c"}, nullptr,
                                    "g,x1,c,y\nA,1,r,3\nA,2,q,4\nA,3,p,7\nA,4,r,7\nA,5,q,11\nA,6,p,10\nA,7,r,12\n");
    EXPECT_LT(three.find("\nA,cp,"), three.find("\nA,cr,")) << three;
    for (const char* bad : {"c=z", "x9=p", "c"}) {
        RunOutput run;
        build(freshDir("tables-reference-bad"), {"--reference", bad}, &run);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.err.find("--reference"), std::string::npos) << run.err;
    }
}

TEST(Tables, SaturatedFitsAndIdentifierInputsAreWarnedAbout)
{
    // name differs in every record: taken as a default input it saturates both groups.
    const char* const data = "g,name,x,y\nA,ann,1,2\nA,bob,2,3.5\nA,cy,3,3\nB,dan,1,1\nB,eve,2,5\nB,fay,4,4\n";
    const struct {
        std::vector<std::string> options;
        bool warned;
        const char* saturated;
    } cases[] = {{{}, true, "true"}, {{"--inputs", "x"}, false, "false"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warned ? "default inputs" : "--inputs x");
        const fs::path dir = freshDir("tables-saturated");
        RunOutput run;
        build(dir, c.options, &run, data);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out.find("input name has a different text in every record") != std::string::npos, c.warned) << run.out;
        EXPECT_EQ(run.out.find("2 fits are saturated") != std::string::npos, c.warned) << run.out;
        const std::vector<Record> groups = readCsvRecords(dir / "out" / "groups.csv");
        ASSERT_EQ(groups.size(), 2u);
        EXPECT_EQ(groups[0].at("saturated"), c.saturated);
    }
}

TEST(Tables, WhenNoGroupFitsGroupsCsvSaysWhyInPlainWords)
{
    const char* const data = "g,x,y\nA,1,\nA,,2\nB,3,\nB,,4\nC,5,\nC,,6\n";
    for (const bool verbose : {false, true}) {
        SCOPED_TRACE(verbose ? "--verbose" : "plain");
        const fs::path dir = freshDir("tables-none");
        RunOutput run;
        build(dir, verbose ? std::vector<std::string>{"--verbose"} : std::vector<std::string>{}, &run, data);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("no group could be fitted: too few records in 3 groups"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("code ") != std::string::npos, verbose) << run.out;
        EXPECT_EQ(run.out.find("returned status") != std::string::npos, verbose) << run.out;
        const std::vector<Record> groups = readCsvRecords(dir / "out" / "groups.csv");
        ASSERT_EQ(groups.size(), 3u);
        for (const Record& group : groups) EXPECT_EQ(group.at("message").rfind("too few records", 0), 0u);
        EXPECT_FALSE(fs::exists(dir / "out" / "split-model.pmml"));
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

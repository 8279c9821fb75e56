// A build's tidy tables and its terminal report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "cli_harness.h"
#include "common/mtcars.h"
#include "models/model_test_support.h"

namespace {

using namespace clitest;

// Group A: x2 duplicates x1; group "B\r" (a key CSV must quote): no record with a target, so no fit.
// Its category "q\r" of the input c is one the documents carry, not a control byte refused.
const char* const kData =
    "g,x1,x2,c,y\n"
    "A,1,2,p,3.5\nA,2,4,q,4\nA,3,6,p,7.25\nA,4,8,q,7\nA,5,10,p,11\nA,6,12,q,10.5\n"
    "\"B\r\",1,1,p,\n\"B\r\",2,2,\"q\r\",\n";

std::string build(const fs::path& dir, const std::vector<std::string>& extra, RunOutput* run = nullptr,
                  const std::string& data = kData)
{
    writeFile(dir / "data.csv", data);
    std::vector<std::string> args = {"--split", "g", "--target", "y"};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunOutput result = runBuild(dir / "data.csv", dir / "out", args);
    if (run) *run = result;
    return readFile(dir / "out" / "coefficients.csv");
}

// Group A's intervals and covariance, from R:
//   d <- data.frame(x1 = 1:6, x2 = 2 * (1:6), c = rep(c("p", "q"), 3), y = c(3.5, 4, 7.25, 7, 11, 10.5))
//   m <- lm(y ~ x1 + x2 + c, d); confint(m, level = 0.8); vcov(m, complete = FALSE)
TEST(Tables, IntervalsAndCovarianceAreRsWithItsTermNames)
{
    // The intervals at the default level are compared with R's for every term of other fits (EveryColumn...).
    const fs::path levelled = freshDir("tables-intervals");
    build(levelled, {"--conf-level", "0.8"});
    const std::vector<Record> terms = readCsvRecords(levelled / "out" / "coefficients.csv");
    const auto x1 = std::find_if(terms.begin(), terms.end(), [](const Record& r) { return r.at("term") == "x1"; });
    ASSERT_NE(x1, terms.end());
    EXPECT_NEAR(std::stod(x1->at("conf_low")), 1.6223358696113594, 1e-8 * 1.62);
    EXPECT_NEAR(std::stod(x1->at("conf_high")), 1.8776641303886406, 1e-8 * 1.88);
    const fs::path dir = freshDir("tables-covariance");
    build(dir, {});
    const std::vector<Record> rows = readCsvRecords(dir / "out" / "covariance.csv");
    ASSERT_EQ(rows.size(), 9u) << "both orders of every pair of group A's three estimated terms; none for B";
    std::map<std::string, std::string> byPair;
    for (const Record& r : rows) byPair[r.at("term1") + "|" + r.at("term2")] = r.count("covariance") ? r.at("covariance") : "NA";
    EXPECT_NEAR(std::stod(byPair.at("(Intercept)|cq")), -0.014178240740740767, 1e-10);
    EXPECT_NEAR(std::stod(byPair.at("x1|x1")), 0.0060763888888889011, 1e-12);
}

TEST(Tables, ReferenceLevelIsChosenByOption)
{
    const fs::path dir = freshDir("tables-reference");
    EXPECT_NE(build(dir, {"--reference", "c=q"}).find("\nA,cp,"), std::string::npos);
    // The other levels keep their order, as R's relevel leaves them.
    const std::string three = build(freshDir("tables-reference-order"), {"--reference", "c=q", "--inputs", "x1,c"}, nullptr,
                                    "g,x1,c,y\nA,1,r,3\nA,2,q,4\nA,3,p,7\nA,4,r,7\nA,5,q,11\nA,6,p,10\nA,7,r,12\n");
    EXPECT_LT(three.find("\nA,cp,"), three.find("\nA,cr,")) << three;
}

// A real split field's keys are written in round-trip form. Group 0.1's target is subnormal: it fits as the
// same data times 1e300 does in R, scaled back:
//   summary(lm(y ~ x, data.frame(x = 1:4, y = c(1, 2, 3, 5) * 1e-10)))$coefficients
// A perfect fit (group 7.5): R's summary gives t = Inf and F = Inf (NaN for
// 0 / 0), which the tables write as empty cells:
//   s <- summary(lm(y ~ x, data.frame(x = 1:3, y = 1:3))); s$coefficients; s$fstatistic
TEST(Tables, RealKeysSubnormalTargetsAndAPerfectFit)
{
    const fs::path dir = freshDir("tables-real-keys");
    RunOutput run;
    build(dir, {"--inputs", "x"}, &run,
          "g,x,y\n0.1,1,1e-310\n0.1,2,2e-310\n0.1,3,3e-310\n0.1,4,5e-310\n2.5,1,1\n2.5,2,2\n2.5,3,4\n"
          "7.5,1,1\n7.5,2,2\n7.5,3,3\n");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<Record> rows = readCsvRecords(dir / "out" / "coefficients.csv");
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[4].count("statistic") + rows[5].count("statistic"), 0u);
    EXPECT_EQ(rows[5].at("p_value"), "0");
    EXPECT_EQ(readCsvRecords(dir / "out" / "groups.csv").at(2).count("f_statistic"), 0u);
    EXPECT_EQ(rows[0].at("g") + " " + rows[3].at("g"), "0.10000000000000001 2.5");
    const double expected[][2] = {{-4.9999999999999724e-311, 4.7434164902525545e-311},
                                  {1.2999999999999958e-310, 1.7320508075688716e-311}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_NEAR(std::strtod(rows[i].at("estimate").c_str(), nullptr), expected[i][0], 1e-9 * -expected[0][0]);
        EXPECT_NEAR(std::strtod(rows[i].at("std_error").c_str(), nullptr), expected[i][1], 1e-9 * expected[1][1]);
    }
}

// R's mtcars (cyl, am, mpg, wt, hp, vs) ordered by cyl, with one more cyl 8 record that has no mpg.
std::string mtcarsByCyl()
{
    std::string csv = "cyl,am,mpg,wt,hp,vs\n";
    char line[80];
    for (const double cyl : {4, 6, 8})
        for (const splittest::Car& car : splittest::kMtcars) {
            if (car.cyl != cyl) continue;
            std::snprintf(line, sizeof line, "%g,%g,%g,%g,%g,%g\n", car.cyl, car.am, car.mpg, car.wt, car.hp, car.vs);
            csv += line;
        }
    return csv + "8,1,,3.1,200,0\n";
}

// Every number of a build's coefficients.csv and groups.csv against R
// (tests/data/r/tables.tsv: a case per group, "lm cyl 4", a quantity per
// column, with the term for a coefficient), each to 1e-9 of itself and
// written with 17 significant digits, so that it reads back to the fitted
// double.
void expectRsNumbers(const fs::path& out, const std::string& model, const std::string& splitField)
{
    const modeltest::RValues values("tables");
    const std::vector<Record> coefficients = readCsvRecords(out / "coefficients.csv");
    for (const Record& group : readCsvRecords(out / "groups.csv")) {
        const std::string key = group.at(splitField), kase = model + " " + splitField + " " + key;
        ASSERT_FALSE(values.quantities(kase).empty()) << kase;
        for (const std::string& quantity : values.quantities(kase)) {
            SCOPED_TRACE(kase + ": " + quantity);
            const std::string column = quantity.substr(0, quantity.find(' '));
            const std::string term = column == quantity ? "" : quantity.substr(column.size() + 1);
            const auto row = term.empty() ? std::optional(group) : std::nullopt;
            const auto found = std::find_if(coefficients.begin(), coefficients.end(), [&](const Record& r) {
                return r.at(splitField) == key && r.at("term") == term;
            });
            ASSERT_TRUE(row || found != coefficients.end());
            const Record& cells = row ? *row : *found;
            ASSERT_TRUE(cells.count(column));
            const std::string actual = cells.at(column);
            const double expected = values(kase, quantity);
            EXPECT_NEAR(std::stod(actual), expected, 1e-9 * std::fabs(expected));
            char exact[40];
            std::snprintf(exact, sizeof exact, "%.17g", std::stod(actual));
            EXPECT_EQ(actual, exact);
        }
    }
}

// lm(mpg ~ wt + hp) per cyl and glm(vs ~ mpg, binomial) per am; one more
// record, without mpg, counts among a group's records but not those used.
TEST(Tables, EveryColumnAgreesWithR)
{
    const fs::path dir = freshDir("tables-r", {{"mtcars.csv", mtcarsByCyl()}});
    RunOutput run = runBuild(dir / "mtcars.csv", dir / "linear", {"--split", "cyl", "--target", "mpg", "--inputs", "wt,hp"});
    ASSERT_EQ(run.status, 0) << run.err;
    expectRsNumbers(dir / "linear", "lm", "cyl");
    std::vector<Record> groups = readCsvRecords(dir / "linear" / "groups.csv");
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].at("model_id") + groups[0].at("status") + groups[0].at("records") + groups[0].at("records_used"),
              "model-0001ok1111");
    EXPECT_EQ(groups[0].count("message") + groups[0].count("deviance"), 0u);
    EXPECT_EQ(groups[2].at("model_id") + groups[2].at("records") + groups[2].at("records_used"), "model-00031514");

    run = runBuild(dir / "mtcars.csv", dir / "logistic", {"--split", "am", "--target", "vs", "--inputs", "mpg", "--model", "logistic"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Event modelled: 1\n"), std::string::npos) << run.out;
    expectRsNumbers(dir / "logistic", "glm", "am");
    groups = readCsvRecords(dir / "logistic" / "groups.csv");
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].at("records"), "19");
    EXPECT_EQ(groups[0].count("r_squared") + groups[0].count("sigma"), 0u);
    EXPECT_EQ(groups[1].at("records") + "/" + groups[1].at("records_used"), "14/13");
}

}  // namespace

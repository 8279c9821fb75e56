// End to end: a logistic build of the sales data's returned flag, and
// scoring with it.
#include <cmath>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "pmml_reading.h"

using namespace clitest;

namespace {

TEST(LogisticBuild, ScoringReproducesTheFittedProbabilities)
{
    const fs::path out = freshDir("sales-logistic");
    const RunOutput build = runSplitRun({"build", "--data", salesCsv().string(), "--split", "region,channel",
                                         "--target", "returned", "--inputs", "price,promo_spend",
                                         "--model", "logistic", "--event", "yes", "--out", out.string()});
    ASSERT_EQ(build.status, 0) << build.out << build.err;
    EXPECT_NE(build.out.find("accuracy"), std::string::npos) << build.out;
    EXPECT_NE(build.out.find("9 groups, 8 models, 1 failed"), std::string::npos) << build.out;
    const std::vector<GroupFit> fits = readGroupFits(out);
    ASSERT_EQ(fits.size(), 8u);

    // The true logit coefficients, within about three standard errors.
    for (const auto& group : readCsvRecords(fs::path(SPLIT_SOURCE_ROOT) / "examples" / "sales_truth.csv")) {
        if (std::stoi(group.at("records")) < 10) continue;
        const auto region = group.find("region");
        const GroupFit* fit = findFit(fits, {{"region", region == group.end() ? std::nullopt
                                                                              : std::optional(region->second)},
                                             {"channel", group.at("channel")}});
        ASSERT_NE(fit, nullptr);
        EXPECT_NEAR(fit->intercept, std::stod(group.at("logit_intercept")), 1.0);
        EXPECT_NEAR(fit->coefficients.at("price"), std::stod(group.at("logit_price")), 0.03);
        EXPECT_NEAR(fit->coefficients.at("promo_spend"), std::stod(group.at("logit_promo_spend")), 0.02);
    }

    const fs::path scored = out / "scored.csv";
    const RunOutput score = runSplitRun({"score", "--model", (out / "split-model.pmml").string(), "--data",
                                         salesCsv().string(), "--out", scored.string()});
    ASSERT_EQ(score.status, 0) << score.err;
    EXPECT_NE(score.out.find("4 records matched no segment"), std::string::npos) << score.out;
    const auto rows = readCsvRecords(scored);
    ASSERT_EQ(rows.size(), 2784u);
    std::size_t unscored = 0;
    for (const auto& row : rows) {
        const auto region = row.find("region");
        const GroupFit* fit = findFit(fits, {{"region", region == row.end() ? std::nullopt
                                                                            : std::optional(region->second)},
                                             {"channel", row.at("channel")}});
        if (!fit) {
            ++unscored;
            EXPECT_FALSE(row.count("predicted_returned") || row.count("probability_yes") ||
                         row.count("probability_no"));
            continue;
        }
        ASSERT_EQ(fit->event, "yes");
        const double p = 1.0 / (1.0 + std::exp(-linearPredictor(*fit, row)));
        EXPECT_NEAR(std::stod(row.at("probability_yes")), p, 1e-9);
        EXPECT_NEAR(std::stod(row.at("probability_no")), 1.0 - p, 1e-9);
        EXPECT_EQ(row.at("predicted_returned"), p > 0.5 ? "yes" : "no");
    }
    EXPECT_EQ(unscored, 4u);
}

}  // namespace

// End to end through the split-run binary on the example sales data: linear
// and logistic builds recover the true coefficients, the too-small group is a
// failure section, the output does not depend on the thread count, the PMML
// validates, and scoring the training data reproduces the fitted values.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "cli_harness.h"

using namespace clitest;

namespace {

RunOutput build(const fs::path& out, const std::string& threads, std::vector<std::string> model)
{
    std::vector<std::string> args = {"build", "--data", example("sales.csv").string(), "--split",
                                     "region,channel", "--threads", threads, "--out", out.string()};
    args.insert(args.end(), model.begin(), model.end());
    return runSplitRun(args);
}

// Scores the sales data with the build's split model (into a file beside the
// output directory); each row with the fit of its group (null when none).
std::vector<std::pair<Record, const GroupFit*>> score(const fs::path& out, const std::vector<GroupFit>& fits)
{
    const fs::path scored = out.string() + "-scored.csv";
    const RunOutput run = runSplitRun({"score", "--model", (out / "split-model.pmml").string(), "--data",
                                       example("sales.csv").string(), "--out", scored.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("4 records matched no segment"), std::string::npos) << run.out;
    std::vector<std::pair<Record, const GroupFit*>> rows;
    for (Record& row : readCsvRecords(scored)) rows.emplace_back(row, fitFor(fits, row));
    EXPECT_EQ(rows.size(), 2784u);
    return rows;
}

class SalesBuild : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        out_ = freshDir("sales-linear-1");
        run_ = build(out_, "1", {"--target", "revenue", "--inputs", "price,promo_spend,segment"});
        fits_ = readGroupFits(out_);
    }
    void SetUp() override { ASSERT_EQ(run_.status, 0) << run_.out << run_.err; }
    static inline fs::path out_;
    static inline RunOutput run_;
    static inline std::vector<GroupFit> fits_;
};

TEST_F(SalesBuild, EveryFittedGroupRecoversItsTrueCoefficients)
{
    EXPECT_NE(run_.out.find("9 groups, 8 models, 1 failed"), std::string::npos) << run_.out;
    ASSERT_EQ(fits_.size(), 8u);
    int checked = 0;
    const char* const segments[] = {"Consumer", "Business", "Education"};
    for (const Record& group : readCsvRecords(example("sales_truth.csv"))) {
        if (std::stoi(group.at("records")) < 10) continue;   // the group too small to fit
        const GroupFit* fit = fitFor(fits_, group);
        ASSERT_NE(fit, nullptr) << group.at("channel");
        SCOPED_TRACE((group.count("region") ? group.at("region") : "<missing>") + "/" + group.at("channel"));
        EXPECT_NEAR(fit->coefficients.at("price"), std::stod(group.at("price")), 0.08);
        EXPECT_NEAR(fit->coefficients.at("promo_spend"), std::stod(group.at("promo_spend")), 0.06);
        // Segments are coded against the model's first category, whichever it
        // is, so compare each segment's level: intercept plus its effect.
        for (const char* s : segments) {
            const std::string name = std::string("segment=") + s;
            const double level = fit->intercept + (fit->coefficients.count(name) ? fit->coefficients.at(name) : 0.0);
            EXPECT_NEAR(level, std::stod(group.at("intercept")) + std::stod(group.at(name)), 3.5) << s;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 8);
}

TEST_F(SalesBuild, TooSmallGroupIsAFailureSectionBesideTheModelSummaries)
{
    EXPECT_NE(run_.out.find("failed: too few records"), std::string::npos) << run_.out;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file((out_ / "StatXML" / "rootStatXML.xml").c_str()));
    std::vector<std::string> sections;   // "summary", or the failed group's region and message
    for (pugi::xml_node group : doc.document_element().children("SplitGroup")) {
        const pugi::xml_node region = group.find_child_by_attribute("SplitField", "name", "region");
        sections.push_back(group.child("ModelSummary")
                               ? "summary"
                               : std::string(region.attribute("value").value()) + " " +
                                     group.child("Message").child("PrintableList").attribute("pattern").value());
    }
    EXPECT_EQ(std::count(sections.begin(), sections.end(), "summary"), 8);
    EXPECT_EQ(std::count(sections.begin(), sections.end(), "Central kSPLIT_SplitFailedErr_0"), 1);
    EXPECT_EQ(sections.size(), 9u);
    EXPECT_EQ(readFile(out_ / "StatXML" / "rootStatXML.xml"), readFile(out_ / "PMML" / "rootPMML.xml"));
    const std::string index = readFile(out_ / "PMML" / "entries.tsv");
    EXPECT_EQ(index.rfind("key\tfile\tmimeType\ttypeId\nmodel-0001\tmodel-0001.xml\t", 0), 0u) << index;
    EXPECT_NE(index.find("rootPMML\trootPMML.xml\tapplication/vnd.qantor.pmml+xml\tSPLITpmml.xml\n"),
              std::string::npos) << index;
}

TEST_F(SalesBuild, OutputIsByteIdenticalWhateverTheThreadCount)
{
    const fs::path other = freshDir("sales-linear-8");
    const RunOutput run8 = build(other, "8", {"--target", "revenue", "--inputs", "price,promo_spend,segment"});
    ASSERT_EQ(run8.status, 0) << run8.err;
    const auto one = treeContents(out_);
    EXPECT_EQ(one.size(), 24u);   // 8 groups + root + entries.tsv, twice; split-model.pmml; two tables; manifest
    EXPECT_TRUE(one == treeContents(other));
}

TEST_F(SalesBuild, SplitModelAndGroupPmmlsValidateAgainstTheSchema)
{
    EXPECT_EQ(schemaErrors(out_ / "split-model.pmml"), "");
    for (const GroupFit& fit : fits_) EXPECT_EQ(schemaErrors(out_ / "PMML" / fit.file), "") << fit.file;
}

TEST_F(SalesBuild, ScoringTheTrainingDataReproducesTheFittedValues)
{
    for (const auto& [row, fit] : score(out_, fits_)) {
        if (!fit) {
            EXPECT_FALSE(row.count("predicted_revenue")) << "unfitted group scored";
            continue;
        }
        EXPECT_NEAR(std::stod(row.at("predicted_revenue")), linearPredictor(*fit, row), 1e-9);
    }
}

TEST(LogisticBuild, RecoversTheLogitsAndScoringReproducesTheFittedProbabilities)
{
    const fs::path out = freshDir("sales-logistic");
    const RunOutput run = build(out, "2", {"--target", "returned", "--inputs", "price,promo_spend", "--model",
                                           "logistic", "--event", "yes"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("accuracy"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("9 groups, 8 models, 1 failed"), std::string::npos) << run.out;
    const std::vector<GroupFit> fits = readGroupFits(out);
    ASSERT_EQ(fits.size(), 8u);

    // The true logit coefficients, within about three standard errors.
    for (const Record& group : readCsvRecords(example("sales_truth.csv"))) {
        if (std::stoi(group.at("records")) < 10) continue;
        const GroupFit* fit = fitFor(fits, group);
        ASSERT_NE(fit, nullptr);
        EXPECT_EQ(fit->event, "yes");
        EXPECT_NEAR(fit->intercept, std::stod(group.at("logit_intercept")), 1.0);
        EXPECT_NEAR(fit->coefficients.at("price"), std::stod(group.at("logit_price")), 0.03);
        EXPECT_NEAR(fit->coefficients.at("promo_spend"), std::stod(group.at("logit_promo_spend")), 0.02);
    }
    std::size_t unscored = 0;
    for (const auto& [row, fit] : score(out, fits)) {
        if (!fit) {
            ++unscored;
            EXPECT_FALSE(row.count("predicted_returned") || row.count("probability_yes"));
            continue;
        }
        const double p = 1.0 / (1.0 + std::exp(-linearPredictor(*fit, row)));
        EXPECT_NEAR(std::stod(row.at("probability_yes")), p, 1e-9);
        EXPECT_NEAR(std::stod(row.at("probability_no")), 1.0 - p, 1e-9);
        EXPECT_EQ(row.at("predicted_returned"), p > 0.5 ? "yes" : "no");
    }
    EXPECT_EQ(unscored, 4u);
}

}  // namespace

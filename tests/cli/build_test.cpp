// End to end through the split-run binary: a linear build of the example
// sales data, its outputs, their independence of the thread count, schema
// validity, and scoring the training data with the split model.
#include <cmath>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "cli_harness.h"
#include "pmml_reading.h"

using namespace clitest;

namespace {

const std::vector<std::string> kLinearArgs = {"build", "--split", "region,channel", "--target",
                                              "revenue", "--inputs", "price,promo_spend,segment"};

std::vector<std::string> withArgs(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

class SalesBuild : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        outDir_ = freshDir("sales-linear-1");
        run_ = runSplitRun(withArgs(kLinearArgs, {"--data", salesCsv().string(), "--threads", "1",
                                                  "--out", outDir_.string()}));
    }
    static inline fs::path outDir_;
    static inline RunOutput run_;
};

TEST_F(SalesBuild, EveryFittedGroupRecoversItsTrueCoefficients)
{
    ASSERT_EQ(run_.status, 0) << run_.out << run_.err;
    EXPECT_NE(run_.out.find("9 groups, 8 models, 1 failed"), std::string::npos) << run_.out;
    const std::vector<GroupFit> fits = readGroupFits(outDir_);
    ASSERT_EQ(fits.size(), 8u);

    const auto truth = readCsvRecords(fs::path(SPLIT_SOURCE_ROOT) / "examples" / "sales_truth.csv");
    int checked = 0;
    for (const auto& group : truth) {
        if (std::stoi(group.at("records")) < 10) continue;   // the group too small to fit
        const auto region = group.find("region");
        const GroupFit* fit = findFit(fits, {{"region", region == group.end() ? std::nullopt
                                                                              : std::optional(region->second)},
                                             {"channel", group.at("channel")}});
        ASSERT_NE(fit, nullptr) << group.at("channel");
        const std::string name = (region == group.end() ? "<missing>" : region->second) + "/" + group.at("channel");
        EXPECT_NEAR(fit->coefficients.at("price"), std::stod(group.at("price")), 0.08) << name;
        EXPECT_NEAR(fit->coefficients.at("promo_spend"), std::stod(group.at("promo_spend")), 0.06) << name;
        // Segments are coded against the model's first category, whichever it is.
        std::string base;
        for (const char* s : {"Consumer", "Business", "Education"})
            if (!fit->coefficients.count(std::string("segment=") + s)) base = s;
        const double baseEffect = std::stod(group.at("segment=" + base));
        EXPECT_NEAR(fit->intercept, std::stod(group.at("intercept")) + baseEffect, 3.5) << name;
        for (const char* s : {"Consumer", "Business", "Education"}) {
            if (s == base) continue;
            EXPECT_NEAR(fit->coefficients.at(std::string("segment=") + s),
                        std::stod(group.at(std::string("segment=") + s)) - baseEffect, 3.0)
                << name << " " << s;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 8);
}

TEST_F(SalesBuild, TooSmallGroupIsAFailureSectionBesideTheModelSummaries)
{
    ASSERT_EQ(run_.status, 0) << run_.err;
    EXPECT_NE(run_.out.find("failed: too few records"), std::string::npos) << run_.out;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file((outDir_ / "StatXML" / "rootStatXML.xml").c_str()));
    int summaries = 0;
    int failures = 0;
    for (pugi::xml_node group : doc.document_element().children("SplitGroup")) {
        if (group.child("ModelSummary")) {
            ++summaries;
            continue;
        }
        ++failures;
        EXPECT_STREQ(group.find_child_by_attribute("SplitField", "name", "region").attribute("value").value(),
                     "Central");
        EXPECT_STREQ(group.child("Message").child("PrintableList").attribute("pattern").value(),
                     "kSPLIT_SplitFailedErr_0");
    }
    EXPECT_EQ(summaries, 8);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(readFile(outDir_ / "StatXML" / "rootStatXML.xml"), readFile(outDir_ / "PMML" / "rootPMML.xml"));
    const std::string index = readFile(outDir_ / "PMML" / "entries.tsv");
    EXPECT_EQ(index.rfind("key\tfile\tmimeType\ttypeId\nmodel-0001\tmodel-0001.xml\t", 0), 0u) << index;
    EXPECT_NE(index.find("rootPMML\trootPMML.xml\tapplication/vnd.qantor.pmml+xml\tSPLITpmml.xml\n"),
              std::string::npos) << index;
}

TEST_F(SalesBuild, OutputIsByteIdenticalWhateverTheThreadCount)
{
    ASSERT_EQ(run_.status, 0) << run_.err;
    const fs::path other = freshDir("sales-linear-8");
    const RunOutput run8 = runSplitRun(withArgs(kLinearArgs, {"--data", salesCsv().string(),
                                                              "--threads", "8", "--out", other.string()}));
    ASSERT_EQ(run8.status, 0) << run8.err;
    const auto one = treeContents(outDir_);
    const auto eight = treeContents(other);
    EXPECT_EQ(one.size(), 21u);   // 8 groups + root + entries.tsv, twice; split-model.pmml
    EXPECT_TRUE(one == eight);
}

TEST_F(SalesBuild, SplitModelAndGroupPmmlsValidateAgainstTheSchema)
{
    ASSERT_EQ(run_.status, 0) << run_.err;
    const fs::path schema = pmmlSchema();
    if (schema.empty()) GTEST_SKIP() << "PMML 4.4 schema not found beside the source tree (../shared/pmml)";
    if (!haveXmllint()) GTEST_SKIP() << "xmllint is not installed";
    EXPECT_EQ(schemaErrors(outDir_ / "split-model.pmml", schema), "");
    for (const GroupFit& fit : readGroupFits(outDir_))
        EXPECT_EQ(schemaErrors(outDir_ / "PMML" / fit.file, schema), "") << fit.file;
}

TEST_F(SalesBuild, ScoringTheTrainingDataReproducesTheFittedValues)
{
    ASSERT_EQ(run_.status, 0) << run_.err;
    const fs::path scored = outDir_.parent_path() / "scored-linear.csv";
    const RunOutput run = runSplitRun({"score", "--model", (outDir_ / "split-model.pmml").string(),
                                       "--data", salesCsv().string(), "--out", scored.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("4 records matched no segment"), std::string::npos) << run.out;
    const std::vector<GroupFit> fits = readGroupFits(outDir_);
    const auto rows = readCsvRecords(scored);
    ASSERT_EQ(rows.size(), 2784u);
    for (const auto& row : rows) {
        const auto region = row.find("region");
        const GroupFit* fit = findFit(fits, {{"region", region == row.end() ? std::nullopt
                                                                            : std::optional(region->second)},
                                             {"channel", row.at("channel")}});
        if (!fit) {
            EXPECT_FALSE(row.count("predicted_revenue")) << "unfitted group scored";
            continue;
        }
        EXPECT_NEAR(std::stod(row.at("predicted_revenue")), linearPredictor(*fit, row), 1e-9);
    }
}

}  // namespace

// End to end on the example sales data: true coefficients, thread-independent bytes, scores reproduce fits.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "cli_harness.h"

using namespace clitest;

namespace {

RunOutput build(const fs::path& out, const std::string& threads, std::vector<std::string> model)
{
    model.insert(model.begin(), {"build", "--data", example("sales.csv").string(), "--split", "region,channel",
                                 "--threads", threads, "--out", out.string()});
    return runSplitRun(model);
}

// A row of a fitted group scores as its fit (logistic: both probabilities and the class); others get nothing.
void expectScoresReproduceFits(const fs::path& out, const std::vector<GroupFit>& fits, bool logistic)
{
    const fs::path scored = out.string() + "-scored.csv";
    const RunOutput run = runScore(out / "split-model.pmml", example("sales.csv"), scored);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("4 records matched no segment") != std::string::npos, logistic) << run.out;
    const std::vector<Record> rows = readCsvRecords(scored);
    EXPECT_EQ(rows.size(), 2784u);
    const std::string predicted = logistic ? "predicted_returned" : "predicted_revenue";
    std::size_t unscored = 0;
    for (const Record& row : rows) {
        const GroupFit* fit = fitFor(fits, row);
        if (!fit) {
            EXPECT_FALSE(row.count(predicted) || row.count("probability_yes")) << "unfitted group scored";
            ++unscored;
        } else if (!logistic) {
            EXPECT_NEAR(std::stod(row.at(predicted)), linearPredictor(*fit, row), 1e-9);
        } else {
            const double p = 1.0 / (1.0 + std::exp(-linearPredictor(*fit, row)));
            EXPECT_NEAR(std::stod(row.at("probability_yes")), p, 1e-9);
            EXPECT_NEAR(std::stod(row.at("probability_no")), 1.0 - p, 1e-9);
            EXPECT_EQ(row.at(predicted), p > 0.5 ? "yes" : "no");
        }
    }
    EXPECT_EQ(unscored, logistic ? 4u : 0u);   // the Central group has no logistic model
}

TEST(Build, RecoversTheTrueCoefficientsAndScoringReproducesTheFits)
{
    for (const bool logistic : {false, true}) {
        SCOPED_TRACE(logistic ? "logistic" : "linear");
        const fs::path out = freshDir(logistic ? "sales-logistic" : "sales-linear-1");
        std::vector<std::string> model = {"--target", "revenue", "--inputs", "price,promo_spend,segment"};
        if (logistic) model = {"--target", "returned", "--inputs", "price,promo_spend", "--model", "logistic", "--event", "yes"};
        const RunOutput run = build(out, logistic ? "2" : "1", model);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        // The four-record group: its last linear term is aliased; all its returns are "no".
        const std::size_t models = logistic ? 8 : 9;
        for (const char* text : {logistic ? "9 groups, 8 models, 1 failed" : "9 groups, 9 models",
                                 logistic ? "failed: single class" : "aliased: segmentEducation"})
            EXPECT_NE(run.out.find(text), std::string::npos) << run.out;
        const std::vector<GroupFit> fits = readGroupFits(out);
        ASSERT_EQ(fits.size(), models);
        for (const Record& group : readCsvRecords(example("sales_truth.csv"))) {
            if (std::stoi(group.at("records")) < 10) continue;   // the group too small to fit
            const GroupFit* fit = fitFor(fits, group);
            ASSERT_NE(fit, nullptr) << group.at("channel");
            SCOPED_TRACE((group.count("region") ? group.at("region") : "<missing>") + "/" + group.at("channel"));
            const std::string prefix = logistic ? "logit_" : "";   // logits within about three standard errors
            EXPECT_NEAR(fit->coefficients.at("price"), std::stod(group.at(prefix + "price")), logistic ? 0.03 : 0.08);
            EXPECT_NEAR(fit->coefficients.at("promo_spend"), std::stod(group.at(prefix + "promo_spend")),
                        logistic ? 0.02 : 0.06);
            if (logistic) {
                EXPECT_EQ(fit->event, "yes");
                EXPECT_NEAR(fit->intercept, std::stod(group.at("logit_intercept")), 1.0);
                continue;
            }
            // Segments are coded against the first category: compare each level, intercept plus effect.
            for (const std::string s : {"segment=Consumer", "segment=Business", "segment=Education"}) {
                const double level = fit->intercept + (fit->coefficients.count(s) ? fit->coefficients.at(s) : 0.0);
                EXPECT_NEAR(level, std::stod(group.at("intercept")) + std::stod(group.at(s)), 3.5) << s;
            }
        }
        expectScoresReproduceFits(out, fits, logistic);

        // A failed group is a failure section beside the model summaries.
        const fs::path files = exportedFiles(out);
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file((files / "StatXML" / "rootStatXML.xml").c_str()));
        std::vector<std::string> sections;   // "summary", or the failed group's region and message
        for (pugi::xml_node group : doc.document_element().children("SplitGroup")) {
            const pugi::xml_node region = group.find_child_by_attribute("SplitField", "name", "region");
            sections.push_back(group.child("ModelSummary") ? "summary" : std::string(region.attribute("value").value()) +
                                   " " + group.child("Message").child("PrintableList").attribute("pattern").value());
        }
        EXPECT_EQ(std::count(sections.begin(), sections.end(), "summary"), static_cast<long>(models));
        EXPECT_EQ(std::count(sections.begin(), sections.end(), "Central kSPLIT_SplitFailedErr_0"), logistic ? 1 : 0);
        EXPECT_EQ(sections.size(), 9u);
        if (logistic) continue;
        EXPECT_EQ(schemaErrors(out / "split-model.pmml"), "");
        for (const GroupFit& fit : fits) EXPECT_EQ(schemaErrors(fit.file), "") << fit.file;
        // Byte-identical whatever the thread count: the containers' database, split model, three tables.
        const fs::path other = freshDir("sales-linear-8");
        ASSERT_EQ(build(other, "8", model).status, 0);
        EXPECT_EQ(treeContents(out).size(), 5u);
        EXPECT_TRUE(treeContents(out) == treeContents(other));
    }
}

}  // namespace

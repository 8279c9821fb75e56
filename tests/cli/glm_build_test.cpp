// Builds of glm families through split-run: a formula and the listed
// inputs giving the same model.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <cmath>
#include <string>

#include "cli_harness.h"

namespace {

using namespace clitest;

// Counts with an exposure per record in two groups; group B's counts fit
// exactly at zero for some records, so its rates are small but not zero.
const std::string kCounts = readFile(SPLIT_SOURCE_ROOT "/tests/cli/counts.csv");

RunOutput build(const fs::path& dir, const std::vector<std::string>& extra)
{
    std::vector<std::string> args = {"--split", "g"};
    const bool formula = std::find(extra.begin(), extra.end(), "--formula") != extra.end();
    if (!formula) args.insert(args.end(), {"--inputs", "x,kind"});
    if (!formula && std::find(extra.begin(), extra.end(), "--target") == extra.end())
        args.insert(args.end(), {"--target", "y"});
    args.insert(args.end(), extra.begin(), extra.end());
    return runBuild(writeFile(dir / "data.csv", kCounts), dir / "out", args);
}

// A formula of the same terms as --inputs (and --offset) is the same model,
// whatever PMML carries it: the same predictions, standard errors, intervals
// and diagnostics, in the same columns (a formula lm is scored as an lm).
TEST(GlmBuild, FormulaOfTheListedInputsPredictsAlike)
{
    const struct {
        std::vector<std::string> listed, formula, score;
        std::vector<const char*> scoredColumns, augmentColumns;
    } twins[] = {
        {{"--family", "poisson", "--offset", "log_exposure"},
         {"--family", "poisson", "--formula", "y ~ x + kind + offset(log(exposure))"}, {"--se-fit"},
         {"predicted_y", "se_fit"}, {".fitted", ".hat", ".cooksd", ".std.resid", ".resid.pearson"}},
        {{}, {"--formula", "y ~ x + kind"}, {"--se-fit", "--interval", "prediction"},
         {"predicted_y", "se_fit", "lower", "upper"}, {".fitted", ".hat", ".sigma", ".cooksd", ".std.resid"}},
    };
    for (const auto& twin : twins) {
        SCOPED_TRACE(twin.formula.back());
        std::vector<Record> scored[2], augmented[2];
        for (const int formula : {0, 1}) {
            const fs::path dir = freshDir("glm-formula");
            std::vector<std::string> options = formula ? twin.formula : twin.listed;
            options.insert(options.end(), {"--augment", (dir / "augment.csv").string()});
            const RunOutput run = build(dir, options);
            ASSERT_EQ(run.status, 0) << run.out << run.err;
            EXPECT_EQ(schemaErrors(dir / "out" / "split-model.pmml"), "");
            // Each glm segment gives kind's reference level a cell of its own (beta 0).
            if (!formula && !twin.listed.empty()) {
                EXPECT_EQ(countOf(readFile(dir / "out" / "split-model.pmml"), "<PPCell value=\"p\" predictorName=\"kind\""), 2u);
            }
            const RunOutput score = runScore(dir / "out" / "split-model.pmml", dir / "data.csv", dir / "scored.csv", twin.score);
            ASSERT_EQ(score.status, 0) << score.err;
            scored[formula] = readCsvRecords(dir / "scored.csv");
            augmented[formula] = readCsvRecords(dir / "augment.csv");
        }
        const auto expectAlike = [](const std::vector<Record>& listed, const std::vector<Record>& formula,
                                    const std::vector<const char*>& columns) {
            ASSERT_EQ(formula.size(), listed.size());
            ASSERT_FALSE(listed.empty());
            EXPECT_EQ(formula[0].size(), listed[0].size());
            for (std::size_t i = 0; i < listed.size(); ++i)
                for (const char* column : columns) {
                    const double value = std::stod(listed[i].at(column));
                    EXPECT_NEAR(std::stod(formula[i].at(column)), value, 1e-10 * std::fabs(value))
                        << "record " << i + 1 << " " << column;
                }
        };
        expectAlike(scored[0], scored[1], twin.scoredColumns);
        expectAlike(augmented[0], augmented[1], twin.augmentColumns);
        // A fit's hat values sum to its rank: three terms in each group.
        std::map<std::string, double> traces;
        for (const Record& record : augmented[0]) traces[record.at("g")] += std::stod(record.at(".hat"));
        for (const auto& [group, trace] : traces) EXPECT_NEAR(trace, 3.0, 1e-9) << group;
    }
}

}  // namespace

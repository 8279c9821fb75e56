// Build then score through the binary: with random keys of every storage each training record
// finds its own group; a model read from a pipe; R's standard errors, intervals and diagnostics.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "value_text.h"
#include "cli_harness.h"
#include "common/mtcars.h"
#include "models/model_test_support.h"

using namespace clitest;

namespace {

std::string shortest(double value) { return splitmodels::detail::formatShortest(value); }

// Random keys of one storage, some within the module's grouping tolerance of another.
struct KeyCase { const char* storage; std::function<std::string(std::mt19937_64&)> key; };

const KeyCase keyCases[] = {
        {"integer", [](std::mt19937_64& rng) -> std::string {
             const std::int64_t near53 = (std::int64_t{1} << 53) + static_cast<std::int64_t>(rng() % 4);
             return std::to_string(rng() % 2 ? near53 : static_cast<std::int64_t>(rng()));
         }},
        {"real", [](std::mt19937_64& rng) -> std::string {
             std::uniform_real_distribution<double> unit(0.0, 1.0);
             switch (rng() % 4) {
             case 0: return shortest(unit(rng));                       // 17 digits below 1
             case 1: return shortest(unit(rng) * 1e300);               // near the top of the range
             case 2: return shortest(std::nextafter(0.3, 1.0) + static_cast<double>(rng() % 3) * 1e-16);
             default: return shortest(-unit(rng) * 12345.678901234567);
             }
         }},
        {"string", [](std::mt19937_64& rng) -> std::string {
             static const std::string pieces[] = {"a", "\x1b[31m", "\xff\xfe", "\t", ",", "\"", "\xc3\xa9", "%", "<&>"};
             std::string cell = "\"";
             for (int i = 0; i < 3; ++i)
                 for (char c : pieces[rng() % std::size(pieces)]) cell += c == '"' ? std::string(2, c) : std::string(1, c);
             return cell + "\"";
         }},
        {"date", [](std::mt19937_64& rng) -> std::string {
             char text[16];
             std::snprintf(text, sizeof text, "%04d-%02d-%02d", 1900 + static_cast<int>(rng() % 200),
                           1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28));
             return std::string(text);
         }},
};

// Keys grouped together (reals within tolerance) share a line.
std::string groupOf(const std::string& storage, const std::string& key)
{
    if (storage == "real" && std::fabs(std::stod(key)) < 10) return std::to_string(std::llround(std::stod(key) * 1e12));
    return key;
}

TEST(ScoreRoundTrip, EveryTrainingRecordFindsItsOwnGroupWithRandomKeysOfEveryStorage)
{
    for (const KeyCase& c : keyCases) {
        SCOPED_TRACE(c.storage);
        std::mt19937_64 rng(std::hash<std::string>{}(c.storage));
        const fs::path dir = freshDir(std::string("round-trip-") + c.storage);
        // y is an exact line in x per group, which another group's model misses.
        std::string csv = "key,x,y\n";
        std::map<std::string, std::pair<double, double>> lines;
        std::vector<std::string> pool;
        for (int i = 0; i < 12; ++i) pool.push_back(c.key(rng));
        for (int r = 0; r < 240; ++r) {
            const std::string& key = pool[rng() % pool.size()];
            auto& [a, b] = lines.try_emplace(groupOf(c.storage, key), static_cast<double>(rng() % 100), static_cast<double>(rng() % 7 + 1))
                               .first->second;
            const double x = static_cast<double>(r % 17);
            csv += key + "," + shortest(x) + "," + shortest(a + b * x) + "\n";
        }
        writeFile(dir / "train.csv", csv);
        const RunOutput build = runBuild(dir / "train.csv", dir / "out",
                                         {"--split", "key", "--target", "y", "--inputs", "x", "--threads", "2"});
        ASSERT_EQ(build.status, 0) << build.out << build.err;
        const std::string model = readFile(dir / "out" / "split-model.pmml");
        EXPECT_TRUE(splitmodels::detail::xmlCanHold(model));
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_buffer(model.data(), model.size()));
        for (const pugi::xpath_node& found : doc.select_nodes("//@*"))
            EXPECT_TRUE(splitmodels::detail::xmlCanHold(found.attribute().value())) << found.attribute().value();
        const RunOutput score = runScore(dir / "out" / "split-model.pmml", dir / "train.csv", dir / "scored.csv", {"--threads", "3"});
        ASSERT_EQ(score.status, 0) << score.err;
        EXPECT_EQ(score.out.find("empty predictions"), std::string::npos) << score.out;
        const std::vector<Record> rows = readCsvRecords(dir / "scored.csv");
        ASSERT_EQ(rows.size(), 240u);
        for (const Record& row : rows) {
            ASSERT_TRUE(row.count("predicted_y")) << row.at("key");
            EXPECT_NEAR(std::stod(row.at("predicted_y")), std::stod(row.at("y")), 1e-6) << row.at("key");
        }
    }
}

// A level seen only in a record the fit leaves out (its input is missing) is
// not one the group knows: scoring it is refused as for any unknown level.
TEST(ScoreMessages, ALevelSeenOnlyBesideAMissingInputIsUnknown)
{
    const fs::path dir = freshDir("score-unfitted-level", {{"train.csv", "g,shop,x,y\nA,a,1,2\nA,b,2,3\nA,a,3,5\nA,b,4,4\nA,v,,7\n"},
                                                           {"in.csv", "g,shop,x\nA,v,1\n"}});
    ASSERT_EQ(runBuild(dir / "train.csv", dir / "out", {"--split", "g", "--target", "y"}).status, 0);
    const RunOutput run = runScore(dir / "out" / "split-model.pmml", dir / "in.csv", dir / "scored.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("1 records hold a value the model cannot read"), std::string::npos) << run.out;
}

// A model read from a pipe (copied to a temporary file, then read in blocks)
// scores as the same file does, and the copy is removed.
TEST(ScoreMessages, ModelFromAPipeScoresAsItsFile)
{
    const fs::path dir = freshDir("score-pipe", {{"train.csv", "g,x,y\na,1,2\na,2,4.1\na,3,5.9\nb,1,1\nb,2,2\nb,3,3.1\n"},
                                                 {"in.csv", "g,x\nb,7\na,0.5\n"}});
    ASSERT_EQ(runBuild(dir / "train.csv", dir / "out", {"--split", "g", "--target", "y"}).status, 0);
    ASSERT_EQ(runScore(dir / "out" / "split-model.pmml", dir / "in.csv", dir / "file.csv").status, 0);
    ASSERT_EQ(::mkfifo((dir / "model.fifo").c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(dir / "model.fifo") << readFile(dir / "out" / "split-model.pmml"); });
    fs::create_directory(dir / "tmp");
    const RunOutput piped =
        runScore(dir / "model.fifo", dir / "in.csv", dir / "pipe.csv", {}, {{"TMPDIR", (dir / "tmp").string()}});
    writer.join();
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(readFile(dir / "pipe.csv"), readFile(dir / "file.csv"));
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "the temporary copy of the model is left behind";

    // Where TMPDIR cannot take the copy, the model is refused rather than read into memory whole.
    std::thread blocked([&] { std::ofstream(dir / "model.fifo") << readFile(dir / "out" / "split-model.pmml"); });
    const RunOutput refused =
        runScore(dir / "model.fifo", dir / "in.csv", dir / "none.csv", {}, {{"TMPDIR", (dir / "none").string()}});
    const int release = ::open((dir / "model.fifo").c_str(), O_RDONLY | O_NONBLOCK);   // frees the writer's open
    blocked.join();
    ::close(release);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("cannot create a temporary copy in " + (dir / "none").string()), std::string::npos)
        << refused.err;
}

// mtcars as CSV, with a constant split field g.
std::string mtcarsCsv(std::initializer_list<int> rows = {})
{
    std::string csv = "mpg,g,hp,wt,am\n";   // the target of most models first, where a column index is 0
    const auto add = [&](const splittest::Car& car) {
        csv += shortest(car.mpg) + ",all," + shortest(car.hp) + "," + shortest(car.wt) + "," + shortest(car.am) + "\n";
    };
    if (rows.size() == 0)
        for (const auto& car : splittest::kMtcars) add(car);
    for (int row : rows) add(splittest::kMtcars[row]);
    return csv;
}

// Standard errors and intervals of predictions of cars 1, 15 and 20, against R
// on mtcars (the linear split is am; tests/data/r/score.tsv).
TEST(ScoreIntervals, StandardErrorsAndIntervalsAreRs)
{
    const fs::path dir = freshDir("score-intervals");
    writeFile(dir / "mtcars.csv", mtcarsCsv());
    writeFile(dir / "new.csv", mtcarsCsv({0, 14, 19}));
    ASSERT_EQ(runBuild(dir / "mtcars.csv", dir / "linear", {"--split", "am", "--target", "mpg", "--inputs", "wt,hp"}).status, 0);
    ASSERT_EQ(runBuild(dir / "mtcars.csv", dir / "logistic",
                       {"--split", "g", "--target", "am", "--inputs", "wt,hp", "--model", "logistic"}).status, 0);
    ASSERT_EQ(runBuild(dir / "mtcars.csv", dir / "gamma",
                       {"--split", "g", "--target", "mpg", "--inputs", "wt,hp", "--family", "Gamma", "--link", "log"}).status, 0);
    const struct { const char *title, *model, *interval, *type = "response"; } cases[] = {
        {"prediction interval", "linear", "prediction"}, {"confidence interval", "linear", "confidence"},
        {"logistic: both scales", "logistic", "confidence"}, {"Gamma: response scale", "gamma", "confidence"},
        {"Gamma: link scale", "gamma", "confidence", "link"},
    };
    const modeltest::RValues values("score");
    const std::map<std::string, std::size_t> position = {{"1", 0}, {"15", 1}, {"20", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const RunOutput run = runScore(dir / c.model / "split-model.pmml", dir / "new.csv", dir / "scored.csv",
                                       {"--se-fit", "--interval", c.interval, "--level", "0.9", "--type", c.type});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<Record> rows = readCsvRecords(dir / "scored.csv");
        ASSERT_EQ(rows.size(), 3u);
        for (const std::string& quantity : values.quantities(c.title)) {  // a column and a car
            const std::string column = quantity.substr(0, quantity.find(' ')), car = quantity.substr(column.size() + 1);
            const double expected = values(c.title, quantity);
            EXPECT_NEAR(std::stod(rows[position.at(car)].at(column)), expected, 1e-8 * std::fabs(expected)) << quantity;
        }
    }
    // A saturated group's fit has no covariance: its records get a prediction
    // and NA for the standard error, while the other group's keep theirs.
    std::string tiny = mtcarsCsv({0, 14, 19});
    tiny = tiny.substr(tiny.find('\n') + 1);
    for (std::size_t at = tiny.find(",all,"); at != std::string::npos; at = tiny.find(",all,", at)) tiny.replace(at + 1, 3, "few");
    writeFile(dir / "saturated.csv", mtcarsCsv() + tiny);
    writeFile(dir / "both.csv", mtcarsCsv({0}) + tiny.substr(0, tiny.find('\n') + 1));
    ASSERT_EQ(runBuild(dir / "saturated.csv", dir / "saturated", {"--split", "g", "--target", "mpg", "--inputs", "wt,hp"}).status, 0);
    const RunOutput mixed = runScore(dir / "saturated" / "split-model.pmml", dir / "both.csv", dir / "mixed.csv", {"--se-fit"});
    ASSERT_EQ(mixed.status, 0) << mixed.err;
    const std::vector<Record> mixedRows = readCsvRecords(dir / "mixed.csv");
    ASSERT_EQ(mixedRows.size(), 2u);
    EXPECT_GT(std::stod(mixedRows[0].at("se_fit")), 0.0) << "the group of all cars has a standard error";
    EXPECT_EQ(mixedRows[1].count("se_fit"), 0u) << "NA, read back as missing";
    EXPECT_EQ(mixedRows[1].at("predicted_mpg"), "21");  // the saturated fit reproduces the record
}

// Diagnostics of the records each fit used, in input order, against R
// (tests/data/r/augment.tsv): those of the first, second and fourth records.
TEST(Augment, DiagnosticsAreRsInInputOrder)
{
    const fs::path dir = freshDir("augment", {{"mtcars.csv", mtcarsCsv()}});
    const struct { const char* title; std::vector<std::string> options; } cases[] = {
        {"linear by am", {"--split", "am", "--target", "mpg", "--inputs", "wt,hp"}},
        {"logistic", {"--split", "g", "--target", "am", "--inputs", "wt,hp", "--model", "logistic"}},
        {"Gamma log", {"--split", "g", "--target", "mpg", "--inputs", "wt,hp", "--family", "Gamma", "--link", "log"}},
        {"poisson with weights", {"--split", "g", "--target", "hp", "--inputs", "wt", "--family", "poisson", "--weights", "am"}},
    };
    const modeltest::RValues values("augment");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--augment", (dir / "augmented.csv").string()});
        const RunOutput run = runBuild(dir / "mtcars.csv", dir / "out", args);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const std::vector<Record> rows = readCsvRecords(dir / "augmented.csv");
        ASSERT_EQ(rows.size(), 32u);
        const std::vector<std::string> diagnostics = values.quantities(c.title);
        for (const std::size_t at : {0u, 1u, 3u}) {
            const std::string record = " " + std::to_string(at + 1);
            const bool glm = std::count(diagnostics.begin(), diagnostics.end(), ".fitted.response" + record) == 1;
            EXPECT_EQ(rows[at].at("mpg"), shortest(splittest::kMtcars[at].mpg)) << "input order";
            EXPECT_EQ(rows[at].count(".fitted.response"), glm ? 1u : 0u);
            ASSERT_EQ(std::count_if(diagnostics.begin(), diagnostics.end(),
                                    [&](const std::string& d) { return d.substr(d.find(' ')) == record; }),
                      glm ? 8 : 6);
            for (const std::string& quantity : diagnostics) {
                if (quantity.substr(quantity.find(' ')) != record) continue;
                const std::string column = quantity.substr(0, quantity.find(' '));
                const double expected = values(c.title, quantity);
                if (std::isnan(expected))
                    EXPECT_EQ(rows[at].count(column), 0u) << column << " is NA";
                else
                    EXPECT_NEAR(std::stod(rows[at].at(column)), expected, 1e-8 * std::fabs(expected))
                        << column << " of record " << at + 1;
            }
        }
    }
    // A record a fit did not use (its input is missing) is left out.
    writeFile(dir / "gap.csv", mtcarsCsv() + "20,all,,3,1\n");
    const RunOutput gap = runBuild(dir / "gap.csv", dir / "gap", {"--split", "am", "--target", "mpg", "--inputs", "wt,hp",
                                                                  "--augment", (dir / "gap.csv.out").string()});
    ASSERT_EQ(gap.status, 0) << gap.err;
    EXPECT_EQ(readCsvRecords(dir / "gap.csv.out").size(), 32u);
    // A saturated group's records are written as R gives them: hat 1, the
    // influence measures undefined (lm(y ~ x) on two records).
    writeFile(dir / "sat.csv", "g,x,y\na,1,2\na,2,3.5\nb,1,1\nb,2,2.2\nb,3,2.9\nb,4,4.4\n");
    const RunOutput sat = runBuild(dir / "sat.csv", dir / "sat",
                                   {"--split", "g", "--target", "y", "--inputs", "x", "--augment", (dir / "sat.out").string()});
    ASSERT_EQ(sat.status, 0) << sat.err;
    const std::vector<Record> saturated = readCsvRecords(dir / "sat.out");
    ASSERT_EQ(saturated.size(), 6u);
    EXPECT_NEAR(std::stod(saturated[1].at(".fitted")), 3.5, 1e-12);
    EXPECT_NEAR(std::stod(saturated[1].at(".resid")), 0.0, 1e-12);
    EXPECT_EQ(saturated[1].at(".hat"), "1");
    for (const char* column : {".sigma", ".cooksd", ".std.resid"}) EXPECT_EQ(saturated[1].count(column), 0u) << column;
    EXPECT_NEAR(std::stod(saturated[3].at(".hat")), 0.3, 1e-12);
}

}  // namespace

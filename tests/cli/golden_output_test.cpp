// Every byte split-run writes, for a table of small builds, against the
// snapshots in tests/data/golden/<case>/: the report, the tables, the split
// model, the manifest, each container entry as export writes it, the
// diagnostics and the scores. Any change to any output shows here; a change
// meant to happen is taken in by running the test with SPLIT_UPDATE_GOLDEN=1,
// which writes the snapshots instead of comparing, and reviewing the diff.
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "cli_harness.h"

using namespace clitest;

namespace {

struct GoldenCase {
    std::string name;
    std::vector<std::string> build;              // options after build --data DIR/in/data.csv --out DIR/out
    std::vector<std::vector<std::string>> then;  // later commands; "score" gets --model, --data, --out if not given
    std::string in = "";                         // the case whose in/ holds the inputs, when not this one's
};

// The files of a case's in/ are copied to DIR/in/; "score" reads DIR/in/score.csv if there is one, else
// DIR/in/data.csv. Every argument starting "DIR/" names a file in the case's scratch directory.
const GoldenCase kCases[] = {
    {"linear", {"--split", "region", "--target", "y", "--inputs", "x1,x2,x3", "--threads", "1", "--conf-level", "0.9"},
     {{"score", "--se-fit", "--interval", "prediction", "--level", "0.9"}, {"info"}}},
    {"formula", {"--split", "shop", "--formula", "y ~ kind * x + log(z) + I(x^2)", "--augment", "DIR/augment.csv"},
     {{"score", "--se-fit", "--interval", "confidence"}}},
    {"aliased", {"--split", "g", "--target", "y", "--non-finite", "skip", "--threads", "3"}, {}},
    {"tables_aliased", {"--split", "g", "--target", "y"}, {}},
    {"logistic", {"--split", "g", "--target", "outcome", "--inputs", "x,kind", "--model", "logistic",
                  "--reference", "kind=a", "--event", "yes"},
     {{"score", "--se-fit", "--na-out", ""}}},
    {"binomial_separated", {"--split", "g", "--target", "outcome", "--inputs", "x,kind", "--family", "binomial",
                            "--reference", "kind=a", "--event", "yes"}, {}, "logistic"},
    {"binomial_cbind", {"--split", "g", "--formula", "cbind(s, f) ~ dose", "--family", "binomial", "--weights", "wt"},
     {{"score"}}},
    {"binomial_probit", {"--split", "g", "--target", "y01", "--inputs", "x,u", "--family", "binomial", "--link",
                         "probit", "--weights", "wt", "--threads", "1", "--augment", "DIR/augment.csv"},
     {{"score", "--se-fit"}}},
    {"poisson", {"--split", "g", "--target", "y", "--inputs", "x,kind", "--family", "poisson", "--offset",
                 "log_exposure", "--weights", "w"},
     {{"score"}, {"score", "--type", "link", "--se-fit", "--interval", "confidence"}}},
    {"quasipoisson", {"--split", "g", "--formula", "y ~ x + offset(log(exposure))", "--family", "quasipoisson"}, {},
     "poisson"},
    {"gamma", {"--split", "g", "--target", "y", "--inputs", "x", "--family", "Gamma"},
     {{"score", "--se-fit", "--interval", "confidence", "--level", "0.8"}}},
    {"gaussian_log", {"--split", "g", "--target", "y", "--inputs", "x", "--family", "gaussian", "--link", "log",
                      "--weights", "wt", "--augment", "DIR/augment.csv"},
     {{"score", "--type", "link"}}},
    {"keys", {"--split", "name,code,level", "--target", "y", "--inputs", "x", "--threads", "3"}, {{"score"}}},
    {"merged_keys", {"--split", "k", "--target", "y", "--threads", "2"}, {}},
    {"decimal_comma", {"--split", "shop name", "--target", "y", "--delimiter", ";", "--decimal", ",", "--na-values",
                       "NA,-999", "--categorical", "kind"},
     {{"score", "--delimiter", ";", "--decimal", ",", "--na-values", "NA,-999"}}},
    {"write_csv", {"--split", "g", "--target", "y", "--categorical", "dose", "--inputs", "dose,x"}, {}},
    {"write_csv_skip", {"--split", "g", "--target", "y", "--categorical", "dose", "--inputs", "dose,x",
                        "--non-finite", "skip"}, {}, "write_csv"},
    {"write_csv_weights", {"--split", "g", "--target", "y", "--categorical", "dose", "--inputs", "dose",
                           "--weights", "x"}, {}, "write_csv"},
    {"write_csv_identifier", {"--split", "g", "--target", "y", "--categorical", "dose", "--inputs", "dose,code",
                              "--non-finite", "skip"}, {}, "write_csv"},
    {"no_measure", {"--split", "g", "--target", "y", "--inputs", "x", "--data-model", "DIR/in/model.xml"}, {{"score"}}},
    {"saturated", {"--split", "g", "--target", "y"}, {}},
    {"saturated_named", {"--split", "g", "--target", "y", "--inputs", "x"}, {}, "saturated"},
    {"saturated_five", {"--split", "g", "--target", "y"}, {}},
    {"identifier", {"--split", "g", "--target", "y"}, {}},
    {"none_fitted", {"--split", "g", "--target", "y"}, {}},
    {"none_fitted_verbose", {"--split", "g", "--target", "y", "--verbose"}, {}, "none_fitted"},
    {"wide", {"--split", "g", "--target", "y", "--inputs", "x0"}, {}},
    // Records scoring without a prediction, counted by kind; a group's own PMML scores only its group.
    {"score_messages", {"--split", "id", "--target", "y"},
     {{"score", "--data", "DIR/in/clean.csv"}, {"score", "--data", "DIR/in/nosegment.csv"},
      {"score", "--data", "DIR/in/badkey.csv"}, {"score", "--data", "DIR/in/overflow.csv"},
      {"score", "--data", "DIR/in/unknown.csv"}, {"score", "--data", "DIR/in/othergroup.csv"},
      {"score", "--data", "DIR/in/unfitted.csv"}, {"score", "--data", "DIR/in/noinput.csv"},
      {"score", "--data", "DIR/in/othergroup.csv", "--model", "DIR/export/PMML/model-0002.xml"},
      {"score", "--data", "DIR/in/twogroups.csv", "--model", "DIR/export/PMML/model-0002.xml"}}},
};

fs::path snapshotDir(const std::string& name) { return fs::path(SPLIT_SOURCE_ROOT) / "tests/data/golden" / name; }

// Masks what differs between runs, machines and releases by a fixed token:
// the scratch directory (in the report's paths) by DIR; the module's path
// and version in `info` by MODULE and VERSION; the writer's version in each
// PMML's Application by VERSION; the manifest's line naming the working
// directory the build wrote into (host name, process, random letters) by BUILD.
std::string normalised(std::string text, const std::string& dir)
{
    const auto replaceAll = [&text](const std::string& what, const std::string& token) {
        for (std::size_t at; (at = text.find(what)) != std::string::npos;) text.replace(at, what.size(), token);
    };
    replaceAll(dir, "DIR");
    replaceAll(SPLIT_MODULE_PATH, "MODULE");
    const struct { std::string from; char to; const char* token; } masks[] = {
        {"\nversion:    ", '\n', "VERSION"}, {"\n# build ", '\n', "BUILD"},
        {"<Application name=\"splitmodels\" version=\"", '"', "VERSION"}};
    for (const auto& mask : masks)
        for (std::size_t at = text.find(mask.from); at != std::string::npos; at = text.find(mask.from, at + 1)) {
            const std::size_t from = at + mask.from.size(), to = text.find(mask.to, from);
            if (to != std::string::npos) text.replace(from, to - from, mask.token);
        }
    return text;
}

// Every file below `dir` by its relative path, the manifest included; not
// the inputs, nor containers.db, whose entries are compared as exported.
std::map<std::string, std::string> filesBelow(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string path = fs::relative(entry.path(), dir).string();
        if (entry.is_regular_file() && path.rfind("in/", 0) != 0 && path != "out/containers.db")
            files[path] = readFile(entry.path());
    }
    return files;
}

// What the case's commands wrote and printed, by snapshot file name.
std::map<std::string, std::string> runCase(const GoldenCase& c)
{
    const fs::path dir = freshDir("golden-" + c.name);
    fs::copy(snapshotDir(c.in.empty() ? c.name : c.in) / "in", dir / "in");
    const std::string scored = fs::exists(dir / "in/score.csv") ? "DIR/in/score.csv" : "DIR/in/data.csv";
    std::vector<std::vector<std::string>> commands = {{"build", "--data", "DIR/in/data.csv", "--out", "DIR/out"},
                                                      {"export", "DIR/out", "--to", "DIR/export"}};
    commands[0].insert(commands[0].end(), c.build.begin(), c.build.end());
    for (std::vector<std::string> command : c.then) {
        const std::pair<std::string, std::string> defaults[] = {
            {"--model", "DIR/out/split-model.pmml"}, {"--data", scored}, {"--out", "DIR/scored" + std::to_string(commands.size() + 1) + ".csv"}};
        for (const auto& [option, value] : defaults)
            if (command[0] == "score" && std::find(command.begin(), command.end(), option) == command.end())
                command.insert(command.end(), {option, value});
        commands.push_back(command);
    }
    std::map<std::string, std::string> files;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        for (std::string& arg : commands[i])
            if (arg.rfind("DIR/", 0) == 0) arg = (dir / arg.substr(4)).string();
        const RunOutput run = runSplitRun(commands[i]);
        std::ostringstream printed;
        printed << "exit " << run.status << "\n" << run.out << (run.err.empty() ? "" : "--- standard error\n") << run.err;
        files[std::to_string(i + 1) + "-" + commands[i][0] + ".txt"] = normalised(printed.str(), dir.string());
    }
    for (const auto& [path, bytes] : filesBelow(dir)) files[path] = normalised(bytes, dir.string());
    return files;
}

void writeSnapshots(const std::string& name, const std::map<std::string, std::string>& files)
{
    fs::create_directories(snapshotDir(name));
    for (const auto& entry : fs::directory_iterator(snapshotDir(name)))
        if (entry.path().filename() != "in") fs::remove_all(entry.path());
    for (const auto& [path, bytes] : files) {
        fs::create_directories((snapshotDir(name) / path).parent_path());
        writeFile(snapshotDir(name) / path, bytes);
    }
}

// Where two texts part: the first differing line of each, numbered from 1.
std::string firstDifference(const std::string& expected, const std::string& actual)
{
    std::istringstream e(expected), a(actual);
    std::string el, al;
    for (int line = 1;; ++line) {
        const bool moreE = static_cast<bool>(std::getline(e, el)), moreA = static_cast<bool>(std::getline(a, al));
        if (!moreE && !moreA) return "the same lines; they differ in the last line's end";
        if (!moreE || !moreA || el != al)
            return "line " + std::to_string(line) + "\n  expected: " + (moreE ? el : "<end of file>") +
                   "\n  actual:   " + (moreA ? al : "<end of file>");
    }
}

class GoldenOutput : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenOutput, EveryFileWrittenMatchesItsSnapshot)
{
    const GoldenCase& c = GetParam();
    const std::map<std::string, std::string> actual = runCase(c);
    const char* update = std::getenv("SPLIT_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        writeSnapshots(c.name, actual);
        return;
    }
    const std::map<std::string, std::string> expected = filesBelow(snapshotDir(c.name));
    for (const auto& [path, bytes] : expected) {
        const auto it = actual.find(path);
        if (it == actual.end())
            ADD_FAILURE() << c.name << ": " << path << " was not written";
        else if (it->second != bytes)
            ADD_FAILURE() << c.name << ": " << path << " differs at " << firstDifference(bytes, it->second);
    }
    for (const auto& [path, bytes] : actual)
        if (!expected.count(path)) ADD_FAILURE() << c.name << ": " << path << " was written but has no snapshot";
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenOutput, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace

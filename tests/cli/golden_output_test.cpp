// Every byte split-run writes, for a table of small builds, against the
// snapshots in tests/data/golden/<case>/: the report, the tables, the split
// model, the manifest, each container entry as export writes it, the
// diagnostics and the scores. Any change to any output shows here; a change
// meant to happen is taken in by running the test with SPLIT_UPDATE_GOLDEN=1,
// which writes the snapshots instead of comparing, and reviewing the diff.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli_harness.h"

using namespace clitest;

namespace {

struct GoldenCase {
    std::string name;
    std::vector<std::string> build;              // options after build --data DIR/in/data.csv --out DIR/out
    // Later commands: "build" gets --data, and the first build's --split, if not given; "score" gets
    // --model (of the last build), --data and --out if not given.
    std::vector<std::vector<std::string>> then;
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
    // More groups than the report lists, one with a key wider than the screen.
    {"many_groups", {"--split", "g", "--target", "y", "--categorical", "g"}, {}},
    // Records scoring without a prediction, counted by kind; a group's own PMML scores only its group.
    {"score_messages", {"--split", "id", "--target", "y"},
     {{"score", "--data", "DIR/in/clean.csv"}, {"score", "--data", "DIR/in/nosegment.csv"},
      {"score", "--data", "DIR/in/badkey.csv"}, {"score", "--data", "DIR/in/overflow.csv"},
      {"score", "--data", "DIR/in/unknown.csv"}, {"score", "--data", "DIR/in/othergroup.csv"},
      {"score", "--data", "DIR/in/unfitted.csv"}, {"score", "--data", "DIR/in/noinput.csv"},
      {"score", "--data", "DIR/in/othergroup.csv", "--model", "DIR/export/PMML/model-0002.xml"},
      {"score", "--data", "DIR/in/twogroups.csv", "--model", "DIR/export/PMML/model-0002.xml"}}},
    // Each family with each link it allows, with an offset where one fits; each model scores its own input.
    {"gaussian_links", {"--split", "g", "--target", "pos", "--inputs", "x", "--family", "gaussian", "--offset", "z"},
     {{"score"},
      {"build", "--out", "DIR/inverse", "--target", "pos", "--inputs", "x",
       "--family", "gaussian", "--link", "inverse"}, {"score"}}, "families"},
    {"binomial_links", {"--split", "g", "--target", "flag", "--inputs", "x", "--family", "binomial", "--offset", "z"},
     {{"score", "--se-fit"},
      {"build", "--out", "DIR/cauchit", "--target", "flag", "--inputs", "x,z",
       "--family", "binomial", "--link", "cauchit"}, {"score"},
      {"build", "--out", "DIR/cloglog", "--target", "flag", "--inputs", "x,z",
       "--family", "binomial", "--link", "cloglog"}, {"score"},
      {"build", "--out", "DIR/log", "--target", "low", "--inputs", "x",
       "--family", "binomial", "--link", "log"}, {"score"}}, "families"},
    {"poisson_links", {"--split", "g", "--target", "count",
      "--inputs", "x", "--family", "poisson", "--link", "identity"},
     {{"score"},
      {"build", "--out", "DIR/sqrt", "--target", "count", "--inputs", "x",
       "--family", "poisson", "--link", "sqrt", "--offset", "exposure"}, {"score"}}, "families"},
    {"gamma_links", {"--split", "g", "--target", "pos",
      "--inputs", "x,z", "--family", "Gamma", "--link", "log", "--offset", "log_exposure"},
     {{"score", "--se-fit"},
      {"build", "--out", "DIR/identity", "--target", "pos", "--inputs", "x",
       "--family", "Gamma", "--link", "identity"}, {"score"}}, "families"},
    {"inverse_gaussian_links", {"--split", "g", "--target", "pos", "--inputs", "x", "--family", "inverse.gaussian"},
     {{"score"},
      {"build", "--out", "DIR/inverse", "--target", "pos", "--inputs", "x",
       "--family", "inverse.gaussian", "--link", "inverse"}, {"score"},
      {"build", "--out", "DIR/identity", "--target", "pos", "--inputs", "x",
       "--family", "inverse.gaussian", "--link", "identity"}, {"score"},
      {"build", "--out", "DIR/log", "--target", "pos", "--inputs", "x",
       "--family", "inverse.gaussian", "--link", "log", "--offset", "log_exposure"}, {"score"}}, "families"},
    // Zero weights: a record of weight 0 is used but adds nothing to the fit or its degrees of freedom.
    {"quasibinomial", {"--split", "g", "--target", "flag",
      "--inputs", "x,z", "--family", "quasibinomial", "--weights", "w"},
     {{"score", "--se-fit", "--interval", "confidence"}}, "families"},
    {"zero_weights", {"--split", "g", "--target", "pos", "--inputs", "x,z", "--family", "gaussian", "--weights", "w"},
     {{"score", "--se-fit", "--interval", "confidence"}}, "families"},
    // Fits without an intercept: a linear model, a poisson glm with an offset and a logistic model.
    {"no_intercept", {"--split", "g", "--formula", "pos ~ 0 + x + z"},
     {{"score", "--se-fit", "--interval", "prediction"},
      {"build", "--out", "DIR/poisson", "--formula", "count ~ x - 1 + offset(log_exposure)", "--family", "poisson"},
      {"score"},
      {"build", "--out", "DIR/logistic", "--formula", "flag ~ 0 + x", "--model", "logistic"}, {"score"}}, "families"},
    // A glm of a two-valued text target classifies; its offset shifts the scores' link.
    {"classifying_offset", {"--split", "g", "--target", "label",
      "--inputs", "x", "--family", "binomial", "--offset", "z", "--event", "yes"},
     {{"score", "--se-fit"}}, "families"},
    // Raw polynomials of the lowest and the highest degree taken; most of the high one's terms are aliased.
    {"polynomial_limits", {"--split", "g", "--formula", "pos ~ poly(x, 1, raw = TRUE)"},
     {{"score"},
      {"build", "--out", "DIR/high", "--formula", "pos ~ poly(x, 64, raw = TRUE)"}, {"score"}}, "families"},
    // A glm's inputs by default: every field but the split fields, target, weights and offset; a
    // score of a file read as Latin-1 says so.
    {"glm_default_inputs", {"--split", "g", "--target", "count",
      "--family", "poisson", "--offset", "log_exposure", "--weights", "w"},
     {{"score", "--encoding", "latin1"}}, "families"},
    // Groups of one, two and three records: one-record and saturated fits of each model kind.
    {"tiny_groups", {"--split", "g", "--target", "y", "--inputs", "x"},
     {{"score"},
      {"build", "--out", "DIR/poisson", "--target", "count", "--inputs", "x", "--family", "poisson"}, {"score"},
      {"build", "--out", "DIR/logistic", "--target", "label", "--inputs", "z", "--model", "logistic"}, {"score"}}, ""},
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
// the inputs, nor any containers.db, whose entries are compared as exported.
std::map<std::string, std::string> filesBelow(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string path = fs::relative(entry.path(), dir).string();
        if (entry.is_regular_file() && path.rfind("in/", 0) != 0 &&
            entry.path().filename() != "containers.db")
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
    std::string model = "DIR/out/split-model.pmml";
    for (std::vector<std::string> command : c.then) {
        const auto given = [&command](const std::string& option) {
            return std::find(command.begin(), command.end(), option) != command.end();
        };
        if (command[0] == "build") {
            if (!given("--data")) command.insert(command.end(), {"--data", "DIR/in/data.csv"});
            if (!given("--split")) command.insert(command.end(), {"--split", c.build.at(1)});
            model = *(std::find(command.begin(), command.end(), "--out") + 1) + "/split-model.pmml";
        }
        const std::pair<std::string, std::string> defaults[] = {
            {"--model", model}, {"--data", scored}, {"--out", "DIR/scored" + std::to_string(commands.size() + 1) + ".csv"}};
        for (const auto& [option, value] : defaults)
            if (command[0] == "score" && !given(option)) command.insert(command.end(), {option, value});
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

// Compares a case's outputs with its snapshots, or writes them when
// SPLIT_UPDATE_GOLDEN=1.
void expectSnapshots(const std::string& name, const std::map<std::string, std::string>& actual)
{
    const char* update = std::getenv("SPLIT_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        writeSnapshots(name, actual);
        return;
    }
    const std::map<std::string, std::string> expected = filesBelow(snapshotDir(name));
    for (const auto& [path, bytes] : expected) {
        const auto it = actual.find(path);
        if (it == actual.end())
            ADD_FAILURE() << name << ": " << path << " was not written";
        else if (it->second != bytes)
            ADD_FAILURE() << name << ": " << path << " differs at " << firstDifference(bytes, it->second);
    }
    for (const auto& [path, bytes] : actual)
        if (!expected.count(path)) ADD_FAILURE() << name << ": " << path << " was written but has no snapshot";
}

class GoldenOutput : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenOutput, EveryFileWrittenMatchesItsSnapshot)
{
    expectSnapshots(GetParam().name, runCase(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenOutput, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// Runs that refuse their input or warn about it, and the subcommands' help.
// A case's commands run in order in one scratch directory holding a copy of
// its in/ (or of another case's); each gives "N-<command>.txt": the exit
// status, standard output and error, and the paths beside in/ that the
// command left or took away, each with its mode (under the case's umask).
struct MessageCase {
    std::string name;
    std::vector<std::vector<std::string>> commands;
    std::string in = "";
    mode_t umask = 022;
};

// A build of DIR/in/<data> by g, into DIR/out unless the options give --out.
std::vector<std::string> split(const std::vector<std::string>& options, const std::string& data = "data.csv")
{
    std::vector<std::string> command = {"build", "--data", "DIR/in/" + data, "--split", "g"};
    if (std::find(options.begin(), options.end(), "--out") == options.end())
        command.insert(command.end(), {"--out", "DIR/out"});
    command.insert(command.end(), options.begin(), options.end());
    return command;
}

// The same with y the target.
std::vector<std::string> gy(std::vector<std::string> options, const std::string& data = "data.csv")
{
    options.insert(options.begin(), {"--target", "y"});
    return split(options, data);
}

// A score of DIR/in/<data> with `model`, to standard output unless the options give --out.
std::vector<std::string> sc(const std::string& model, const std::vector<std::string>& options = {},
                            const std::string& data = "data.csv")
{
    std::vector<std::string> command = {"score", "--model", model, "--data", "DIR/in/" + data};
    if (std::find(options.begin(), options.end(), "--out") == options.end())
        command.insert(command.end(), {"--out", "-"});
    command.insert(command.end(), options.begin(), options.end());
    return command;
}

const MessageCase kMessageCases[] = {
    {"help", {{}, {"--help"}, {"build", "--help"}, {"score", "--help"}, {"export", "--help"}, {"info", "--help"}, {"--version"}}},
    // The command line's own checks, made before any file is read.
    {"usage", {{"frobnicate", "--data", "d.csv"}, {"build"}, split({}),
               gy({"--bogus"}), gy({"--target", "x"}), split({"--target"}), gy({"extra"}),
               {"build", "--data", "DIR/in/data.csv", "--out", "DIR/out", "--split", "g,,x", "--target", "y"},
               {"build", "--data", "DIR/in/data.csv", "--out", "DIR/out", "--split", "g,g", "--target", "y"},
               gy({"--inputs", ""}), gy({"--delimiter", "|"}), gy({"--decimal", ":"}), gy({"--decimal", ","}),
               gy({"--encoding", "ebcdic"}), split({"--formula", ""}), split({"--formula", "y ~ x", "--target", "y"}),
               split({"--formula", "y ~ x +"}), gy({"--model", "logistic", "--family", "poisson"}),
               gy({"--family", "poisson", "--link", "logit"}), gy({"--family", "gaussian", "--event", "yes"}),
               gy({"--categorical", "kind", "--data-model", "DIR/in/dm_extra.xml"}),
               split({"--formula", "cbind(y, x) ~ w", "--family", "binomial", "--augment", "DIR/aug.csv"}),
               gy({"--reference", "kind"}), gy({"--reference", "kind=a", "--reference", "kind=b"}),
               {"build", "--data", "", "--out", "DIR/out", "--split", "g", "--target", "y"},
               {"build", "--data", "-", "--out", "DIR/out", "--split", "g", "--target", "y", "--data-model", "-"},
               gy({"--augment", ""}),
               {"build", "--data", "-", "--out", "DIR/out",
                "--split", "g", "--target", "y", "--augment", "DIR/aug.csv"},
               gy({"--conf-level", "1"}), gy({"--memory-limit", "12Q"}),
               {"build", "--data", "DIR/in/data.csv", "--out", "", "--split", "g", "--target", "y"},
               {"build", "--data", "DIR/in/data.csv", "--out", "-", "--split", "g", "--target", "y"},
               {"build", "--data", "DIR/in/data.csv", "--out", "DIR/in/data.csv", "--split", "g", "--target", "y"},
               {"build", "--data", "DIR/in/data.csv", "--out", "/", "--split", "g", "--target", "y"},
               sc("DIR/m.pmml", {"--out", ""}), sc("DIR/m.pmml", {"--na-out", "a,b"}),
               sc("DIR/m.pmml", {"--level", "1"}), {"score", "--model", "-", "--data", "-", "--out", "-"}, sc(""),
               sc("DIR/m.pmml", {"--interval", "wide"}), gy({"--family", "poisson", "--epsilon", "0"}),
               gy({"--maxit", "0"}), gy({"--threads", "abc"}), gy({"--non-finite", "drop"}),
               gy({"--engine", "rockets"}), gy({"--model", "tree"}), gy({"--family", "tweedie"}),
               {"export", "", "--to", "DIR/x"}, {"export", "DIR/out", "--to", ""}, sc("DIR/m.pmml", {"--na-out", "\"NA\""}),
               gy({"--max-field-size", "0"}), gy({"--max-field-size", "18446744073709551616"}),
               gy({"--family", "gaussian", "--epsilon", "1e-320"}), gy({"--family", "poisson", "--model", "linear"}),
               gy({"--data-model", ""}), gy({"--input-pmml", "-", "--data-model", "-"})},
     "refusals"},
    // Fields, targets and formulas the data cannot give.
    {"field_refusals", {split({"--target", "nope"}),
      gy({"--categorical", "nope"}), gy({}, "no_target.csv"), split({"--target", "word"}),
      split({"--target", "word", "--family", "poisson"}), split({"--target", "word", "--model", "logistic"}),
      split({"--target", "flag", "--model", "logistic", "--event", "maybe"}), gy({"--weights", "y"}),
      gy({"--offset", "y"}), gy({"--offset", "word"}), gy({"--inputs", "x", "--reference", "kind=a"}),
      gy({"--reference", "kind=z"}), split({"--formula", "y ~ x + g"}),
      split({"--formula", "cbind(x, g) ~ w", "--family", "binomial"}), split({"--formula", "cbind(y, x) ~ w"}),
      split({"--target", "g"}), gy({"--inputs", "x,y"}), gy({}, "score_nox.csv"), gy({}, "zero_key.csv"),
      gy({}, "control.csv"), gy({"--family", "Poisson"}), gy({"--family", "poisson", "--weights", "nosuch"}),
      split({"--target", "word", "--family", "Gamma"}), split({"--formula", "nosuch ~ x"}),
      split({"--formula", "y ~ sin(x)"}), split({"--formula", "y ~ poly(x, 2)"}), split({"--formula", "y ~ x + nosuch"}),
      gy({"--family", "poisson", "--offset", "g"}), split({"--formula", "log(y) ~ x", "--augment", "DIR/aug.csv"})},
     "refusals"},
    // Files that are not the CSV a build reads.
    {"data_refusals", {gy({}, "nothere.csv"),
      gy({}, "header_only.csv"), gy({}, "empty.csv"), gy({}, "zero.csv"), gy({}, "utf16.csv"),
      gy({}, "semicolons.csv"), gy({}, "twice.csv"), gy({}, "unnamed.csv"), gy({}, "unclosed.csv"),
      gy({}, "quote.csv"), gy({}, "short.csv"), gy({}, "blank_line.csv"), gy({}, "long_line.csv"),
      gy({}, "text_in_number.csv"), gy({}, "unsorted.csv"), gy({}, "latin1_header.csv"), gy({}, "broken_bom.csv"),
      gy({}, "truncated.csv.gz"), {"build", "--data", "DIR/in", "--out", "DIR/out", "--split", "g", "--target", "y"},
      gy({"--max-field-size", "2"}), gy({"--presorted"}, "unsorted.csv"),
      gy({"--inputs", "x", "--memory-limit", "100", "--temp-dir", "DIR/in/data.csv"}), gy({}, "after_quote.csv"),
      gy({"--inputs", "x,kind"}, "control_input.csv"), gy({}, "control_header.csv"), gy({}, "trailing.csv.gz"),
      gy({}, "binary.csv.gz"), gy({}, "after_del.csv"), gy({}, "double_bom.csv"), gy({}, "utf16be.csv"),
      split({"--target", "flag", "--inputs", "x", "--model", "logistic"}, "control_target.csv"),
      gy({"--inputs", "x,kind", "--memory-limit", "100"}, "control_two.csv"),
      split({"--target", "y", "--model", "logistic"}, "one_value.csv"),
      gy({"--na-values", ",NA,"}, "text_in_number.csv"),
      {"build", "--data", "DIR/in/data.csv", "--out", "DIR/out", "--split", "G", "--target", "y"},
      gy({"--categorical", "y"}),
      gy({"--input-pmml", "DIR/in/no_model.pmml", "--augment", "DIR/in/no_model.pmml"}), gy({}, "garbage.csv.gz"),
      // A field the file lacks is named before the file is found not grouped.
      split({"--target", "nope", "--presorted", "--memory-limit", "16B"}, "unsorted.csv")},
     "refusals"},
    // Data models that do not describe the file.
    {"data_model_refusals", {gy({"--data-model", "DIR/in/dm_extra.xml"}, "small.csv"),
      gy({"--data-model", "DIR/in/dm_twice.xml"}, "small.csv"),
      gy({"--data-model", "DIR/in/dm_storage.xml"}, "small.csv"),
      gy({"--data-model", "DIR/in/dm_missing.xml"}, "small.csv"),
      gy({"--data-model", "DIR/in/dm_integer.xml"}, "small.csv"),
      gy({"--data-model", "DIR/in/dm_broken.xml"}, "small.csv"),
      gy({"--data-model", "DIR/in/dm_empty.xml"}, "small.csv"),
      gy({"--data-model", "DIR/in/nothere.xml"}, "small.csv"),
      gy({"--data-model", "DIR/in/dm_integer.xml", "--memory-limit", "100"}, "small.csv"),
      gy({"--data-model", "DIR/in/dm_integer.xml"}, "esc_value.csv"),
      gy({"--data-model", "DIR/in/dm_nul_ref.xml"}, "small.csv")},
     "refusals"},
    // Models, data and outputs score cannot use.
    {"score_refusals", {gy({"--inputs", "x"}),
      split({"--target", "flag", "--model", "logistic", "--out", "DIR/logit"}),
      gy({"--inputs", "x", "--out", "DIR/glm", "--family", "gaussian"}), sc("DIR/out"), sc("/dev/null"),
      sc("DIR/nothere.pmml"), sc("DIR/in/not_xml.pmml"), sc("DIR/in/zero.pmml"), sc("DIR/in/utf16.pmml"),
      sc("DIR/in/no_model.pmml"), sc("DIR/logit/split-model.pmml", {"--type", "link"}),
      sc("DIR/out/split-model.pmml", {}, "score_nox.csv"),
      sc("DIR/logit/split-model.pmml", {"--interval", "prediction"}),
      sc("DIR/glm/split-model.pmml", {"--interval", "prediction"}),
      sc("DIR/out/split-model.pmml", {"--out", "DIR/out"}),
      sc("DIR/out/split-model.pmml", {"--out", "DIR/in/data.csv"}),
      {"score", "--model", "DIR/out/split-model.pmml", "--data", "DIR/nothere.csv", "--out", "-"},
      sc("DIR/out/split-model.pmml", {}, "utf16.csv"), sc("DIR/in/utf16nobom.pmml")},
     "refusals"},
    // Containers, keys and places export cannot use.
    {"export_refusals", {gy({"--inputs", "x"}),
      {"export", "DIR/out", "--to", "DIR/e", "--container", "Nope"},
      {"export", "DIR/out", "--to", "DIR/e", "--key", "nope"}, {"export", "DIR/out", "--to", "-"},
      {"export", "DIR/out", "--to", "DIR/in/data.csv"}, {"export", "DIR/out", "--to", "DIR/e", "--container", "PMML"},
      {"export", "DIR/out", "--to", "DIR/e", "--container", "PMML"}, {"export", "DIR/in", "--to", "DIR/e2"},
      {"export", "DIR/nothere", "--to", "DIR/e2"}, {"export", "DIR/out", "--to", "-", "--key", "model-0001"},
      {"export", "DIR/out", "--to", "-", "--container", "PMML"},
      {"export", "DIR/out", "--to", "-", "--container", "PMML", "--key", "nope"}},
     "refusals"},
    // Output directories a build cannot replace, and documents it cannot read.
    {"output_refusals", {gy({"--inputs", "x", "--out", "DIR/in"}),
      gy({"--inputs", "x"}),
      {"build", "--data", "DIR/out/groups.csv", "--split", "g", "--target", "y", "--out", "DIR/out"},
      gy({"--inputs", "x", "--out", "DIR/out", "--incremental"}),
      gy({"--inputs", "x", "--out", "DIR/new", "--incremental"}),
      gy({"--inputs", "x", "--out", "DIR/pm", "--input-pmml", "DIR/in/empty.csv"}),
      gy({"--inputs", "x", "--out", "DIR/pm", "--input-pmml", "/dev/null"}),
      gy({"--inputs", "x", "--out", "DIR/pm", "--input-statxml", "DIR/in/zero.pmml"}),
      gy({"--inputs", "x", "--out", "DIR/pm", "--input-pmml", "DIR/in/nothere.xml"}),
      gy({"--inputs", "x", "--input-pmml", "DIR/out/split-model.pmml"}),
      sc("DIR/out/split-model.pmml", {"--out", "DIR/nothere/scored.csv"})},
     "refusals"},
    // Created files follow the umask: 0600 and 0700 under 077, 0666 and 0777 under 0.
    {"modes_umask_077", {gy({"--inputs", "x"}),
      sc("DIR/out/split-model.pmml", {"--out", "DIR/scored.csv"}), {"export", "DIR/out", "--to", "DIR/export"}},
     "refusals", 077},
    {"modes_umask_000", {gy({"--inputs", "x"}),
      sc("DIR/out/split-model.pmml", {"--out", "DIR/scored.csv"}), {"export", "DIR/out", "--to", "DIR/export"}},
     "refusals", 0},
};

// Each path below `dir` but in/, with its mode: "out/groups.csv 0644".
std::set<std::string> listing(const fs::path& dir)
{
    std::set<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string path = fs::relative(entry.path(), dir).string();
        if (path == "in" || path.rfind("in/", 0) == 0) continue;
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(entry.symlink_status().permissions()) & 07777u);
        lines.insert(path + (entry.is_directory() ? "/ " : " ") + mode);
    }
    return lines;
}

std::map<std::string, std::string> runMessages(const MessageCase& c)
{
    const fs::path dir = freshDir("messages-" + c.name);
    if (fs::exists(snapshotDir(c.in.empty() ? c.name : c.in) / "in"))
        fs::copy(snapshotDir(c.in.empty() ? c.name : c.in) / "in", dir / "in");
    const mode_t previous = ::umask(c.umask);
    std::map<std::string, std::string> files;
    std::set<std::string> before = listing(dir);
    for (std::size_t i = 0; i < c.commands.size(); ++i) {
        std::vector<std::string> args = c.commands[i];
        for (std::string& arg : args)
            if (arg.rfind("DIR/", 0) == 0) arg = (dir / arg.substr(4)).string();
        const RunOutput run = runSplitRun(args);
        std::ostringstream printed;
        printed << "exit " << run.status << "\n" << run.out << "--- standard error\n" << run.err;
        // What the command left and took away; a path whose mode changed is both.
        const std::set<std::string> after = listing(dir);
        const auto print = [&printed](const char* heading, const std::set<std::string>& in,
                                      const std::set<std::string>& notIn) {
            std::string lines;
            for (const std::string& line : in)
                if (!notIn.count(line)) lines += line + "\n";
            if (!lines.empty()) printed << heading << lines;
        };
        print("--- left\n", after, before);
        print("--- gone\n", before, after);
        before = after;
        const std::string command = args.empty() ? "none" : args[0].rfind("-", 0) == 0 ? "options" : args[0];
        files[std::to_string(i + 1) + "-" + command + ".txt"] = normalised(printed.str(), dir.string());
    }
    ::umask(previous);
    return files;
}

class GoldenMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(GoldenMessages, EveryMessageAndFileLeftMatchesItsSnapshot)
{
    expectSnapshots(GetParam().name, runMessages(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenMessages, ::testing::ValuesIn(kMessageCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace

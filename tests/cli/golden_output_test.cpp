// Every byte split-run writes, for the small builds listed in
// tests/data/golden/cases.txt, against the snapshots in
// tests/data/golden/<case>/: the report, the tables, the split
// model, the manifest, each container entry as export writes it, the
// diagnostics and the scores. Any change to any output shows here; a change
// meant to happen is taken in by running the test with SPLIT_UPDATE_GOLDEN=1,
// which writes the snapshots instead of comparing, and reviewing the diff.
// The runs listed in golden/messages.txt, which refuse their input or warn
// about it, are pinned the same way.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli_harness.h"

using namespace clitest;

namespace {

fs::path snapshotDir(const std::string& name) { return fs::path(SPLIT_SOURCE_ROOT) / "tests/data/golden" / name; }

// A case of golden/cases.txt or golden/messages.txt, whose opening comments
// say how they are written.
struct GoldenCase {
    std::string name;
    std::vector<std::vector<std::string>> commands;
    std::string in;                              // the case whose in/ holds the inputs, when not this one's
    mode_t umask = 022;
};

void PrintTo(const GoldenCase& c, std::ostream* out) { *out << c.name; }

// The words of a "$" line: split at spaces, a word in single quotes taken as it stands.
std::vector<std::string> commandWords(const std::string& line)
{
    std::vector<std::string> words;
    for (std::size_t at = line.find_first_not_of(' ', 1); at != std::string::npos; at = line.find_first_not_of(' ', at)) {
        const bool quoted = line[at] == '\'';
        const std::size_t end = line.find(quoted ? '\'' : ' ', at + 1);
        if (quoted && end == std::string::npos) throw std::runtime_error("unclosed quote: " + line);
        words.push_back(line.substr(at + quoted, end == std::string::npos ? end : end - at - quoted));
        at = end == std::string::npos ? end : end + 1;
    }
    return words;
}

std::vector<GoldenCase> readCases(const std::string& file)
{
    std::vector<GoldenCase> cases;
    std::ifstream in(snapshotDir(file));
    for (std::string line; std::getline(in, line);) {
        std::istringstream header(line);
        std::string word, value;
        if (line.rfind('$', 0) == 0 && !cases.empty()) {
            cases.back().commands.push_back(commandWords(line));
        } else if (header >> word && word == "case" && header >> value) {
            cases.push_back({value, {}, "", 022});
            while (header >> word >> value)
                if (word == "in") cases.back().in = value;
                else if (word == "umask") cases.back().umask = static_cast<mode_t>(std::stoul(value, nullptr, 8));
        }
    }
    if (cases.empty()) throw std::runtime_error("no cases in " + snapshotDir(file).string());
    return cases;
}

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
        if (entry.is_regular_file() && path.rfind("in/", 0) != 0 && entry.path().filename() != "containers.db")
            files[path] = readFile(entry.path());
    }
    return files;
}

// What the case's commands wrote and printed, by snapshot file name.
void writeSnapshots(const std::string& name, const std::map<std::string, std::string>& files)
{
    fs::create_directories(snapshotDir(name));
    for (const auto& entry : fs::directory_iterator(snapshotDir(name)))
        if (entry.path().filename() != "in") fs::remove_all(entry.path());
    for (const auto& [path, bytes] : files) writeFile(snapshotDir(name) / path, bytes);
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

// Runs a case's commands in order in one scratch directory holding a copy of
// its in/ (or of another case's), under the case's umask; each gives
// "N-<command>.txt": the exit status, standard output and error. For a case
// of messages (refusals, warnings, help) it also lists the paths beside in/
// that the command left or took away, each with its mode; for any other
// case every file below the directory but in/ is compared as well.
std::map<std::string, std::string> runCase(const GoldenCase& c, bool messages)
{
    const fs::path dir = freshDir((messages ? "messages-" : "golden-") + c.name);
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
        printed << "exit " << run.status << "\n" << run.out << (run.err.empty() && !messages ? "" : "--- standard error\n")
                << run.err;
        // What the command left and took away; a path whose mode changed is both.
        const std::set<std::string> after = listing(dir);
        const auto print = [&printed](const char* heading, const std::set<std::string>& in,
                                      const std::set<std::string>& notIn) {
            std::string lines;
            for (const std::string& line : in)
                if (!notIn.count(line)) lines += line + "\n";
            if (!lines.empty()) printed << heading << lines;
        };
        if (messages) print("--- left\n", after, before), print("--- gone\n", before, after);
        before = after;
        const std::string command = args.empty() ? "none" : args[0].rfind("-", 0) == 0 ? "options" : args[0];
        files[std::to_string(i + 1) + "-" + command + ".txt"] = normalised(printed.str(), dir.string());
    }
    ::umask(previous);
    if (!messages)
        for (const auto& [path, bytes] : filesBelow(dir)) files[path] = normalised(bytes, dir.string());
    return files;
}

class GoldenOutput : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenOutput, EveryFileWrittenMatchesItsSnapshot)
{
    expectSnapshots(GetParam().name, runCase(GetParam(), false));
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenOutput, ::testing::ValuesIn(readCases("cases.txt")),
                         [](const auto& info) { return info.param.name; });

class GoldenMessages : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenMessages, EveryMessageAndFileLeftMatchesItsSnapshot)
{
    expectSnapshots(GetParam().name, runCase(GetParam(), true));
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenMessages, ::testing::ValuesIn(readCases("messages.txt")),
                         [](const auto& info) { return info.param.name; });

}  // namespace

// split-run never loses a user's files: builds replace only their own output, only on success and in
// one atomic switch, even when killed; score writes through links and devices, refuses directories,
// and leaves no temporary files.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include <refhost/container_store.h>

#include "cli_harness.h"
#include "errors.h"
#include "output_dir.h"
#include "output_file.h"
#include "output_manifest.h"
#include "output_transaction.h"
#include "staged_store.h"
#include "working_path_owner.h"

using namespace clitest;

namespace {

// Two groups, a and b, of four records each.
const std::string kCsv = readFile(SPLIT_SOURCE_ROOT "/tests/cli/two_groups.csv");
// kCsv with a third group, c.
const std::string kMoreCsv = kCsv + "c,1,1\nc,2,2\nc,3,3.5\n";

RunOutput build(const fs::path& dir, const fs::path& data, std::vector<std::string> more = {},
                const Environment& environment = {})
{
    std::vector<std::string> args = {"build", "--data", data.string(), "--split", "g", "--target", "y"};
    if (std::find(more.begin(), more.end(), "--out") == more.end())
        args.insert(args.end(), {"--out", (dir / "out").string()});
    args.insert(args.end(), more.begin(), more.end());
    return runSplitRun(args, "/dev/null", environment);
}

// The environment that makes the module's step `step` fail.
Environment failing(const std::string& step)
{
    return {{"SPLIT_MODULE", SPLIT_FAILING_MODULE_PATH}, {"SPLIT_FAILING_STEP", step}};
}

// Names in `dir` other than those given: leftovers of temporary files.
std::vector<std::string> strayNames(const fs::path& dir, const std::vector<std::string>& expected)
{
    std::vector<std::string> stray;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) stray.push_back(name);
    }
    return stray;
}

TEST(OutputSafety, BuildReplacesOnlyItsOwnFilesAndOnlyOnSuccess)
{
    struct Case {
        const char* name;
        std::string csv;                       // the second build's data (written to data2.csv)
        std::vector<std::string> more;         // its extra options; "@in" is out/PMML/model-0001.xml
        int status;
        bool replaced;                         // the first build's files gave way to the second's
        std::string message;
        bool dropManifest = false;             // the first build's manifest is gone
        const char* failingStep = "";          // the module's step made to fail (SPLIT_FAILING_STEP)
        std::size_t segments = 3;              // split-model.pmml's segments, when replaced
    };
    const Case cases[] = {
        {"a run whose groups all fail replaces the results with groups.csv, which says why",
         "g,x,y\na,1,\nb,,3\n", {}, 1, true, "no group could be fitted: too few records in 2 groups"},
        {"each kind of reason is counted", "g,x,y\na,1,\nb,,3\nd,1,Inf\nd,2,3\nd,3,4\n", {}, 1, true,
         "too few records in 2 groups, the field 'y' is Inf in record 1 of the group's 3; a model cannot be fitted "
         "to an infinite value; correct it, or give --non-finite skip to leave such records out in 1 group;"},
        {"the one group's reason is given whole", "g,x,y\na,,2\n", {}, 1, true,
         "no group could be fitted: too few records: 0 records for 1 parameters;"},
        {"an input the build would replace is refused", kCsv, {"--input-pmml", "@in"}, 2, false,
         "--input-pmml"},
        {"DIR named through '.' is replaced where it is", kMoreCsv, {"--threads", "1", "--out", "@dot"}, 0, true, ""},
        {"DIR/ is replaced where it is", kMoreCsv, {"--threads", "2", "--out", "@slash"}, 0, true, ""},
        {"a dangling symlink --out is refused before any work", kCsv, {"--out", "@dangling"}, 2, false,
         "symlink to nothing"},
        {"a later good run replaces the earlier files and keeps foreign ones", kMoreCsv, {}, 0, true, ""},
        {"a module step failing after every group fitted fails the run", kMoreCsv, {}, 1, false,
         "Component steps that failed:\n  distribute.endExecution returned status 1", false, "endExecution"},
        {"a group whose collection failed has no segment, though its PMML was stored", kMoreCsv, {}, 0, true,
         "failed: the collect component returned status 1 for this group", false, "completed", 2},
        {"a temporary file damaged before the run reads it back fails the run with its reason", kCsv,
         {"--presorted", "--memory-limit", "10"}, 2, false, "is damaged (truncated)", false, "truncate"},
        {"a directory without a manifest is not trusted, whatever its indexes say", kMoreCsv, {}, 2, false,
         "has no .split-run-files, the list of the files split-run wrote there", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshDir("output-safety", {{"data.csv", kCsv}});
        ASSERT_EQ(build(dir, dir / "data.csv").status, 0);
        const fs::path out = dir / "out";
        writeFile(out / "notes.txt", "mine");
        writeFile(out / "PMML" / "mine.xml", "<mine/>");
        if (c.dropManifest) {   // an index such as earlier versions wrote, naming the user's files
            fs::remove(out / ".split-run-files");
            writeFile(out / "PMML" / "entries.tsv", "key\tfile\tmimeType\ttypeId\nk\tmine.xml\tx\ty\nj\t../notes.txt\tx\ty\n");
        }
        const auto before = treeContents(out);
        writeFile(dir / "data2.csv", c.csv);
        std::vector<std::string> more;
        for (const std::string& arg : c.more)
            more.push_back(arg == "@in" ? (out / "split-model.pmml").string()
                           : arg == "@dangling" ? (dir / "dangling").string()
                           : arg == "@dot" ? (out / ".").string() : arg == "@slash" ? out.string() + "/" : arg);
        fs::create_symlink(dir / "nowhere", dir / "dangling");
        Environment environment = *c.failingStep ? failing(c.failingStep) : Environment{};
        environment["TMPDIR"] = fs::create_directories(dir / "tmp") ? (dir / "tmp").string() : "";
        const RunOutput run = build(dir, dir / "data2.csv", more, environment);
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));   // the run's temporary files are gone, whatever happened
        fs::remove(dir / "dangling");
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.message), std::string::npos) << run.out << run.err;
        if ((!c.more.empty() && c.more[0] == "--out") || c.dropManifest) {
            EXPECT_EQ(run.out, "") << "refused before any work";
        }
        const auto after = treeContents(out);
        EXPECT_EQ(after == before, !c.replaced);
        // The second build's output is all there is: its groups, none of the first's alone.
        EXPECT_EQ(readFile(out / "groups.csv").find("\nc,") != std::string::npos, c.replaced && c.status == 0);
        if (c.replaced && c.status == 0) {
            EXPECT_EQ(readGroupFits(out).size(), 3u);
            EXPECT_EQ(countOf(readFile(out / "split-model.pmml"), "<Segment "), c.segments);
        }
        if (c.replaced && c.status != 0) {
            EXPECT_EQ(after.count("split-model.pmml"), 0u);
            EXPECT_NE(after.at("groups.csv").find("a,,failed,1,0,"), std::string::npos) << after.at("groups.csv");
        }
        EXPECT_EQ(after.at("notes.txt"), "mine");
        EXPECT_EQ(after.at("PMML/mine.xml"), "<mine/>");
        EXPECT_EQ(strayNames(dir, {"data.csv", "data2.csv", "out", "out.files", "tmp"}), std::vector<std::string>{});
    }
}

// A group whose task document names no split value (a faulty module's) is
// reported with "?" for its key, not with values read past the task's.
TEST(OutputSafety, AGroupWhoseTaskNamesNoSplitValueIsListedWithoutAKey)
{
    const fs::path dir = freshDir("output-safety-task", {{"data.csv", kCsv}});
    const RunOutput run = build(dir, dir / "data.csv", {}, failing("task"));
    EXPECT_NE(run.out.find("\n?  "), std::string::npos) << run.out << run.err;
}

// info fails when either component cannot be destroyed, not only both.
TEST(OutputSafety, InfoFailsWhenOneComponentIsNotDestroyed)
{
    const RunOutput run = runSplitRun({"info"}, "/dev/null", failing("destroy"));
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("destroying the components failed"), std::string::npos) << run.err;
}

TEST(OutputSafety, ScoreWritesThroughLinksAndDevicesAndRefusesDirectories)
{
    const fs::path root = freshDir("score-out", {{"data.csv", kCsv}});
    ASSERT_EQ(build(root, root / "data.csv").status, 0);
    const std::string model = (root / "out" / "split-model.pmml").string();
    // out: --out, relative to the case's directory unless absolute or "-"; data: --data, likewise;
    // message: in standard error
    struct Case { const char* name; std::string out; std::string data; int status; std::string message; };
    const Case cases[] = {
        {"a symlink is written through", "link.csv", "in.csv", 0, ""},
        {"a device is written through", "null", "in.csv", 0, ""},
        {"standard output", "-", "in.csv", 0, "Scored 8 records"},
        {"standard input to standard output", "-", "-", 0, "Scored 8 records"},
        {"a directory is refused", "sub", "in.csv", 2, "is a directory"},
        {"the input itself is refused", "in.csv", "in.csv", 2, "is the file this run reads as --data"},
        {"the model itself is refused", model, "in.csv", 2, "is the file this run reads as --model"},
        {"an input named like a temporary file is kept", "in.csv", "in.csv.partial", 0, ""},
        {"a failed run keeps the old file", "old.csv", "bad.csv", 2, "bad.csv:10"},
        {"a read-only file is refused, as the shell would", "readonly.csv", "in.csv", 2, "is read-only"},
        {"a file of another owner keeps its owner", "theirs.csv", "in.csv", 0, ""},
        {"a file of another group alone keeps its group", "group.csv", "in.csv", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshDir("score-out-case", {{"in.csv", kCsv}, {"in.csv.partial", kCsv},
                                                         {"bad.csv", kCsv + "a,1\n"}, {"old.csv", "old"},
                                                         {"readonly.csv", "kept"}});
        fs::permissions(dir / "readonly.csv", fs::perms::owner_read | fs::perms::group_read);
        writeFile(dir / "group.csv", "group"), writeFile(dir / "theirs.csv", "theirs");
        const bool chowned = ::chown((dir / "theirs.csv").c_str(), 65534, 65534) == 0 &&   // as root only
                             ::chown((dir / "group.csv").c_str(), ::geteuid(), 65534) == 0;
        fs::create_directories(dir / "sub");
        fs::create_symlink("target.csv", dir / "link.csv");
        // The null device made in the case's directory (as root), so that a fault replacing it harms nothing else.
        if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            fs::create_symlink("/dev/null", dir / "null");
        const auto place = [&](const std::string& p) {
            return p.empty() || p == "-" || p[0] == '/' ? p : (dir / p).string();
        };
        const RunOutput run = runSplitRun({"score", "--model", model, "--data", place(c.data), "--out", place(c.out)},
                                        dir / "in.csv");
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
        EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(dir / "null")));
        EXPECT_EQ(fs::exists(dir / "target.csv"), c.out == "link.csv");
        EXPECT_TRUE(c.out != "-" || run.out.rfind("g,x,y,predicted_y\n", 0) == 0) << run.out;
        EXPECT_EQ(readFile(dir / "old.csv"), "old");
        EXPECT_EQ(readFile(dir / "readonly.csv"), "kept");
        struct stat theirs, group;
        ASSERT_EQ(::stat((dir / "theirs.csv").c_str(), &theirs) | ::stat((dir / "group.csv").c_str(), &group), 0);
        EXPECT_TRUE(!chowned || (theirs.st_uid == 65534u && group.st_gid == 65534u));
        EXPECT_EQ(readFile(dir / "theirs.csv") == "theirs", c.out != "theirs.csv");
        EXPECT_EQ(readFile(dir / "group.csv") == "group", c.out != "group.csv");
        EXPECT_EQ(readFile(dir / "in.csv.partial"), kCsv);
        EXPECT_TRUE((c.status == 0 && c.out == "in.csv") || readFile(dir / "in.csv") == kCsv);
        EXPECT_EQ(strayNames(dir, {"in.csv", "in.csv.partial", "bad.csv", "old.csv", "readonly.csv", "theirs.csv", "sub",
                                   "link.csv", "target.csv", "group.csv", "null"}), std::vector<std::string>{});
    }
}

// Commit closes the file before it moves it into place, so that an error
// only the close reports (a file system that writes back then) fails the run.
TEST(OutputSafety, CommitClosesTheOutputBeforeMovingItIn)
{
    const fs::path dir = freshDir("commit-closes");
    const auto descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
    splitrun::OutputFile out((dir / "o.csv").string(), {});
    out.stream() << "x\n";
    const auto before = descriptors();
    out.commit();
    EXPECT_EQ(descriptors(), before - 1);
    EXPECT_EQ(readFile(dir / "o.csv"), "x\n");
}

TEST(OutputSafety, RunsRemoveWorkingFilesOfKilledRunsOnThisHostOnly)
{
    // What a SIGKILLed run left is removed once its process is gone; that of live or remote ones stays.
    // The build is loaded: it needs no temporary files, and still clears those of killed builds in --temp-dir.
    const fs::path dir = freshDir("output-abandoned");
    std::string csv = "g,x,y\n";
    for (const char* group : {"a", "b"})
        for (int i = 0; i < 50; ++i) csv += std::string(group) + "," + std::to_string(i) + "," + std::to_string(i * 1.5 + i % 3) + "\n";
    writeFile(dir / "data.csv", csv);
    fs::create_directories(dir / "tmp");
    char hostName[256] = {};
    ASSERT_EQ(::gethostname(hostName, sizeof hostName - 1), 0);
    std::string host = hostName;
    for (char& c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
    const pid_t dead = ::fork();
    ASSERT_GE(dead, 0);
    if (dead == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);

    // stem: the working name before "-HOST-PID-"
    struct Left { std::string stem; bool directory; fs::path where; };
    const Left kinds[] = {
        {".out.split-run-new", true, dir},       // a build's staging directory
        {".out.split-run-old", true, dir},       // what an earlier version moved aside, with its list
        {"split-run-tmp", true, dir / "tmp"},    // records grouped through temporary files
        {".scored.csv.split-run", false, dir},   // score's temporary output
    };
    std::vector<std::pair<fs::path, bool>> expectGone;
    std::vector<int> ownerLocks;
    for (const Left& kind : kinds) {
        const auto make = [&](const std::string& tag, pid_t pid, bool gone) {
            const fs::path path = kind.where / (kind.stem + "-" + tag + "-" + std::to_string(pid) + "-aBcDeF");
            if (kind.directory) {
                writeFile(path / "PMML" / "m.xml", "<x/>");
                writeFile(path / ".split-run-files", "# Files split-run wrote\nPMML/m.xml\n");
            } else {
                writeFile(path, "partial");
            }
            expectGone.emplace_back(path, gone);
        };
        make(host, dead, true);
        make(host, ::getpid(), false);
        make("elsewhere", dead, false);
        // A live owner whose number this run cannot see (another PID namespace) holds the path's lock.
        const fs::path locked = kind.where / (kind.stem + "-" + host + "-" + std::to_string(dead) + "-locked");
        if (kind.directory) fs::create_directories(locked);
        else writeFile(locked, "partial");
        ownerLocks.push_back(splitrun::lockWorkingPath(locked));
        expectGone.emplace_back(locked, false);
    }

    ASSERT_EQ(build(dir, dir / "data.csv", {"--temp-dir", (dir / "tmp").string()}).status, 0);
    ASSERT_EQ(runScore(dir / "out" / "split-model.pmml", dir / "data.csv", dir / "scored.csv").status, 0);
    for (const auto& [path, gone] : expectGone) EXPECT_EQ(fs::exists(path), !gone) << path;
    for (int fd : ownerLocks) ::close(fd);
}

using splitrun::OutputTransaction;
using Files = std::map<std::string, std::string>;

// Switches `files` into `out` as a build would.
void commitFiles(const fs::path& out, const Files& files)
{
    OutputTransaction output(out, {});
    for (const auto& [name, text] : files) writeFile(output.staging() / name, text);
    output.commit();
}

// A manifest line listing `path` with the size and hash of `bytes`.
std::string listed(const std::string& path, const std::string& bytes)
{
    const fs::path file = writeFile(freshDir("hash") / "f", bytes);
    const int fd = ::open(file.c_str(), O_RDONLY);
    std::uint64_t hash = 0;
    splitrun::contentHash(fd, &hash);
    ::close(fd);
    char text[64];
    std::snprintf(text, sizeof text, "%zu\t%016llx\t", bytes.size(), static_cast<unsigned long long>(hash));
    return text + path + "\n";
}

const Files kOld{{"containers.db", "old db"}, {"split-model.pmml", "old model"}};
const Files kNew{{"containers.db", "new db"}, {"split-model.pmml", "new model"}, {"groups.csv", "new groups"}};

TEST(OutputSwitch, KillAtEveryStepLeavesOneWholeOutputThatTheNextBuildRepairs)
{
    std::vector<std::string> steps;
    for (int stop = 1; stop < 20; ++stop) {
        SCOPED_TRACE("killed at step " + std::to_string(stop));
        const fs::path dir = freshDir("switch-kill");
        const fs::path out = dir / "out";
        commitFiles(out, kOld);
        writeFile(out / "notes.txt", "mine");
        writeFile(out / "sub" / "deep.txt", "deep");
        int channel[2];
        ASSERT_EQ(::pipe(channel), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(channel[0]);
            int calls = 0;
            OutputTransaction::setStepHook([&](const std::string& step) {
                if (++calls < stop) return;
                [[maybe_unused]] const ssize_t wrote = ::write(channel[1], step.data(), step.size());
                ::raise(SIGKILL);
            });
            try {
                commitFiles(out, kNew);
            } catch (...) {
                ::_exit(3);
            }
            ::_exit(0);
        }
        ::close(channel[1]);
        char name[64] = {};
        const ssize_t got = ::read(channel[0], name, sizeof name - 1);
        ::close(channel[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const bool killed = WIFSIGNALED(status);
        ASSERT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
        const std::string step = got > 0 ? std::string(name, static_cast<std::size_t>(got)) : "";
        if (killed) steps.push_back(step);
        const bool switched = !killed || step == "exchange" || step == "journal-removed" || step == "old-removed";
        const Files& expected = switched ? kNew : kOld;
        for (const char* when : {"as the kill left it", "after the next build's repair"}) {
            SCOPED_TRACE(std::string(when) + ", " + step);
            if (std::string(when) != "as the kill left it") {
                for (const auto& entry : fs::directory_iterator(dir))   // a line climbing out is not trusted
                    if (const fs::path journal = entry.path() / ".split-run-carried"; fs::exists(journal))
                        writeFile(journal, readFile(journal) + "../out/notes.txt\n");
                // A file carried away whose place is taken meanwhile waits for a repair that finds the place free.
                const bool taken = !fs::exists(out / "notes.txt");
                if (taken) writeFile(out / "notes.txt", "theirs");
                OutputTransaction repair(out, {});
                if (taken) {
                    EXPECT_EQ(readFile(out / "notes.txt"), "theirs");
                    fs::remove(out / "notes.txt");
                    OutputTransaction again(out, {});
                }
            }
            for (const auto& [file, text] : expected) EXPECT_EQ(readFile(out / file), text) << file;
            EXPECT_EQ(fs::exists(out / "groups.csv"), switched);
        }
        EXPECT_EQ(readFile(out / "notes.txt"), "mine");
        EXPECT_EQ(readFile(out / "sub" / "deep.txt"), "deep");
        EXPECT_EQ(strayNames(dir, {"out"}), std::vector<std::string>{});
        EXPECT_EQ(strayNames(out, {"containers.db", "split-model.pmml", "groups.csv", ".split-run-files", "notes.txt", "sub"}),
                  std::vector<std::string>{});
        if (!killed) break;
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"manifest", "journal", "carry", "carry", "exchange", "journal-removed",
                                               "old-removed"}));
}

TEST(OutputSwitch, RemovesOnlyFilesItCanProveItWrote)
{
    struct Case {
        const char* name;
        std::function<std::string(const fs::path& dir, const fs::path& out)> attack;   // returns manifest lines to add
        bool refused;                     // the build stops before changing anything
        Files kept;                       // paths relative to the test directory
        const char* message = "was changed or replaced after split-run wrote it";   // of a refusal
    };
    const auto victim = [](const fs::path& dir) { writeFile(dir / "outside" / "victim.txt", "precious"); };
    const Case cases[] = {
        {"a line through a symlink inside DIR",
         [&](const fs::path& dir, const fs::path& out) {
             victim(dir);
             fs::create_directory_symlink(dir / "outside", out / "link");
             return listed("link/victim.txt", "precious");
         }, false, {{"outside/victim.txt", "precious"}, {"out/link/victim.txt", "precious"}}},
        {"a line naming a directory",
         [](const fs::path&, const fs::path& out) {
             writeFile(out / "mydata" / "a.txt", "data");
             return listed("mydata", "") + "mydata\n";
         }, false, {{"out/mydata/a.txt", "data"}}},
        {"a listed file the user has changed since",
         [](const fs::path&, const fs::path& out) {
             writeFile(out / "notes.txt", "final");
             return listed("notes.txt", "draft");
         }, false, {{"out/notes.txt", "final"}}},
        {"a path alone, as older manifests had, that no build ever wrote",
         [](const fs::path&, const fs::path& out) {
             writeFile(out / "mine.txt", "mine");
             return std::string("mine.txt\n../outside/victim.txt\n");
         }, false, {{"out/mine.txt", "mine"}}},
        {"a file two directories deep, which goes with its directories, deepest first, but a user's file there stays",
         [](const fs::path&, const fs::path& out) {
             writeFile(out / "parts" / "b" / "mine.txt", "mine");
             return listed("parts/a/old.bin", readFile(writeFile(out / "parts" / "a" / "old.bin", "old part")));
         }, false, {{"out/parts/b/mine.txt", "mine"}}},
        {"a line climbing out of DIR, with the size and hash of the file it names",
         [&](const fs::path& dir, const fs::path&) {
             victim(dir);
             return listed("../outside/victim.txt", "precious");
         }, false, {{"outside/victim.txt", "precious"}}},
        {"a symlink in place of a listed output",
         [&](const fs::path& dir, const fs::path& out) {
             victim(dir);
             fs::remove(out / "containers.db");
             fs::create_symlink(dir / "outside" / "victim.txt", out / "containers.db");
             return std::string();
         }, true, {{"outside/victim.txt", "precious"}}},
        {"the list saved again with CRLF line ends",
         [](const fs::path&, const fs::path& out) {
             std::string text;
             for (const char c : readFile(out / ".split-run-files")) text += c == '\n' ? "\r\n" : std::string(1, c);
             writeFile(out / ".split-run-files", text);
             return std::string();
         }, false, {}},
        {"a FIFO in place of the list (reading it would block)",
         [](const fs::path&, const fs::path& out) {
             fs::remove(out / ".split-run-files");
             EXPECT_EQ(::mkfifo((out / ".split-run-files").c_str(), 0600), 0);
             return std::string();
         }, true, {}, "'s .split-run-files is not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshDir("switch-attack");
        const fs::path out = dir / "out";
        commitFiles(out, kOld);
        const std::string lines = c.attack(dir, out);
        if (!lines.empty()) writeFile(out / ".split-run-files", readFile(out / ".split-run-files") + lines);
        bool refused = false;
        try {
            commitFiles(out, kNew);
        } catch (const splitrun::InputError& error) {
            refused = true;
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
        EXPECT_EQ(refused, c.refused);
        for (const auto& [path, text] : c.kept) EXPECT_EQ(readFile(dir / path), text) << path;
        EXPECT_TRUE(c.refused || readFile(out / "containers.db") == "new db");
        EXPECT_EQ(strayNames(dir, {"out", "outside"}), std::vector<std::string>{});
    }
}

TEST(OutputSwitch, AFileThatDoesNotReachTheDiskStopsTheSwitch)
{
    // A write the kernel could not complete shows only when the file is
    // flushed: the switch must then leave DIR as it was, with no staging
    // directory left beside it, whichever flush failed.
    struct Case {
        const char* name;
        bool dirExists;
        const char* failing;   // file name of the path whose flush fails
        int error;
    };
    const Case cases[] = {
        {"a data file, disk full", true, "split-model.pmml", ENOSPC},
        {"a data file, device error, first build", false, "containers.db", EIO},
        {"the manifest", true, ".split-run-files", EIO},
        {"the journal of carried files", true, ".split-run-carried", ENOSPC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshDir("switch-flush");
        const fs::path out = dir / "out";
        if (c.dirExists) {
            commitFiles(out, kOld);
            writeFile(out / "notes.txt", "mine");
        }
        std::mutex flushing;   // the files are flushed on several threads at once
        std::vector<std::string> flushed;
        OutputTransaction::setFlushHook([&](const fs::path& path) {
            const std::lock_guard<std::mutex> guard(flushing);
            flushed.push_back(path.filename().string());
            return path.filename() == c.failing ? c.error : 0;
        });
        std::string message;
        try {
            commitFiles(out, kNew);
        } catch (const splitrun::RunError& error) {
            message = error.what();
        }
        OutputTransaction::setFlushHook(nullptr);
        EXPECT_NE(std::find(flushed.begin(), flushed.end(), c.failing), flushed.end());
        EXPECT_NE(message.find(std::string(c.failing) + " to the disk (" + std::strerror(c.error) + ")"),
                  std::string::npos) << message;
        if (c.dirExists) {
            for (const auto& [name, text] : kOld) EXPECT_EQ(readFile(out / name), text) << name;
            EXPECT_EQ(readFile(out / "notes.txt"), "mine");
            EXPECT_FALSE(fs::exists(out / "groups.csv"));
            EXPECT_EQ(strayNames(dir, {"out"}), std::vector<std::string>{});
        } else {
            EXPECT_FALSE(fs::exists(out));
            EXPECT_EQ(strayNames(dir, {}), std::vector<std::string>{});
        }
    }
}

TEST(OutputSwitch, DirKeepsItsPermissionsAndALinkToItStaysALink)
{
    const fs::path dir = freshDir("switch-link");
    commitFiles(dir / "real", kOld);
    fs::permissions(dir / "real", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    fs::create_directory_symlink("real", dir / "out");
    commitFiles(dir / "out", kNew);
    EXPECT_TRUE(fs::is_symlink(dir / "out"));
    EXPECT_EQ(readFile(dir / "real" / "containers.db"), "new db");
    EXPECT_EQ(fs::status(dir / "real").permissions(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_EQ(strayNames(dir, {"out", "real"}), std::vector<std::string>{});
}

// Entries of one container, built on demand; `kill` ends the process when that entry is asked for.
splitrun::NamedEntries numberedEntries(const std::string& name, std::size_t count, std::size_t kill = SIZE_MAX)
{
    return {name, count, [kill](std::size_t i) {
                if (i == kill) ::raise(SIGKILL);
                return splitrun::ContainerEntry{"model-" + std::to_string(i + 1), "mimeType=text/xml\ntypeId=t",
                                                "<m n=\"" + std::to_string(i) + "\"/>"};
            }};
}

// Stores `count` numbered entries in the PMML container as a build does, one at a time.
void stageEntries(splitrun::StagedStore& staged, std::size_t count, std::size_t kill = SIZE_MAX)
{
    const splitrun::NamedEntries entries = numberedEntries("PMML", count, kill);
    for (std::size_t i = 0; i < entries.count; ++i) {
        const splitrun::ContainerEntry entry = entries.entry(i);
        staged.store("PMML", staged.reserve("PMML"), entry.key, entry.properties, entry.content.size(), entry.content);
    }
}

std::size_t storedCount(const fs::path& db, const std::string& container)
{
    std::size_t count = 0;
    refhost::ContainerStoreReader(db.string()).forEach(container, {}, [&](const refhost::StoredRow&) { ++count; });
    return count;
}

TEST(OutputSwitch, ABuildKilledWhileWritingTheDatabaseLeavesThePreviousOutputReadable)
{
    const fs::path dir = freshDir("switch-db-kill");
    const fs::path out = dir / "out";
    {
        OutputTransaction output(out, {});
        splitrun::writeContainerStore(output.staging() / splitrun::kContainerStoreName, {numberedEntries("PMML", 3)});
        output.commit();
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Killed half way through a run that stores its entries as they come.
        OutputTransaction output(out, {});
        splitrun::StagedStore staged(output.staging() / splitrun::kContainerStoreName);
        stageEntries(staged, 5000, 2500);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(storedCount(out / splitrun::kContainerStoreName, "PMML"), 3u);
    { OutputTransaction next(out, {}); }   // removes what the killed build left
    EXPECT_EQ(strayNames(dir, {"out"}), std::vector<std::string>{});
    EXPECT_EQ(storedCount(out / splitrun::kContainerStoreName, "PMML"), 3u);
}

TEST(OutputSwitch, TwoBuildsIntoOneDirectoryLeaveOneOfThemWhole)
{
    const fs::path dir = freshDir("switch-race");
    const std::string csvs[] = {kCsv, kMoreCsv};
    std::vector<std::map<std::string, std::string>> alone;
    for (int i = 0; i < 2; ++i) {
        writeFile(dir / ("data" + std::to_string(i) + ".csv"), csvs[i]);
        const fs::path ref = dir / ("ref" + std::to_string(i));
        ASSERT_EQ(build(dir, dir / ("data" + std::to_string(i) + ".csv"), {"--out", ref.string()}).status, 0);
        alone.push_back(treeContents(ref));
    }
    ASSERT_NE(alone[0], alone[1]);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        int statuses[2] = {-1, -1};
        std::vector<std::thread> builds;
        for (int i = 0; i < 2; ++i)
            builds.emplace_back([&, i] { statuses[i] = build(dir, dir / ("data" + std::to_string(i) + ".csv")).status; });
        for (std::thread& thread : builds) thread.join();
        EXPECT_EQ(statuses[0], 0);
        EXPECT_EQ(statuses[1], 0);
        const auto result = treeContents(dir / "out");
        EXPECT_TRUE(result == alone[0] || result == alone[1]);
        EXPECT_EQ(strayNames(dir, {"data0.csv", "data1.csv", "ref0", "ref1", "out"}), std::vector<std::string>{});
    }
}

// The staged store numbers a container's entries from 1, as containers.db's
// readers are told; an entry of a megabyte or more is inserted from the
// caller's bytes at once, and a withdrawn one leaves no row, so that its
// position can be stored again.
TEST(OutputSwitch, StagedStoreNumbersFromOneKeepsLargeEntriesWholeAndWithdrawnOnesOut)
{
    const fs::path dir = freshDir("staged-store-large");
    const std::string large(3u << 20, 'L');
    {
        OutputTransaction output(dir / "out", {});
        splitrun::StagedStore staged(output.staging() / splitrun::kContainerStoreName);
        stageEntries(staged, 2);
        const int64_t seq = staged.reserve("PMML");
        const int64_t first = staged.store("PMML", seq, "root", "typeId=t", large.size(), large);
        ASSERT_GT(first, 0);
        std::string back;
        ASSERT_TRUE(staged.read(first, back));
        EXPECT_TRUE(back == large);
        ASSERT_TRUE(staged.withdraw(first));
        ASSERT_GT(staged.store("PMML", seq, "root", "typeId=t", large.size() + 1, large + "!"), 0);
        staged.commit();
        output.commit();
    }
    std::vector<std::pair<int64_t, std::size_t>> rows;
    refhost::ContainerStoreReader((dir / "out" / splitrun::kContainerStoreName).string())
        .forEach("PMML", {}, [&](const refhost::StoredRow& row) { rows.emplace_back(row.seq, row.content.size()); });
    EXPECT_EQ(rows, (std::vector<std::pair<int64_t, std::size_t>>{{1, 10}, {2, 10}, {3, large.size() + 1}}));
}

// A staged store that met failures refuses to commit and names the first,
// from which the later ones follow.
TEST(OutputSwitch, StagedStoreThatFailedReportsItsFirstFailure)
{
    const fs::path dir = freshDir("staged-store");
    OutputTransaction output(dir / "failed", {});
    splitrun::StagedStore staged(output.staging() / splitrun::kContainerStoreName);
    staged.fail("the first failure");
    staged.fail("the second failure");
    try {
        staged.commit();
        ADD_FAILURE() << "a store that failed committed";
    } catch (const splitrun::RunError& error) {
        EXPECT_NE(std::string(error.what()).find("the first failure"), std::string::npos) << error.what();
        EXPECT_EQ(std::string(error.what()).find("the second failure"), std::string::npos) << error.what();
    }
}

}  // namespace

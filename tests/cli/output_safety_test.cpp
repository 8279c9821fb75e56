// split-run never loses a user's files: builds replace only their own output and only on success;
// score writes through links and devices, refuses directories, and leaves no temporary files.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "errors.h"
#include "output_dir.h"

using namespace clitest;

namespace {

const char* const kCsv =
    "g,x,y\n"
    "a,1,1.5\na,2,2.5\na,3,3.7\na,4,4.1\n"
    "b,1,0.5\nb,2,0.9\nb,3,1.6\nb,4,2.2\n";

RunOutput build(const fs::path& dir, const fs::path& data, std::vector<std::string> more = {})
{
    std::vector<std::string> args = {"build", "--data", data.string(), "--split", "g", "--target", "y",
                                     "--out", (dir / "out").string()};
    args.insert(args.end(), more.begin(), more.end());
    return runSplitRun(args);
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
        bool dropManifest = false;             // the first build is from before the manifest
    };
    const Case cases[] = {
        {"a run whose groups all fail replaces the results with groups.csv, which says why",
         "g,x,y\na,1,\nb,,3\n", {}, 1, true, "no group could be fitted: too few records in 2 groups"},
        {"an input the build would replace is refused", kCsv, {"--input-pmml", "@in"}, 2, false,
         "--input-pmml"},
        {"a later good run replaces the earlier files and keeps foreign ones",
         std::string(kCsv) + "c,1,1\nc,2,2\nc,3,3.5\n", {}, 0, true, ""},
        {"a directory from before the manifest is recognised by its indexes",
         std::string(kCsv) + "c,1,1\nc,2,2\nc,3,3.5\n", {}, 0, true, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshDir("output-safety");
        writeFile(dir / "data.csv", kCsv);
        ASSERT_EQ(build(dir, dir / "data.csv").status, 0);
        const fs::path out = dir / "out";
        writeFile(out / "notes.txt", "mine");
        writeFile(out / "PMML" / "mine.xml", "<mine/>");
        if (c.dropManifest)   // as an earlier version left it: no manifest and no tables
            for (const char* name : {".split-run-files", "groups.csv", "coefficients.csv", "covariance.csv"})
                fs::remove(out / name);
        const auto before = treeContents(out);
        writeFile(dir / "data2.csv", c.csv);
        std::vector<std::string> more;
        for (const std::string& arg : c.more)
            more.push_back(arg == "@in" ? (out / "PMML" / "model-0001.xml").string() : arg);
        const RunOutput run = build(dir, dir / "data2.csv", more);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.message), std::string::npos) << run.out << run.err;
        const auto after = treeContents(out);
        EXPECT_EQ(after == before, !c.replaced);
        EXPECT_EQ(after.count("PMML/model-0003.xml"), c.replaced && c.status == 0 ? 1u : 0u);
        if (c.replaced && c.status != 0) {
            EXPECT_EQ(after.count("split-model.pmml"), 0u);
            EXPECT_NE(after.at("groups.csv").find("a,,failed,1,0,"), std::string::npos) << after.at("groups.csv");
        }
        EXPECT_EQ(after.at("notes.txt"), "mine");
        EXPECT_EQ(after.at("PMML/mine.xml"), "<mine/>");
        EXPECT_EQ(strayNames(dir, {"data.csv", "data2.csv", "out"}), std::vector<std::string>{});
    }
}

TEST(OutputSafety, BuildNeverOverwritesAFileItDidNotWrite)
{
    const fs::path dir = freshDir("output-foreign");
    writeFile(dir / "data.csv", kCsv);
    fs::create_directories(dir / "out");
    writeFile(dir / "out" / "split-model.pmml", "my own model");
    const RunOutput run = build(dir, dir / "data.csv");
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("was not written by split-run"), std::string::npos) << run.err;
    EXPECT_EQ(treeContents(dir / "out"), (std::map<std::string, std::string>{{"split-model.pmml", "my own model"}}));
}

TEST(OutputSafety, ScoreWritesThroughLinksAndDevicesAndRefusesDirectories)
{
    const fs::path root = freshDir("score-out");
    writeFile(root / "data.csv", kCsv);
    ASSERT_EQ(build(root, root / "data.csv").status, 0);
    const std::string model = (root / "out" / "split-model.pmml").string();
    struct Case {
        const char* name;
        std::string out;      // --out, relative to the case's directory unless absolute or "-"
        std::string data;     // --data, likewise
        int status;
        std::string message;  // in standard error
    };
    const Case cases[] = {
        {"a symlink is written through", "link.csv", "in.csv", 0, ""},
        {"a device is written through", "/dev/null", "in.csv", 0, ""},
        {"standard output", "-", "in.csv", 0, "Scored 8 records"},
        {"standard input to standard output", "-", "-", 0, "Scored 8 records"},
        {"a directory is refused", "sub", "in.csv", 2, "is a directory"},
        {"the input itself is refused", "in.csv", "in.csv", 2, "is the input file itself"},
        {"an input named like a temporary file is kept", "in.csv", "in.csv.partial", 0, ""},
        {"a failed run keeps the old file", "old.csv", "bad.csv", 2, "bad.csv:10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshDir("score-out-case");
        writeFile(dir / "in.csv", kCsv);
        writeFile(dir / "in.csv.partial", kCsv);
        writeFile(dir / "bad.csv", std::string(kCsv) + "a,1\n");
        writeFile(dir / "old.csv", "old");
        fs::create_directories(dir / "sub");
        fs::create_symlink("target.csv", dir / "link.csv");
        const auto place = [&](const std::string& p) { return p == "-" || p[0] == '/' ? p : (dir / p).string(); };
        const RunOutput run = runSplitRun({"score", "--model", model, "--data", place(c.data), "--out", place(c.out)},
                                        dir / "in.csv");
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
        EXPECT_EQ(fs::exists(dir / "target.csv"), c.out == "link.csv");
        EXPECT_TRUE(c.out != "-" || run.out.rfind("g,x,y,predicted_y\n", 0) == 0) << run.out;
        EXPECT_EQ(readFile(dir / "old.csv"), "old");
        EXPECT_EQ(readFile(dir / "in.csv.partial"), kCsv);
        EXPECT_TRUE((c.status == 0 && c.out == "in.csv") || readFile(dir / "in.csv") == kCsv);
        EXPECT_EQ(strayNames(dir, {"in.csv", "in.csv.partial", "bad.csv", "old.csv", "sub", "link.csv", "target.csv"}),
                  std::vector<std::string>{});
    }
}

TEST(OutputSafety, BuildRemovesWorkingDirectoriesOfKilledBuildsOnThisHostOnly)
{
    // A SIGKILLed build's working directory is removed once its process is gone; live or remote ones stay.
    const fs::path dir = freshDir("output-abandoned");
    writeFile(dir / "data.csv", kCsv);
    char hostName[256] = {};
    ASSERT_EQ(::gethostname(hostName, sizeof hostName - 1), 0);
    std::string host = hostName;
    for (char& c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
    const pid_t dead = ::fork();
    ASSERT_GE(dead, 0);
    if (dead == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);

    const std::string prefix = ".out.split-run-new-";
    const fs::path abandoned = dir / (prefix + host + "-" + std::to_string(dead) + "-aBcDeF");
    const fs::path live = dir / (prefix + host + "-" + std::to_string(::getpid()) + "-aBcDeF");
    const fs::path remote = dir / (prefix + "elsewhere-" + std::to_string(dead) + "-aBcDeF");
    const fs::path backup = dir / (".out.split-run-old-" + host + "-" + std::to_string(dead) + "-aBcDeF");
    for (const fs::path& path : {abandoned, live, remote, backup}) {
        fs::create_directories(path / "PMML");
        writeFile(path / "PMML" / "m.xml", "<x/>");
    }

    ASSERT_EQ(build(dir, dir / "data.csv").status, 0);
    EXPECT_FALSE(fs::exists(abandoned));
    ASSERT_TRUE(fs::exists(dir / "out" / "split-model.pmml"));
    EXPECT_TRUE(fs::exists(live / "PMML" / "m.xml"));
    EXPECT_TRUE(fs::exists(remote / "PMML" / "m.xml"));
    EXPECT_TRUE(fs::exists(backup / "PMML" / "m.xml")) << "files moved aside are never removed";
}

// The allocator's top-of-tree mark on a directory; false where the file system has no such flags.
bool markedTop(const fs::path& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    const bool marked = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_TOPDIR_FL) != 0;
    if (fd >= 0) ::close(fd);
    return marked;
}

TEST(OutputSafety, BuildLeavesPlainContainerDirectoriesAndNoWorkingNames)
{
    // Containers are made under temporary names in a marked working directory: neither shows in DIR.
    const fs::path dir = freshDir("output-plain-dirs");
    writeFile(dir / "data.csv", kCsv);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    for (const char* run : {"creates the directory", "replaces an earlier build"}) {
        SCOPED_TRACE(run);
        ASSERT_EQ(build(dir, dir / "data.csv").status, 0);
        const fs::path out = dir / "out";
        EXPECT_FALSE(markedTop(out));
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name[0] != '.' || name == ".split-run-files") << entry.path();
        }
        for (const char* container : {"StatXML", "PMML"}) {
            struct stat st;
            ASSERT_EQ(::stat((out / container).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & (S_IFMT | 07777), S_IFDIR | (0777 & ~mask)) << container;
            EXPECT_FALSE(markedTop(out / container));
        }
        EXPECT_EQ(strayNames(dir, {"data.csv", "out"}), std::vector<std::string>{});
    }
}

TEST(OutputSafety, SpreadDirectoryIsNotMadeOverAFileOrWithoutItsParent)
{
    for (const bool parentMissing : {false, true}) {   // builds cover the directory being made
        SCOPED_TRACE(parentMissing ? "a missing parent is reported" : "a file at the path stays and is reported");
        const fs::path dir = freshDir("spread-dir");
        const fs::path path = parentMissing ? dir / "missing" / "StatXML" : dir / "StatXML";
        if (!parentMissing) writeFile(path, "mine");
        try {
            splitrun::makeSpreadDirectory(path);
            ADD_FAILURE() << "made " << path;
        } catch (const splitrun::RunError& error) {
            EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
        }
        EXPECT_FALSE(fs::is_directory(path));
        EXPECT_TRUE(parentMissing || readFile(path) == "mine");
        EXPECT_EQ(strayNames(dir, {parentMissing ? "missing" : "StatXML"}), std::vector<std::string>{});
    }
}

}  // namespace

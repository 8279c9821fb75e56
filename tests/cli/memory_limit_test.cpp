// --memory-limit: a grouped file larger than the limit is read pass by pass and
// gives exactly what loading it gives; one that is not grouped is refused.
#include <algorithm>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "options.h"

using namespace clitest;

namespace {

TEST(MemoryLimit, GroupedFileReadPassByPassGivesTheLoadedRunsOutput)
{
    // One group's region missing; kind has quoted and missing values; note, a distinct text per record, is
    // read by no model and stays out of the streamed records, which w, the glm's weights or offset, must not.
    std::string csv = "region,kind,x,note,y,flag,w\n";
    const char* regions[] = {"", "East", "\"North, upper\"", "South", "West"};
    const char* kinds[] = {"a", "\"b\"\"q\"", "c", ""};
    for (int g = 0; g < 5; ++g)
        for (int i = 0; i < 40 + 7 * g; ++i)
            csv += std::string(regions[g]) + "," + kinds[(i * 7 + g) % 4] + "," + std::to_string(i % 13) + "." +
                   std::to_string(i % 10) + ",note " + std::to_string(g * 100 + i) + std::string(60, 'n') + "," +
                   std::to_string(3.0 * g + 0.5 * i + (i % 3) * 0.25) + "," +
                   (((i * 5 + g) % 7) < 3 ? "yes" : "no") + "," + std::to_string(1 + i % 4) + "\n";
    const fs::path dir = freshDir("memory_limit_same", {{"in.csv", csv}});
    const auto build = [&](const std::string& out, std::vector<std::string> args) {
        args.insert(args.begin(), {"--data", (dir / "in.csv").string(), "--split", "region", "--threads", "2"});
        return buildOutcome(dir / out, args);
    };
    for (const std::vector<std::string>& model : {std::vector<std::string>{"--target", "y", "--inputs", "kind,x"},
                                                  {"--target", "flag", "--model", "logistic", "--inputs", "kind,x",
                                                   "--reference", "kind=c"},
                                                  {"--target", "y", "--family", "gaussian", "--inputs", "x",
                                                   "--weights", "w"},
                                                  {"--target", "y", "--offset", "w", "--family", "gaussian",
                                                   "--inputs", "x"}}) {
        for (const bool presorted : {true, false}) {  // checked and spooled, or grouped through partitions
            std::vector<std::string> args = model;
            if (presorted) args.push_back("--presorted");
            const std::string name = model[3] + (presorted ? "-presorted" : "");
            const BuildOutcome loaded = build("loaded-" + name, args);
            args.insert(args.end(), {"--memory-limit", "8K"});
            EXPECT_TRUE(build("streamed-" + name, args) == loaded) << name;
        }
    }
}

TEST(MemoryLimit, StandardInputIsCopiedAndBoundLikeAFile)
{
    // Standard input cannot be read twice: it is copied to --temp-dir and read from there, pass by pass when
    // larger than the limit, and the copy is removed.
    std::string csv = "g,x,y\n";
    for (int i = 0; i < 400; ++i)
        csv += "k" + std::to_string(i / 2) + "," + std::to_string(i % 17) + "," + std::to_string(i % 23) + ".5\n";
    const fs::path dir = freshDir("memory_limit_stdin", {{"in.csv", csv}});
    fs::create_directory(dir / "tmp");
    // A formula with "." carries every field it may stand for.
    const std::vector<std::string> model = {"--split", "g", "--formula", "y ~ .", "--presorted"};
    std::vector<std::string> args = model;
    args.insert(args.end(), {"--data", (dir / "in.csv").string()});
    const BuildOutcome file = buildOutcome(dir / "file", args);
    args = model;
    args.insert(args.end(), {"--data", "-", "--memory-limit", "1K", "--temp-dir", (dir / "tmp").string()});
    const BuildOutcome piped = buildOutcome(dir / "piped", args, dir / "in.csv");
    EXPECT_EQ(piped.second, file.second);
    EXPECT_NE(piped.first.find("Data: <stdin>, 400 records"), std::string::npos) << piped.first;
    args.erase(std::find(args.begin(), args.end(), "--presorted"));  // 200 keys to group within 1K: refused
    args.insert(args.begin(), {"build", "--out", (dir / "refused").string()});
    const RunOutput refused = runSplitRun(args, dir / "in.csv");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("than fit in --memory-limit"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(dir / "refused"));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    // A compressed file counts at four times its size: within a limit of its own size it is still read pass by
    // pass, and its 200 keys are refused as the copy's are.
    writeGzip(dir / "in.csv.gz", csv);
    const RunOutput compressed = runBuild(dir / "in.csv.gz", dir / "refused", {"--split", "g", "--target", "y",
        "--memory-limit", std::to_string(fs::file_size(dir / "in.csv.gz")), "--temp-dir", (dir / "tmp").string()});
    EXPECT_EQ(compressed.status, 2);
    EXPECT_NE(compressed.err.find("than fit in --memory-limit"), std::string::npos) << compressed.err;
    // Text that compresses more than four times counts at the size its trailer records.
    std::string repeated = "g,x,y\n";
    for (int i = 0; i < 4000; ++i) repeated += "k" + std::to_string(i % 200) + "," + std::to_string(i % 7) + ",1.5\n";
    writeGzip(dir / "small.csv.gz", repeated);
    const std::uint64_t fourTimes = 4 * fs::file_size(dir / "small.csv.gz");
    ASSERT_LT(fourTimes, repeated.size());
    const RunOutput recorded = runBuild(dir / "small.csv.gz", dir / "refused", {"--split", "g", "--target", "y",
        "--memory-limit", std::to_string(fourTimes), "--temp-dir", (dir / "tmp").string()});
    EXPECT_EQ(recorded.status, 2);
    EXPECT_NE(recorded.err.find("than fit in --memory-limit"), std::string::npos) << recorded.err;
    // Binary input is refused while it is copied, at the block holding its first zero byte; the copy goes.
    writeFile(dir / "in.bin", csv + std::string(size_t{3} << 20, '\0'));
    const RunOutput binary = runSplitRun(args, dir / "in.bin");
    EXPECT_EQ(binary.status, 2);
    EXPECT_NE(binary.err.find("--data - (standard input): line 402 holds a zero byte"), std::string::npos) << binary.err;
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST(MemoryLimit, ColumnOfMoreDistinctTextsThanCategoriesListsNoneLoadedOrStreamed)
{
    // An unused column with a text per record, or with texts too long to list: profiling keeps only the first
    // of them, and the data model (so the containers' root documents) lists none of them whether the file is
    // loaded or read pass by pass.
    const struct {
        int records;
        std::size_t textBytes;
    } cases[] = {{10050, 0}, {24, 60000}, {40, 80000}};   // 10,050 short texts; 1.4 MB; 3.2 MB, past what
                                                         // profiling keeps under the limit
    for (const auto& c : cases) {
        SCOPED_TRACE(c.records);
        std::string csv = "g,x,y,note\n";
        for (int i = 0; i < c.records; ++i)
            csv += std::string(i < c.records / 2 ? "a" : "b") + "," + std::to_string(i % 17) + "," +
                   std::to_string(i % 23) + ",note-" + std::to_string(i) + std::string(c.textBytes, 'z') + "\n";
        const fs::path dir = freshDir("memory_limit_texts", {{"in.csv", csv}});
        std::vector<std::string> args = {"--data", (dir / "in.csv").string(), "--split", "g", "--target", "y",
                                         "--inputs", "x"};
        const BuildOutcome loaded = buildOutcome(dir / "loaded", args);
        args.insert(args.end(), {"--memory-limit", "64K"});
        EXPECT_TRUE(buildOutcome(dir / "streamed", args) == loaded);
        const std::string root = readFile(exportedFiles(dir / "streamed") / "PMML" / "rootPMML.xml");
        EXPECT_NE(root.find("name=\"note\""), std::string::npos);
        EXPECT_EQ(root.find("note-1"), std::string::npos);
    }
}

TEST(MemoryLimit, SizesReadWithBinaryUnits)
{
    const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
        {"256M", std::uint64_t{256} << 20}, {"8G", std::uint64_t{8} << 30}, {"1.5K", 1536}, {"4096", 4096},
        {"12KiB", 12288}, {"2gb", std::uint64_t{2} << 30}, {"16B", 16}, {"", std::nullopt}, {"M", std::nullopt},
        {"-1G", std::nullopt}, {"5Q", std::nullopt}, {"1.2.3M", std::nullopt}};
    for (const auto& [text, bytes] : cases) EXPECT_EQ(splitrun::parseByteSize(text), bytes) << text;
}

}  // namespace

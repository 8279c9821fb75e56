// --memory-limit: a grouped file larger than the limit is read pass by pass
// and gives exactly what loading it gives; input that would need sorting
// beyond the limit is refused with a way out.
#include <gtest/gtest.h>

#include "cli_harness.h"
#include "options.h"

using namespace clitest;

namespace {

// Grouped records: region (one group's region missing), a category input
// with quoted and missing values, x, and a linear y and a two-valued flag.
std::string groupedCsv()
{
    std::string text = "region,kind,x,y,flag\n";
    const char* regions[] = {"", "East", "\"North, upper\"", "South", "West"};
    const char* kinds[] = {"a", "\"b\"\"q\"", "c", ""};
    for (int g = 0; g < 5; ++g)
        for (int i = 0; i < 40 + 7 * g; ++i)
            text += std::string(regions[g]) + "," + kinds[(i * 7 + g) % 4] + "," + std::to_string(i % 13) + "." +
                    std::to_string(i % 10) + "," + std::to_string(3.0 * g + 0.5 * i + (i % 3) * 0.25) + "," +
                    (((i * 5 + g) % 7) < 3 ? "yes" : "no") + "\n";
    return text;
}

// The build's standard output and files, with the output directory's name
// taken out.
std::pair<std::string, std::map<std::string, std::string>> build(const fs::path& dir, const std::string& out,
                                                                  std::vector<std::string> extra)
{
    std::vector<std::string> args = {"build", "--data", (dir / "in.csv").string(), "--split", "region",
                                     "--threads", "2", "--presorted", "--out", (dir / out).string()};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunOutput run = runSplitRun(args);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::string text = run.out;
    for (std::size_t at; (at = text.find((dir / out).string())) != std::string::npos;)
        text.replace(at, (dir / out).string().size(), "OUT");
    return {text, treeContents(dir / out)};
}

TEST(MemoryLimit, GroupedFileReadPassByPassGivesTheLoadedRunsOutput)
{
    const fs::path dir = freshDir("memory_limit_same");
    writeFile(dir / "in.csv", groupedCsv());
    const std::vector<std::vector<std::string>> runs = {
        {"--target", "y", "--inputs", "kind,x"},
        {"--target", "flag", "--model", "logistic", "--inputs", "kind,x", "--reference", "kind=c"},
    };
    for (const auto& run : runs) {
        std::vector<std::string> limited = run;
        limited.insert(limited.end(), {"--memory-limit", "1K"});
        const auto loaded = build(dir, "loaded", run);
        const auto streamed = build(dir, "streamed", limited);
        EXPECT_EQ(streamed.first, loaded.first) << run[1];
        EXPECT_TRUE(streamed.second == loaded.second) << run[1];
        fs::remove_all(dir / "loaded");
        fs::remove_all(dir / "streamed");
    }
}

TEST(MemoryLimit, InputThatNeedsSortingOrIsNotGroupedIsRefused)
{
    const fs::path dir = freshDir("memory_limit_refused");
    writeFile(dir / "in.csv", "g,x,y\na,1,2\nb,2,3\na,3,5\n");
    const std::vector<std::string> base = {"build", "--data", (dir / "in.csv").string(), "--split", "g",
                                           "--target", "y", "--memory-limit", "16B", "--out", (dir / "out").string()};
    const RunOutput unsorted = runSplitRun(base);
    EXPECT_EQ(unsorted.status, 2);
    for (const char* part : {"does not fit in --memory-limit", "--presorted"})
        EXPECT_NE(unsorted.err.find(part), std::string::npos) << part << "\n" << unsorted.err;
    std::vector<std::string> presorted = base;
    presorted.push_back("--presorted");
    const RunOutput ungrouped = runSplitRun(presorted);
    EXPECT_EQ(ungrouped.status, 2);
    for (const char* part : {"g=a", "first appears at line 2", "reappears at line 4"})
        EXPECT_NE(ungrouped.err.find(part), std::string::npos) << part << "\n" << ungrouped.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(MemoryLimit, SizesReadWithBinaryUnits)
{
    const struct {
        const char* text;
        std::optional<std::uint64_t> bytes;
    } cases[] = {
        {"256M", std::uint64_t{256} << 20}, {"8G", std::uint64_t{8} << 30}, {"1.5K", 1536},
        {"4096", 4096},  {"12KiB", 12288}, {"2gb", std::uint64_t{2} << 30}, {"16B", 16},
        {"", std::nullopt}, {"M", std::nullopt}, {"-1G", std::nullopt}, {"5Q", std::nullopt},
        {"1.2.3M", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(splitrun::parseByteSize(c.text), c.bytes) << c.text;
}

}  // namespace

// The progress bar draws a new thousandth of the work only, blanks what a longer line left, and
// clears its whole line at the end; disabled, or with nothing to do, it writes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli_harness.h"
#include "progress_bar.h"

namespace {

// What the calls of `draw` wrote to the bar's stream.
template <typename Draw>
std::string drawn(bool enabled, Draw draw)
{
    std::FILE* file = std::tmpfile();
    {
        splitrun::ProgressBar bar(file, enabled);
        draw(bar);
    }
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}

TEST(ProgressBar, DrawsEachThousandthOnceAndClearsItsLongestLine)
{
    const std::string empty(30, '-'), full(30, '#'), one = "[" + empty + "] 1/3000 groups";
    const std::string records = "[" + full + "] 123456789/123456789 records grouped";
    const std::string groups = "[" + std::string(10, '#') + std::string(20, '-') + "] 1000/3000 groups";
    EXPECT_EQ(drawn(true, [](auto& bar) {
                  bar.update(1, 3000);   // thousandth 0
                  bar.update(2, 3000);   // still 0: not drawn again
                  bar.update(3, 3000);   // thousandth 1
              }),
              "\r" + one + "\r[" + empty + "] 3/3000 groups\r" + std::string(one.size(), ' ') + "\r");
    EXPECT_EQ(drawn(true, [](auto& bar) {
                  bar.update(123456789, 123456789, "records grouped");
                  bar.update(1000, 3000);
              }),
              "\r" + records + "\r" + groups + std::string(records.size() - groups.size(), ' ') + "\r" +
                  std::string(records.size(), ' ') + "\r");
    // A bar cleared and used again (a build's second phase) draws from the start.
    const std::string wide = "[" + full + "] 20/20 groups", done = "[" + full + "] 2/2 groups";
    EXPECT_EQ(drawn(true, [](auto& bar) { bar.update(20, 20); bar.finish(); bar.update(2, 2); }),
              "\r" + wide + "\r" + std::string(wide.size(), ' ') + "\r\r" + done + "\r" + std::string(done.size(), ' ') + "\r");
    EXPECT_EQ(drawn(false, [](auto& bar) { bar.update(1, 2); }), "");
    EXPECT_EQ(drawn(true, [](auto& bar) { bar.update(0, 0); }), "");
}

// A file read pass by pass shows its records, then the bar is cleared for the groups, and cleared at the end.
TEST(ProgressBar, AStreamedBuildShowsRecordsThenGroupsWhenAsked)
{
    std::string csv = "g,x,y\n";
    for (int i = 0; i < 2000; ++i) csv += "k" + std::to_string(i / 20) + "," + std::to_string(i % 7) + ",1.5\n";
    const auto dir = clitest::freshDir("progress", {{"in.csv", csv}});
    for (const bool asked : {true, false}) {
        std::vector<std::string> args = {"--split", "g", "--target", "y", "--presorted", "--memory-limit", "8K"};
        if (asked) args.push_back("--progress");
        const std::string err = clitest::runBuild(dir / "in.csv", dir / "out", args).err;
        const std::size_t groups = err.find("] 1/100 groups");
        EXPECT_EQ(err.find("] 2000/2000 records") < groups && groups != std::string::npos, asked) << err;
        const std::size_t cleared = err.find(" \r\r[");   // the records' bar blanked, then the groups' drawn
        EXPECT_EQ(err.rfind(" records") < cleared && cleared < groups, asked) << err;
        EXPECT_EQ(err.ends_with(" \r") && err.find("] 100/100 groups") != std::string::npos, asked) << err;
    }
}

}  // namespace

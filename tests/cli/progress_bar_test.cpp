// The progress bar draws a new thousandth of the work only, blanks what a longer line left, and
// clears its whole line at the end; disabled, or with nothing to do, it writes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

}  // namespace

// A one-line progress bar on standard error while the workers run. It draws
// only when standard error is a terminal, so logs and pipes stay clean,
// unless the user asks for it (--progress).
#ifndef SPLITRUN_PROGRESS_BAR_H
#define SPLITRUN_PROGRESS_BAR_H

#include <cstddef>
#include <cstdio>

namespace splitrun {

class ProgressBar {
public:
    // Draws on `stream` when `enabled`; see forStderr().
    ProgressBar(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}
    // A bar on standard error, enabled when it is a terminal or `always`.
    static ProgressBar forStderr(bool always);
    ~ProgressBar() { finish(); }

    // Redraws the bar for `done` of `total` groups (or other `unit`s) when
    // what it shows changes: at most a thousand times per run, whatever the
    // number of groups. Callers serialise calls.
    void update(std::size_t done, std::size_t total, const char* unit = "groups");
    // Clears the bar's line once the work is over.
    void finish();

private:
    std::FILE* stream_;
    bool enabled_;
    std::size_t drawnWidth_ = 0;  // characters of the longest line drawn; 0: none drawn
    std::size_t shownStep_ = 0;  // the thousandth of the work last drawn, plus 1
};

}  // namespace splitrun

#endif

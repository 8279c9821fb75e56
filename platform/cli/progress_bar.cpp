#include "progress_bar.h"

#include <algorithm>
#include <string>

#include <unistd.h>

namespace splitrun {

ProgressBar ProgressBar::forStderr(bool always)
{
    return ProgressBar(stderr, always || isatty(fileno(stderr)) != 0);
}

void ProgressBar::update(std::size_t done, std::size_t total, const char* unit)
{
    if (!enabled_ || total == 0) return;
    // Only a new thousandth of the work (or the end) is drawn.
    const std::size_t step = (done >= total ? 1000 : done * 1000 / total) + 1;
    if (step == shownStep_) return;
    shownStep_ = step;
    constexpr std::size_t width = 30;
    const std::size_t filled = done >= total ? width : done * width / total;
    std::string line = "[" + std::string(filled, '#') + std::string(width - filled, '-') + "] " +
                       std::to_string(done) + "/" + std::to_string(total) + " " + unit;
    // A line shorter than one drawn before (another unit) blanks the rest.
    const std::size_t shown = line.size();
    if (shown < drawnWidth_) line.append(drawnWidth_ - shown, ' ');
    drawnWidth_ = std::max(drawnWidth_, shown);
    std::fprintf(stream_, "\r%s", line.c_str());
    std::fflush(stream_);
}

void ProgressBar::finish()
{
    if (drawnWidth_ == 0) return;
    std::fprintf(stream_, "\r%s\r", std::string(drawnWidth_, ' ').c_str());
    std::fflush(stream_);
    drawnWidth_ = 0;
    shownStep_ = 0;
}

}  // namespace splitrun

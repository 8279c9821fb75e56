#include "progress_bar.h"

#include <string>

#include <unistd.h>

namespace splitrun {

ProgressBar ProgressBar::forStderr()
{
    return ProgressBar(stderr, isatty(fileno(stderr)) != 0);
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
    const std::string bar = std::string(filled, '#') + std::string(width - filled, '-');
    std::fprintf(stream_, "\r[%s] %zu/%zu %s", bar.c_str(), done, total, unit);
    std::fflush(stream_);
    drawn_ = true;
}

void ProgressBar::finish()
{
    if (!drawn_) return;
    std::fprintf(stream_, "\r%*s\r", 60, "");
    std::fflush(stream_);
    drawn_ = false;
    shownStep_ = 0;
}

}  // namespace splitrun

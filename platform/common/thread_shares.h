// Work split into shares that run at once: the passes over a large loaded
// table that are independent per column (summaries, key codes) take one
// share per thread instead of running one after another on one thread.
#ifndef SPLITRUN_THREAD_SHARES_H
#define SPLITRUN_THREAD_SHARES_H

#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace splitrun {

// Below this many rows a pass over a table's rows runs on one thread: the
// threads would cost more to start than they save.
constexpr std::size_t kRowsForThreads = std::size_t{1} << 16;

// Calls share(k) for k = 0 .. shares - 1: share 0 on this thread, the others
// on threads of their own (a share whose thread cannot be started runs
// here). Returns when all are done, rethrowing the first share's exception.
template <typename Share>
void runShares(std::size_t shares, const Share& share)
{
    std::vector<std::exception_ptr> failures(shares);
    const auto run = [&](std::size_t k) {
        try {
            share(k);
        } catch (...) {
            failures[k] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    std::size_t started = 1;
    for (; started < shares; ++started) {
        try {
            helpers.emplace_back(run, started);
        } catch (const std::system_error&) {
            break;
        }
    }
    for (std::size_t k = started; k < shares; ++k) run(k);
    if (shares > 0) run(0);
    for (std::thread& helper : helpers) helper.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace splitrun

#endif

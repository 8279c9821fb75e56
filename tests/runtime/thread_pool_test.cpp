// The worker pool: failures reach wait(), and a system refusing threads part-way still gets a working pool.
#include <atomic>
#include <cerrno>
#include <memory>
#include <stdexcept>
#include <system_error>

#include <gtest/gtest.h>

#include "refhost/thread_pool.h"

namespace {

TEST(ThreadPool, FirstFailureReachesWaitAndThePoolGoesOn) {
    refhost::ThreadPool pool(3);
    std::atomic<int> done{0};
    for (int i = 0; i < 20; ++i)
        pool.submit([&done, i] { if (i == 7) throw std::runtime_error("job 7 failed"); ++done; });
    EXPECT_THROW(pool.wait(), std::runtime_error);
    EXPECT_EQ(done.load(), 19);   // one failure does not drop the other jobs
    pool.submit([&done] { ++done; });
    EXPECT_NO_THROW(pool.wait());
    EXPECT_EQ(done.load(), 20);
}

// A starter that grants `granted` threads and then refuses, as a process limit would.
refhost::ThreadPool::ThreadStarter refusingAfter(int granted) {
    auto count = std::make_shared<int>(0);
    return [count, granted](std::function<void()> body) {
        if ((*count)++ >= granted) throw std::system_error(EAGAIN, std::generic_category(), "refused");
        return std::thread(std::move(body));
    };
}

TEST(ThreadPool, RunsOnTheThreadsTheSystemGrants) {
    refhost::ThreadPool pool(64, refusingAfter(3));
    EXPECT_EQ(pool.size(), 3u);
    std::atomic<int> done{0};
    for (int i = 0; i < 200; ++i) pool.submit([&done] { ++done; });
    pool.wait();
    EXPECT_EQ(done.load(), 200);

    EXPECT_THROW(refhost::ThreadPool(4, refusingAfter(0)), std::system_error);
}

}  // namespace

// The pool the reference host runs workers on: failures reach wait(), and a
// system that refuses threads part-way still gets a working pool.
#include <sys/resource.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "refhost/thread_pool.h"

namespace {

TEST(ThreadPool, FirstFailureReachesWaitAndThePoolGoesOn)
{
    refhost::ThreadPool pool(3);
    std::atomic<int> done{0};
    for (int i = 0; i < 20; ++i)
        pool.submit([&done, i] {
            if (i == 7) throw std::runtime_error("job 7 failed");
            ++done;
        });
    EXPECT_THROW(
        {
            try {
                pool.wait();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "job 7 failed");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_EQ(done.load(), 19);   // one failure does not drop the other jobs
    pool.submit([&done] { ++done; });
    EXPECT_NO_THROW(pool.wait());
    EXPECT_EQ(done.load(), 20);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SPLIT_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SPLIT_UNDER_SANITIZER 1
#endif
#endif

#ifndef SPLIT_UNDER_SANITIZER
// The address space this process maps now, from /proc/self/status.
rlim_t mappedBytes()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmSize:") {
            rlim_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

// Leaves room for a few thread stacks (8 MiB each), not for 64, then runs
// jobs on the pool; the exit code says what went wrong.
[[noreturn]] void runPoolInLittleAddressSpace()
{
    const rlimit limit{mappedBytes() + (48u << 20), RLIM_INFINITY};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) std::exit(3);
    refhost::ThreadPool pool(64);
    if (pool.size() == 0 || pool.size() >= 64) std::exit(4);
    std::atomic<int> done{0};
    for (int i = 0; i < 200; ++i) pool.submit([&done] { ++done; });
    pool.wait();
    std::exit(done.load() == 200 ? 0 : 5);
}
#endif

TEST(ThreadPoolDeathTest, RunsOnTheThreadsTheSystemGrants)
{
#ifdef SPLIT_UNDER_SANITIZER
    GTEST_SKIP() << "sanitizers reserve address space far beyond any limit set here";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runPoolInLittleAddressSpace(), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace

// The host's call counter: exact counts from many threads, and rules that
// take effect while threads are counting; a counter that is off neither
// counts nor takes rules.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "refhost/faults.h"

namespace {

bool call(refhost::Faults& faults) {
    int err = 0;
    cf_status status = 0;
    return faults.check("nextRecord", &err, &status);
}

// More threads than counter shards put some on the shared shard, and a
// second round takes the shards the first gave back when its threads ended.
TEST(Faults, CountsEveryCallFromEveryThread) {
    struct Case { int threads, rounds; };
    for (const Case c : {Case{1, 1}, Case{3, 2}, Case{40, 2}}) {
        SCOPED_TRACE(c.threads);
        refhost::Faults faults;
        constexpr int kCalls = 500;
        for (int round = 0; round < c.rounds; ++round) {
            std::vector<std::thread> threads;
            for (int t = 0; t < c.threads; ++t)
                threads.emplace_back([&faults] { for (int i = 0; i < kCalls; ++i) EXPECT_FALSE(call(faults)); });
            for (std::thread& thread : threads) thread.join();
        }
        EXPECT_EQ(faults.calls("nextRecord"), uint64_t(c.threads) * c.rounds * kCalls);
        EXPECT_EQ(faults.refused("nextRecord"), 0u);
    }
}

// A rule added while other threads count refuses exactly the calls it
// covers, also once a recording has come and gone.
TEST(Faults, RuleAddedWhileThreadsCountRefusesItsCalls) {
    for (const bool recordedFirst : {false, true}) {
        SCOPED_TRACE(recordedFirst);
        refhost::Faults faults;
        if (recordedFirst) {  // nested, then both stopped
            for (int i = 0; i < 2; ++i) faults.startRecording();
            for (int i = 0; i < 2; ++i) faults.stopRecording();
        }
        std::atomic<bool> stop{false};
        std::atomic<uint64_t> made{0}, refused{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&] { for (; !stop.load(); ++made) refused += call(faults); });
        while (made.load() < 1000) std::this_thread::yield();
        faults.refuse("nextRecord", 200, CF_FAILED, 0, 3);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (refused.load() < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        stop = true;
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(refused.load(), 3u);
        EXPECT_EQ(faults.refused("nextRecord"), 3u);
        EXPECT_EQ(faults.calls("nextRecord"), made.load());
    }
}

// A production host's counter: every call passes uncounted, and asking for
// a rule, a recording or a log is a mistake the host hears of at once.
TEST(Faults, OffPassesEveryCallAndRefusesRules) {
    refhost::Faults faults(refhost::Faults::Mode::Off);
    EXPECT_FALSE(faults.on());
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(call(faults));
    EXPECT_EQ(faults.calls("nextRecord"), 0u);
    EXPECT_THROW(faults.refuse("nextRecord", 1, CF_FAILED), std::logic_error);
    EXPECT_THROW(faults.raise("nextRecord", 1), std::logic_error);
    EXPECT_THROW(faults.startRecording(), std::logic_error);
    EXPECT_THROW(faults.startLog(), std::logic_error);
    EXPECT_FALSE(call(faults));
}

}  // namespace

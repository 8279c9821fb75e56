// Fault injection: the nth call from now, `times` calls, from any thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "refhost/context.h"
#include "refhost/faults.h"
#include "refhost/host.h"

namespace refhost {
namespace {

TEST(Faults, RefusesTheNthCallFromNowForTimesCalls) {
    struct Case {
        uint64_t before, nth, times;
        std::vector<bool> refused;  // calls after the rule was set
    };
    const Case cases[] = {
        {0, 1, 1, {true, false, false}},
        {0, 2, 1, {false, true, false}},
        {3, 2, 2, {false, true, true, false}},  // counted from the rule, not from the start
        {0, 1, 3, {true, true, true, false}},
    };
    for (const Case& c : cases) {
        Faults faults;
        cf_status status = 0;
        for (uint64_t i = 0; i < c.before; ++i) ASSERT_FALSE(faults.check("lock", nullptr, &status));
        faults.refuse("lock", c.nth, 7, 0, c.times);
        for (size_t i = 0; i < c.refused.size(); ++i) {
            status = 0;
            EXPECT_EQ(c.refused[i], faults.check("lock", nullptr, &status)) << "call " << i;
            EXPECT_EQ(c.refused[i] ? 7u : 0u, status);
        }
        EXPECT_EQ(c.before + c.refused.size(), faults.calls("lock"));
    }
}

TEST(Faults, WritesErrOnlyWhenGivenAndOnlyForTheNamedOperation) {
    Faults faults;
    faults.refuse("unlock", 1, 1, 280013);
    faults.refuse("lock", 1, 1);
    int err = 5;
    cf_status status = 0;
    EXPECT_TRUE(faults.check("lock", &err, &status));
    EXPECT_EQ(5, err);
    EXPECT_FALSE(faults.check("openEntry", &err, &status));
    EXPECT_TRUE(faults.check("unlock", &err, &status));
    EXPECT_EQ(280013, err);
    faults.refuse("lock", 1, 1);
    faults.clear();
    EXPECT_FALSE(faults.check("lock", &err, &status));
    EXPECT_EQ(1u, faults.refused("lock"));
}

TEST(Faults, RecordOperationsConsultTheContextsFaultsFirst) {
    Host host;
    Context context(host);
    host.faults().refuse("createWorker", 2, 9, 42);
    CFContext* c = context.record();
    CFWorker* w = nullptr;
    int err = 0;
    EXPECT_EQ(0u, c->createWorker(c->handle, &w, &err));
    w = nullptr;
    EXPECT_EQ(9u, c->createWorker(c->handle, &w, &err));
    EXPECT_EQ(42, err);
    EXPECT_EQ(nullptr, w);  // a refused call does nothing else
    EXPECT_EQ(1u, context.workers().size());

    // A context with faults of its own does not see the host's.
    auto own = std::make_shared<Faults>();
    Context separate(host, own);
    host.faults().refuse("getThreadServices", 1, 1);
    CFThreadServices* services = nullptr;
    EXPECT_EQ(0u, separate.record()->getThreadServices(separate.record()->handle, &services, &err));
    EXPECT_EQ(1u, own->calls("getThreadServices"));
}

TEST(Faults, FireExactlyTimesAcrossManyThreads) {
    Faults faults;
    faults.refuse("readStream", 100, 1, 0, 50);
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                cf_status status = 0;
                if (faults.check("readStream", nullptr, &status)) ++refused;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(50, refused.load());
    EXPECT_EQ(800u, faults.calls("readStream"));
    EXPECT_EQ(50u, faults.refused("readStream"));
}

}  // namespace
}  // namespace refhost

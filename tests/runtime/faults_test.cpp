// Fault injection (the nth call from now, `times` calls, from any thread) and
// thread services: real locks from many threads, counted.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "refhost/context.h"
#include "refhost/faults.h"
#include "refhost/host.h"

namespace refhost {
namespace {

CFThreadServices* services(Context& context) {
    CFThreadServices* s = nullptr;
    int err = 0;
    EXPECT_EQ(0u, context.record()->getThreadServices(context.record()->handle, &s, &err));
    return s;
}

TEST(Faults, RefusesTheNthCallFromNowForTimesCalls) {
    struct Case {
        uint64_t before, nth, times;
        int err;                    // written to the error slot only when not 0
        std::vector<bool> refused;  // calls after the rule was set
    };
    const Case cases[] = {
        {0, 1, 1, 0, {true, false, false}},
        {0, 2, 1, 280013, {false, true, false}},
        {3, 2, 2, 0, {false, true, true, false}},  // counted from the rule, not from the start
        {0, 1, 3, 42, {true, true, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "before " << c.before << " nth " << c.nth);
        Faults faults;
        cf_status status = 0;
        for (uint64_t i = 0; i < c.before; ++i) ASSERT_FALSE(faults.check("lock", nullptr, &status));
        faults.refuse("lock", c.nth, 7, c.err, c.times);
        for (size_t i = 0; i < c.refused.size(); ++i) {
            int err = 5;
            status = 0;
            EXPECT_FALSE(faults.check("unlock", &err, &status));  // only the named operation
            EXPECT_EQ(c.refused[i], faults.check("lock", &err, &status)) << "call " << i;
            EXPECT_EQ(c.refused[i] ? 7u : 0u, status);
            EXPECT_EQ(c.refused[i] && c.err ? c.err : 5, err);
        }
        EXPECT_EQ(c.before + c.refused.size(), faults.calls("lock"));
        faults.refuse("lock", 1, 1);
        faults.clear();
        EXPECT_FALSE(faults.check("lock", nullptr, &status));
    }
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

    // Refused locks, withdrawn services.
    host.faults().refuse("createLock", 1, 1, 77);
    CFThreadServices* s = services(context);
    EXPECT_EQ(nullptr, s->createLock(s->handle, &err));
    EXPECT_EQ(77, err);
    context.setThreadServices(false);
    CFThreadServices* none = nullptr;
    EXPECT_EQ(CF_FAILED, c->getThreadServices(c->handle, &none, &err));
    EXPECT_EQ(nullptr, none);

}

// The lock serialises the threads' counting, and the refusals fire exactly
// as often as asked however the calls interleave.
TEST(Locks, SerialiseManyThreadsAndCountEveryTakeAndRefusal) {
    Host host;
    Context context(host);
    CFThreadServices* s = services(context);
    int err = 0;
    CFLock* lock = s->createLock(s->handle, &err);
    ASSERT_NE(nullptr, lock);
    host.faults().refuse("lock", 100, 1, 0, 50);
    long counter = 0;  // guarded only by the host lock
    std::atomic<int> refusals{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                int e = 0;
                if (lock->lock(lock->handle, &e) != 0) {
                    ++refusals;
                    continue;
                }
                ++counter;
                ASSERT_EQ(0u, lock->unlock(lock->handle, &e));
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(50, refusals.load());
    EXPECT_EQ(2950, counter);
    EXPECT_EQ(3000u, host.faults().calls("lock"));
    EXPECT_EQ(0u, s->destroyLock(lock, &err));
    const LockStats st = context.lockStats();  // taken, released, held, misuses, destroyed
    EXPECT_EQ((std::vector<uint64_t>{2950, 2950, 0, 0, 1}),
              (std::vector<uint64_t>{st.taken, st.released, st.held, st.misuses, st.destroyed}));
}

}  // namespace
}  // namespace refhost

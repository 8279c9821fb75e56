// Thread services: real locks from many threads, counted, and misuse
// reported instead of hanging.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "refhost/context.h"
#include "refhost/host.h"

namespace refhost {
namespace {

CFThreadServices* services(Context& context) {
    CFThreadServices* s = nullptr;
    int err = 0;
    EXPECT_EQ(0u, context.record()->getThreadServices(context.record()->handle, &s, &err));
    return s;
}

TEST(Locks, SerialiseManyThreadsAndCountEveryTake) {
    Host host;
    Context context(host);
    CFThreadServices* s = services(context);
    int err = 0;
    CFLock* lock = s->createLock(s->handle, &err);
    ASSERT_NE(nullptr, lock);
    long counter = 0;  // guarded only by the host lock
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                int e = 0;
                ASSERT_EQ(0u, lock->lock(lock->handle, &e));
                ++counter;
                ASSERT_EQ(0u, lock->unlock(lock->handle, &e));
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(3000, counter);
    const LockStats stats = context.lockStats();
    EXPECT_EQ(3000u, stats.taken);
    EXPECT_EQ(3000u, stats.released);
    EXPECT_EQ(0u, stats.held);
    EXPECT_EQ(0u, stats.misuses);
    EXPECT_EQ(0u, s->destroyLock(lock, &err));
    EXPECT_EQ(1u, context.lockStats().destroyed);
}

TEST(Locks, MisuseFailsInsteadOfHanging) {
    Host host;
    Context context(host);
    CFThreadServices* s = services(context);
    int err = 0;
    CFLock* lock = s->createLock(s->handle, &err);
    EXPECT_EQ(CF_FAILED, lock->unlock(lock->handle, &err));  // not held
    ASSERT_EQ(0u, lock->lock(lock->handle, &err));
    EXPECT_EQ(CF_FAILED, lock->lock(lock->handle, &err));  // taken twice on one thread
    EXPECT_EQ(1u, context.lockStats().held);
    std::thread other([&] {
        int e = 0;
        EXPECT_EQ(CF_FAILED, lock->unlock(lock->handle, &e));  // not the holder
    });
    other.join();
    ASSERT_EQ(0u, lock->unlock(lock->handle, &err));
    ASSERT_EQ(0u, s->destroyLock(lock, &err));
    EXPECT_EQ(CF_FAILED, lock->lock(lock->handle, &err));
    EXPECT_EQ(CF_FAILED, s->destroyLock(lock, &err));
    EXPECT_EQ(5u, context.lockStats().misuses);
}

TEST(Locks, WithdrawnServicesAndRefusedLocks) {
    Host host;
    Context context(host);
    CFThreadServices* s = services(context);
    int err = 0;
    host.faults().refuse("createLock", 1, 1, 77);
    EXPECT_EQ(nullptr, s->createLock(s->handle, &err));
    EXPECT_EQ(77, err);
    context.setThreadServices(false);
    CFThreadServices* none = nullptr;
    EXPECT_EQ(CF_FAILED, context.record()->getThreadServices(context.record()->handle, &none, &err));
    EXPECT_EQ(nullptr, none);
}

TEST(Locks, FaultCountersStayExactUnderContention) {
    Host host;
    Context context(host);
    CFThreadServices* s = services(context);
    int err = 0;
    CFLock* lock = s->createLock(s->handle, &err);
    host.faults().refuse("lock", 10, 1, 0, 20);
    std::atomic<int> refusals{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                int e = 0;
                if (lock->lock(lock->handle, &e) != 0) {
                    ++refusals;
                    continue;
                }
                lock->unlock(lock->handle, &e);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(20, refusals.load());
    EXPECT_EQ(180u, context.lockStats().taken);
    EXPECT_EQ(200u, host.faults().calls("lock"));
}

}  // namespace
}  // namespace refhost

// platform/runtime/records: part of the reference host library (refhost).
// Owns the host records the module calls: the host, module loading, contexts,
// components, locks, messages, fault injection, and the column storage of
// tables. Its public headers are include/refhost/ (host.h, module.h,
// context.h, component.h, faults.h); it includes only those, the host
// contract headers and its own.
//
// A host lock record: a non-recursive lock that knows its holder, so misuse
// (unlocking a lock the caller does not hold, taking it twice on one thread,
// using it after destroyLock) fails with status 1 instead of hanging.
#ifndef REFHOST_LOCK_OBJECT_H
#define REFHOST_LOCK_OBJECT_H

#include <condition_variable>
#include <mutex>
#include <thread>

#include "cf_records.h"
#include "refhost/faults.h"

namespace refhost {

class Context;

enum LockEvent { LockCreated, LockDestroyed, LockTaken, LockReleased, LockMisused };

class LockObject {
public:
    LockObject(Context& context, Faults& faults);
    CFLock* record() { return &record_; }
    static LockObject* fromRecord(CFLock* record);
    Context& context() { return context_; }

    cf_status lock(int* err);
    cf_status unlock(int* err);
    // False when it was destroyed already.
    bool destroy();

private:
    CFLock record_;
    Context& context_;
    Faults& faults_;
    std::mutex mutex_;
    std::condition_variable free_;
    bool held_ = false;
    bool destroyed_ = false;
    std::thread::id holder_;
};

}  // namespace refhost

#endif

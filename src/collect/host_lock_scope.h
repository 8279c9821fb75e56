// Scoped use of the collect peer's host lock record.
//
// The operations that guard shared state take and release the lock
// explicitly. Most of them act on both statuses: a refused lock ends the
// operation without an unlock. A few steps ignore both statuses and pair
// every lock call with an unlock call, refused or not (TakeIgnoringStatus).
// The scope also makes sure that a lock it holds when the scope is left by
// an exception is given back, so that no later caller waits forever.
#ifndef SPLIT_COLLECT_HOST_LOCK_SCOPE_H
#define SPLIT_COLLECT_HOST_LOCK_SCOPE_H

#include <cstdint>

#include "cf_records.h"
#include "module/host_calls.h"

class HostLockScope {
public:
    // A null record means that no locking takes place.
    explicit HostLockScope(CFLock* lock) : lock_(lock) {}
    ~HostLockScope() {
        if (held_) {
            int ignored = 0;
            split::host::Unlock(lock_, &ignored);
        }
    }
    HostLockScope(const HostLockScope&) = delete;
    HostLockScope& operator=(const HostLockScope&) = delete;

    // Takes the lock: the lock's status, 0 when there is no lock record (1
    // when the record has no lock operation).
    uint32_t Take(int* err) {
        if (lock_ == nullptr) return CF_OK;
        uint32_t status = split::host::Lock(lock_, err);
        held_ = status == CF_OK;
        return status;
    }

    // Takes the lock for a step that ignores the lock's statuses: the step
    // goes on whatever lock returns, and Release (or leaving the scope)
    // calls unlock even when the lock was refused.
    void TakeIgnoringStatus(int* err) {
        if (lock_ == nullptr) return;
        split::host::Lock(lock_, err);
        held_ = true;
    }

    // Gives the lock back when this scope took it: the unlock status, 0 when
    // there is nothing to release. The lock counts as given back whatever
    // the status, since it must not be released twice.
    uint32_t Release(int* err) {
        if (!held_) return CF_OK;
        held_ = false;
        return split::host::Unlock(lock_, err);
    }

private:
    CFLock* lock_;
    bool held_ = false;
};

#endif

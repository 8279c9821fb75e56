// Host locks handed out by a context's thread services.
#include "lock_object.h"

#include "refhost/context.h"

namespace refhost {

namespace {

LockObject* self(void* h) { return static_cast<LockObject*>(h); }
cf_status lockWord(void* h, int* err) { return self(h)->lock(err); }
cf_status unlockWord(void* h, int* err) { return self(h)->unlock(err); }

}  // namespace

LockObject::LockObject(Context& context, Faults& faults) : context_(context), faults_(faults) {
    record_.handle = this;
    record_.lock = &lockWord;
    record_.unlock = &unlockWord;
}

LockObject* LockObject::fromRecord(CFLock* record) {
    if (record == nullptr || record->lock != &lockWord) return nullptr;
    return self(record->handle);
}

cf_status LockObject::lock(int* err) {
    cf_status status = 0;
    if (faults_.check("lock", err, &status)) return status;
    const auto me = std::this_thread::get_id();
    {
        std::unique_lock<std::mutex> guard(mutex_);
        const bool misuse = destroyed_ || (held_ && holder_ == me);
        if (!misuse) {
            free_.wait(guard, [&] { return !held_ || destroyed_; });
        }
        if (misuse || destroyed_) {
            guard.unlock();
            context_.noteLock(LockMisused);
            return CF_FAILED;
        }
        held_ = true;
        holder_ = me;
    }
    context_.noteLock(LockTaken);
    return CF_OK;
}

cf_status LockObject::unlock(int* err) {
    cf_status status = 0;
    if (faults_.check("unlock", err, &status)) return status;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (destroyed_ || !held_ || holder_ != std::this_thread::get_id()) {
            // Fall through to report the misuse outside the lock's mutex.
        } else {
            held_ = false;
            holder_ = std::thread::id();
            free_.notify_one();
            // Count the release before another thread can count its take,
            // so held never goes above the number of locks.
            context_.noteLock(LockReleased);
            return CF_OK;
        }
    }
    context_.noteLock(LockMisused);
    return CF_FAILED;
}

bool LockObject::destroy() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (destroyed_) return false;
    destroyed_ = true;
    free_.notify_all();
    return true;
}

}  // namespace refhost

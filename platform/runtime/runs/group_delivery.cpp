// Ordered hand-on of completed groups.
#include "group_delivery.h"

namespace refhost {

void GroupDelivery::complete(uint64_t groupIndex, size_t item) {
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_.emplace(groupIndex, item);
    advanceLocked(lock);
}

void GroupDelivery::skip(uint64_t groupIndex) {
    std::unique_lock<std::mutex> lock(mutex_);
    skipped_.insert(groupIndex);
    advanceLocked(lock);
}

void GroupDelivery::completeUnordered(size_t item) {
    std::lock_guard<std::mutex> guard(mutex_);
    unordered_.push_back(item);
}

// Called once no group can complete any more: whatever a failed delivery
// left waiting goes too.
void GroupDelivery::finish() {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& [index, item] : waiting_) deliver_(item);
    waiting_.clear();
    for (size_t item : unordered_) deliver_(item);
    unordered_.clear();
}

// One thread delivers at a time, taking the next group under the mutex
// and delivering it without: deliveries never overlap and keep their
// order, and a group that completes meanwhile is found by the delivering
// thread, which looks again under the mutex before it stops.
void GroupDelivery::advanceLocked(std::unique_lock<std::mutex>& lock) {
    if (delivering_) return;
    delivering_ = true;
    struct Done {  // also when a delivery throws
        std::unique_lock<std::mutex>& lock;
        bool& delivering;
        ~Done() {
            if (!lock.owns_lock()) lock.lock();
            delivering = false;
        }
    } done{lock, delivering_};
    for (;;) {
        if (auto it = waiting_.find(next_); it != waiting_.end()) {
            const size_t item = it->second;
            waiting_.erase(it);
            ++next_;
            lock.unlock();
            deliver_(item);
            lock.lock();
        } else if (skipped_.erase(next_) != 0) {
            ++next_;
        } else {
            return;
        }
    }
}

}  // namespace refhost

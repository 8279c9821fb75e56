// Ordered hand-on of completed groups.
#include "group_delivery.h"

namespace refhost {

void GroupDelivery::complete(uint64_t groupIndex, size_t item) {
    std::lock_guard<std::mutex> guard(mutex_);
    waiting_.emplace(groupIndex, item);
    advanceLocked();
}

void GroupDelivery::skip(uint64_t groupIndex) {
    std::lock_guard<std::mutex> guard(mutex_);
    skipped_.insert(groupIndex);
    advanceLocked();
}

void GroupDelivery::completeUnordered(size_t item) {
    std::lock_guard<std::mutex> guard(mutex_);
    unordered_.push_back(item);
}

void GroupDelivery::finish() {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& [index, item] : waiting_) deliver_(item);
    waiting_.clear();
    for (size_t item : unordered_) deliver_(item);
    unordered_.clear();
}

// Delivery runs under the mutex, so deliveries never overlap and keep
// their order.
void GroupDelivery::advanceLocked() {
    for (;;) {
        if (auto it = waiting_.find(next_); it != waiting_.end()) {
            const size_t item = it->second;
            waiting_.erase(it);
            ++next_;
            deliver_(item);
        } else if (skipped_.erase(next_) != 0) {
            ++next_;
        } else {
            return;
        }
    }
}

}  // namespace refhost

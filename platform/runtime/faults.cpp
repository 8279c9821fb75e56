// Fault injection: per-operation call counters and refusal rules.
#include "refhost/faults.h"

namespace refhost {

void Faults::refuse(const std::string& op, uint64_t nth, cf_status status, int err,
                    uint64_t times) {
    if (nth == 0 || times == 0) return;
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = calls_.find(op);
    const uint64_t base = it == calls_.end() ? 0 : it->second;
    rules_.push_back(Rule{op, base + nth, base + nth + times - 1, status, err});
}

void Faults::clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    rules_.clear();
}

uint64_t Faults::calls(const std::string& op) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

uint64_t Faults::refused(const std::string& op) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = refused_.find(op);
    return it == refused_.end() ? 0 : it->second;
}

bool Faults::check(const char* op, int* err, cf_status* status) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = calls_.find(op);
    if (it == calls_.end()) it = calls_.emplace(op, 0).first;
    const uint64_t call = ++it->second;
    for (auto rule = rules_.begin(); rule != rules_.end(); ++rule) {
        if (rule->op != op || call < rule->first || call > rule->last) continue;
        *status = rule->status;
        if (err != nullptr && rule->err != 0) *err = rule->err;
        ++refused_[op];
        if (call == rule->last) rules_.erase(rule);
        return true;
    }
    return false;
}

}  // namespace refhost

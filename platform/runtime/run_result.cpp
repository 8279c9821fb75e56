// Summaries of a run's result.
#include "refhost/run.h"

namespace refhost {

std::optional<StepStatus> RunResult::step(const std::string& name) const {
    for (auto it = steps.rbegin(); it != steps.rend(); ++it)
        if (it->step == name) return *it;
    return std::nullopt;
}

bool RunResult::ok() const {
    for (const auto& s : steps)
        if (s.status != 0) return false;
    if (!taskFailures.empty()) return false;
    for (const auto& group : groups)
        if (group.outcome != 0 || group.collectStatus != 0) return false;
    return true;
}

}  // namespace refhost

#include "kept_to_exit.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace splitrun {

namespace {

std::atomic<bool> keeping{false};
std::mutex keptMutex;
// Never freed, so that what it holds stays reachable to the end.
std::vector<std::shared_ptr<const void>>* const kept = new std::vector<std::shared_ptr<const void>>();

}  // namespace

void keepLetGoObjectsToExit()
{
    keeping.store(true);
}

void letGo(std::shared_ptr<const void> object)
{
    if (!object || !keeping.load()) return;
    std::lock_guard<std::mutex> guard(keptMutex);
    kept->push_back(std::move(object));
}

}  // namespace splitrun

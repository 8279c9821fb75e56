// The split module with one step made to fail, for the command's tests of
// runs whose module misbehaves after groups fitted. It links the real module
// and exports two entry points of its own; the host finds every other entry
// point in the real module through this library's dependencies.
// SPLIT_FAILING_STEP chooses the failure:
//   endExecution  every component's end of execution fails, after it ran;
//   completed     the collect component stores the first group's outputs
//                 and then reports a failure for it.
//   destroy       the first component destroyed reports a failure, after it
//                 was destroyed.
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "module/cf_entry_points.h"

namespace {

bool failing(const char* step)
{
    const char* chosen = std::getenv("SPLIT_FAILING_STEP");
    return chosen != nullptr && std::strcmp(chosen, step) == 0;
}

template <typename F>
F* real(const char* name)
{
    return reinterpret_cast<F*>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

SPLIT_EXPORT uint32_t cf_component_endExecution(void* component, int* err)
{
    const uint32_t status = real<uint32_t(void*, int*)>("cf_component_endExecution")(component, err);
    return failing("endExecution") ? uint32_t{CF_FAILED} : status;
}

SPLIT_EXPORT uint32_t cf_destroy_component(void* component, int* err)
{
    static std::atomic<bool> first{true};
    const uint32_t status = real<uint32_t(void*, int*)>("cf_destroy_component")(component, err);
    return failing("destroy") && first.exchange(false) ? uint32_t{CF_FAILED} : status;
}

SPLIT_EXPORT uint32_t cf_collect_completedWorkerTask(void* component, CFWorker* worker, int* err)
{
    static std::atomic<bool> first{true};
    const uint32_t status =
        real<uint32_t(void*, CFWorker*, int*)>("cf_collect_completedWorkerTask")(component, worker, err);
    return failing("completed") && first.exchange(false) ? uint32_t{CF_FAILED} : status;
}

}

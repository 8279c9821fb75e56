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
//   task          the first task handed out names no split value (its
//                 SplitField elements renamed), as a faulty module's might.
//   truncate      before the first execution begins, every file below
//                 $TMPDIR (the run's temporary files) loses half its bytes:
//                 records written that cannot be read back.
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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

SPLIT_EXPORT uint32_t cf_component_beginExecution(void* component, CFProgress* progress, int* err)
{
    static std::atomic<bool> first{true};
    if (failing("truncate") && first.exchange(false))
        for (const auto& entry : std::filesystem::recursive_directory_iterator(std::getenv("TMPDIR")))
            if (entry.is_regular_file()) std::filesystem::resize_file(entry.path(), entry.file_size() / 2);
    return real<uint32_t(void*, CFProgress*, int*)>("cf_component_beginExecution")(component, progress, err);
}

SPLIT_EXPORT uint32_t cf_destroy_component(void* component, int* err)
{
    static std::atomic<bool> first{true};
    const uint32_t status = real<uint32_t(void*, int*)>("cf_destroy_component")(component, err);
    return failing("destroy") && first.exchange(false) ? uint32_t{CF_FAILED} : status;
}

SPLIT_EXPORT uint32_t cf_distribute_getWorkerTask(void* component, CFWorker* worker, char* first, size_t firstSize,
                                                  size_t* firstNeeded, char* second, size_t secondSize,
                                                  size_t* secondNeeded, int* err)
{
    static std::atomic<bool> once{true};
    using GetTask = uint32_t(void*, CFWorker*, char*, size_t, size_t*, char*, size_t, size_t*, int*);
    const uint32_t status = real<GetTask>("cf_distribute_getWorkerTask")(component, worker, first, firstSize, firstNeeded,
                                                                           second, secondSize, secondNeeded, err);
    if (status == CF_OK && second != nullptr && failing("task") && once.exchange(false))
        for (char* at = std::strstr(second, "<SplitField"); at != nullptr; at = std::strstr(at, "<SplitField")) at[10] = 'x';
    return status;
}

SPLIT_EXPORT uint32_t cf_collect_completedWorkerTask(void* component, CFWorker* worker, int* err)
{
    static std::atomic<bool> first{true};
    const uint32_t status =
        real<uint32_t(void*, CFWorker*, int*)>("cf_collect_completedWorkerTask")(component, worker, err);
    return failing("completed") && first.exchange(false) ? uint32_t{CF_FAILED} : status;
}

}

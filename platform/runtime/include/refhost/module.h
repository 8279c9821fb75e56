// The module as a host sees it: a shared library loaded with dlopen and
// driven only through its exported cf_* entry points.
#ifndef REFHOST_MODULE_H
#define REFHOST_MODULE_H

#include <string>

#include "cf_records.h"

namespace refhost {

class Host;

// Typed pointers to every entry point.
struct EntryPoints {
    cf_status (*cf_initialise)(CFHost* host);
    cf_status (*cf_cleanup)();
    // Exported under its C++ mangled name _Z23cf_getModuleInformationPcmPmPi.
    cf_status (*cf_getModuleInformation)(char* buffer, size_t size, size_t* needed, int* err);
    cf_status (*cf_create_component)(CFContext* context, const char* name, void** component,
                                     int* err);
    cf_status (*cf_destroy_component)(void* component, int* err);
    cf_status (*cf_component_configure)(void* component, int* err);
    cf_status (*cf_component_beginExecution)(void* component, CFProgress* progress, int* err);
    cf_status (*cf_component_endExecution)(void* component, int* err);
    cf_status (*cf_component_nextRecord)(void* component, int* err);
    cf_status (*cf_component_getRecordValue)(void* component, size_t field, void** value,
                                             size_t* length, int* err);
    cf_status (*cf_component_getMessages)(void* component, char* buffer, size_t size,
                                          size_t* needed, int* err);
    cf_status (*cf_component_getIteratorRequirements)(void* component, int64* a, int64** b,
                                                      int64* c, int* err);
    cf_status (*cf_component_getExecutionRequirements)(void* component, char* buffer,
                                                       size_t size, size_t* needed);
    cf_status (*cf_distribute_getWorkerTask)(void* component, CFWorker* worker, char* first,
                                             size_t firstSize, size_t* firstNeeded,
                                             char* second, size_t secondSize,
                                             size_t* secondNeeded, int* err);
    cf_status (*cf_distribute_getWorkerTaskNumber)(void* component, int64* count, int* err);
    cf_status (*cf_distribute_getDataModel)(void* component, CFWorker* worker, size_t index,
                                            char* buffer, size_t size, size_t* needed,
                                            int* err);
    cf_status (*cf_distribute_getIterator)(void* component, CFWorker* worker, size_t index,
                                           CFIterator** iterator, int* err);
    cf_status (*cf_distribute_getContainer)(void* component, CFWorker* worker,
                                            const char* name, CFContainerFile** container,
                                            int* err);
    // The module ignores its arguments; the host passes these.
    cf_status (*cf_collect_startedWorkerTask)(void* component, CFWorker* worker, int* err);
    cf_status (*cf_collect_completedWorkerTask)(void* component, CFWorker* worker, int* err);
};

// Loads the module with dlopen(RTLD_NOW | RTLD_LOCAL) and resolves every
// entry point; throws std::runtime_error naming the file or the first
// missing symbol. The library is closed (after cf_cleanup, when the module
// was initialised through initialise()) when the Module is destroyed.
class Module {
public:
    explicit Module(const std::string& path = defaultModulePath());
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const std::string& path() const { return path_; }
    const EntryPoints& api() const { return api_; }

    // cf_initialise with the host's record.
    cf_status initialise(Host& host);
    // The module information document (buffer protocol handled); the
    // status is stored in *status when given.
    std::string moduleInformation(cf_status* status = nullptr) const;
    // The execution requirements document (buffer protocol handled).
    std::string executionRequirements(cf_status* status = nullptr) const;

    // Names of every entry point symbol, in EntryPoints order.
    static const char* const* symbolNames(size_t* count);

    // The module file to load: the environment variable SPLIT_MODULE when
    // set; else libsplit.so in ../lib beside the running executable (the
    // install layout) when it exists; else the build tree's libsplit.so.
    static std::string defaultModulePath();

private:
    std::string path_;
    void* library_ = nullptr;
    EntryPoints api_{};
    bool initialised_ = false;
};

}  // namespace refhost

#endif

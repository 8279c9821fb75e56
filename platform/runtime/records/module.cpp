// Loading the module and resolving its entry points.
#include "refhost/module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "refhost/host.h"

#ifndef SPLIT_BUILD_MODULE_PATH
#define SPLIT_BUILD_MODULE_PATH "libsplit.so"
#endif

namespace refhost {

namespace {

constexpr const char* kSymbols[] = {
    "cf_initialise",
    "cf_cleanup",
    "_Z23cf_getModuleInformationPcmPmPi",
    "cf_create_component",
    "cf_destroy_component",
    "cf_component_configure",
    "cf_component_beginExecution",
    "cf_component_endExecution",
    "cf_component_nextRecord",
    "cf_component_getRecordValue",
    "cf_component_getMessages",
    "cf_component_getIteratorRequirements",
    "cf_component_getExecutionRequirements",
    "cf_distribute_getWorkerTask",
    "cf_distribute_getWorkerTaskNumber",
    "cf_distribute_getDataModel",
    "cf_distribute_getIterator",
    "cf_distribute_getContainer",
    "cf_collect_startedWorkerTask",
    "cf_collect_completedWorkerTask",
};

template <typename F>
void resolve(void* library, const char* symbol, F*& slot, const std::string& path) {
    dlerror();
    void* address = dlsym(library, symbol);
    if (address == nullptr) {
        throw std::runtime_error("module " + path + " lacks the entry point " + symbol);
    }
    slot = reinterpret_cast<F*>(address);
}

std::string executableDirectory() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

std::string thisLibraryDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&executableDirectory), &info) == 0 ||
        info.dli_fname == nullptr)
        return std::string();
    return std::filesystem::path(info.dli_fname).parent_path().string();
}

bool isFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// Fetches a module document by the buffer protocol: first asks for the
// size, then delivers into a buffer of that size.
template <typename Call>
std::string fetchText(Call call, cf_status* status) {
    size_t needed = 0;
    cf_status s = call(nullptr, 0, &needed);
    std::string text;
    if (s == CF_BUFFER_TOO_SMALL && needed > 0) {
        std::vector<char> buffer(needed);
        s = call(buffer.data(), buffer.size(), &needed);
        if (s == 0) text.assign(buffer.data());
    }
    if (status != nullptr) *status = s;
    return text;
}

}  // namespace

Module::Module(const std::string& path) : path_(path) {
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* why = dlerror();
        throw std::runtime_error("cannot load module " + path + ": " + (why ? why : "unknown error"));
    }
    try {
        const char* const* s = kSymbols;
        resolve(library_, *s++, api_.cf_initialise, path_);
        resolve(library_, *s++, api_.cf_cleanup, path_);
        resolve(library_, *s++, api_.cf_getModuleInformation, path_);
        resolve(library_, *s++, api_.cf_create_component, path_);
        resolve(library_, *s++, api_.cf_destroy_component, path_);
        resolve(library_, *s++, api_.cf_component_configure, path_);
        resolve(library_, *s++, api_.cf_component_beginExecution, path_);
        resolve(library_, *s++, api_.cf_component_endExecution, path_);
        resolve(library_, *s++, api_.cf_component_nextRecord, path_);
        resolve(library_, *s++, api_.cf_component_getRecordValue, path_);
        resolve(library_, *s++, api_.cf_component_getMessages, path_);
        resolve(library_, *s++, api_.cf_component_getIteratorRequirements, path_);
        resolve(library_, *s++, api_.cf_component_getExecutionRequirements, path_);
        resolve(library_, *s++, api_.cf_distribute_getWorkerTask, path_);
        resolve(library_, *s++, api_.cf_distribute_getWorkerTaskNumber, path_);
        resolve(library_, *s++, api_.cf_distribute_getDataModel, path_);
        resolve(library_, *s++, api_.cf_distribute_getIterator, path_);
        resolve(library_, *s++, api_.cf_distribute_getContainer, path_);
        resolve(library_, *s++, api_.cf_collect_startedWorkerTask, path_);
        resolve(library_, *s++, api_.cf_collect_completedWorkerTask, path_);
    } catch (...) {
        dlclose(library_);
        throw;
    }
}

Module::~Module() {
    if (initialised_) api_.cf_cleanup();
    dlclose(library_);
}

cf_status Module::initialise(Host& host) {
    const cf_status status = api_.cf_initialise(host.record());
    if (status == 0) initialised_ = true;
    return status;
}

std::string Module::moduleInformation(cf_status* status) const {
    return fetchText(
        [this](char* buffer, size_t size, size_t* needed) {
            int err = 0;
            return api_.cf_getModuleInformation(buffer, size, needed, &err);
        },
        status);
}

std::string Module::executionRequirements(cf_status* status) const {
    return fetchText(
        [this](char* buffer, size_t size, size_t* needed) {
            return api_.cf_component_getExecutionRequirements(nullptr, buffer, size, needed);
        },
        status);
}

const char* const* Module::symbolNames(size_t* count) {
    *count = sizeof kSymbols / sizeof kSymbols[0];
    return kSymbols;
}

std::string Module::defaultModulePath() {
    if (const char* fromEnvironment = std::getenv("SPLIT_MODULE");
        fromEnvironment != nullptr && *fromEnvironment != '\0')
        return fromEnvironment;
    namespace fs = std::filesystem;
    if (const std::string exe = executableDirectory(); !exe.empty()) {
        const fs::path installed = fs::path(exe) / ".." / "lib" / "libsplit.so";
        if (isFile(installed)) return installed.lexically_normal().string();
    }
    // Installed beside this library (whatever the library directory is
    // called on this system).
    if (const std::string here = thisLibraryDirectory(); !here.empty()) {
        const fs::path beside = fs::path(here) / "libsplit.so";
        if (isFile(beside)) return beside.string();
    }
    return SPLIT_BUILD_MODULE_PATH;
}

}  // namespace refhost

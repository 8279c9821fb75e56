// Loading the built module and resolving every entry point.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>

#include "refhost/host.h"
#include "refhost/module.h"

namespace refhost {
namespace {

TEST(Module, ResolvesEveryEntryPointOfTheBuiltModule) {
    Module module(SPLIT_MODULE_PATH);
    size_t count = 0;
    const char* const* names = Module::symbolNames(&count);
    ASSERT_EQ(sizeof(EntryPoints) / sizeof(void*), count);
    const auto* slots = reinterpret_cast<void* const*>(&module.api());
    void* library = dlopen(SPLIT_MODULE_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    ASSERT_NE(nullptr, library);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_NE(nullptr, slots[i]) << names[i];
        EXPECT_EQ(dlsym(library, names[i]), slots[i]) << names[i];
    }
    dlclose(library);
    EXPECT_STREQ("_Z23cf_getModuleInformationPcmPmPi", names[2]);
}

TEST(Module, AnswersThroughTheBufferProtocolOnceInitialised) {
    Host host;
    Module module(SPLIT_MODULE_PATH);
    ASSERT_EQ(0u, module.initialise(host));
    cf_status status = 99;
    const std::string information = module.moduleInformation(&status);
    EXPECT_EQ(0u, status);
    EXPECT_NE(std::string::npos, information.find("ModuleInformation"));
    const std::string requirements = module.executionRequirements(&status);
    EXPECT_EQ(0u, status);
    EXPECT_NE(std::string::npos, requirements.find("Execution"));
}

TEST(Module, NamesTheFileOrTheMissingSymbol) {
    try {
        Module missing("/nonexistent/libsplit.so");
        FAIL() << "loaded a missing file";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("/nonexistent/libsplit.so"));
    }
    // Any shared library without the entry points: the C library.
    try {
        Module wrong("libc.so.6");
        FAIL() << "accepted a library without entry points";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("cf_initialise"));
    }
}

TEST(Module, DefaultPathHonoursTheEnvironment) {
    ::setenv("SPLIT_MODULE", "/somewhere/libsplit.so", 1);
    EXPECT_EQ("/somewhere/libsplit.so", Module::defaultModulePath());
    ::unsetenv("SPLIT_MODULE");
    const std::string path = Module::defaultModulePath();
    EXPECT_TRUE(std::ifstream(path).good()) << path;
}

}  // namespace
}  // namespace refhost

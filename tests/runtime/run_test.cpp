// Loading a module: a failure names the file or the missing entry point.
#include <gtest/gtest.h>

#include "refhost/module.h"

namespace refhost {
namespace {

TEST(Module, NamesTheFileOrTheMissingSymbol) {
    const std::pair<const char*, const char*> cases[] = {
        {"/nonexistent/libsplit.so", "/nonexistent/libsplit.so"},
        {"libc.so.6", "cf_initialise"},  // a library without the entry points
    };
    for (const auto& [path, named] : cases) {
        try {
            Module module(path);
            ADD_FAILURE() << "loaded " << path;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find(named)) << error.what();
        }
    }
}

}  // namespace
}  // namespace refhost

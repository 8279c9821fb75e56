// The two documents the module writes without a component, and the buffer
// protocol that delivers them.
#include <gtest/gtest.h>

#include <functional>

#include "cf_cpp_helper.h"
#include "refhost/host.h"
#include "refhost/module.h"

namespace {

using namespace CfCppHelperV1;

class Documents : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(module.initialise(host), 0u); }
    XMLDocument Parse(const std::string& text) { return HostHelper(host.record()).createFromContents(text); }

    refhost::Host host;
    refhost::Module module{SPLIT_MODULE_PATH};
};

TEST_F(Documents, FollowTheBufferProtocol) {
    using Deliver = std::function<cf_status(char*, size_t, size_t*)>;
    const Deliver documents[] = {
        [&](char* b, size_t s, size_t* n) {
            int err = 31;
            cf_status status = module.api().cf_getModuleInformation(b, s, n, &err);
            EXPECT_EQ(err, 31);
            return status;
        },
        [&](char* b, size_t s, size_t* n) {
            return module.api().cf_component_getExecutionRequirements(nullptr, b, s, n);
        },
    };
    for (const Deliver& deliver : documents) {
        size_t needed = 0, again = 0;
        EXPECT_EQ(deliver(nullptr, 0, &needed), 13u);
        ASSERT_GT(needed, 1u);
        std::string small(needed - 1, '#');
        EXPECT_EQ(deliver(small.data(), small.size(), &again), 13u);
        EXPECT_EQ(again, needed);
        EXPECT_EQ(small, std::string(needed - 1, '#'));  // untouched
        std::string exact(needed + 1, '#');
        EXPECT_EQ(deliver(exact.data(), needed, &again), 0u);
        EXPECT_EQ(exact.find('\0'), needed - 1);
        EXPECT_EQ(exact.back(), '#');  // nothing beyond the terminator
    }
}

// Both documents, re-read and written out by the XML helper; the module
// information is byte-identical on every call.
TEST_F(Documents, ModuleInformationNamesTheModuleAndRequirementsAreEmpty) {
    const std::string information = module.moduleInformation();
    EXPECT_EQ(module.moduleInformation(), information);
    const std::pair<std::string, std::string> documents[] = {
        {information, "<ModuleInformation>\n  <Module name=\"split\" provider=\"morvi\" version=\"1.0.0.0\" "
                      "copyright=\"Copyright (c) 2026 morvi. All rights reserved.\" />\n</ModuleInformation>\n"},
        {module.executionRequirements(), "<" + std::string(XMLElements::Execution) + " />\n"},
    };
    for (const auto& [text, expected] : documents) {
        XMLDocument document = Parse(text);
        std::string written;
        document.doc2string(written);
        EXPECT_EQ(written, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + expected);
        document.dispose();
    }
}

}  // namespace

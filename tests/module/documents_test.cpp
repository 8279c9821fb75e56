// The two documents the module writes without a component.
#include <gtest/gtest.h>

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

// Both documents, re-read and written out by the XML helper; module information is identical each call.
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

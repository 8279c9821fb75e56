// The two documents the module writes without a component, and the buffer
// protocol they are delivered by.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cf_cpp_helper.h"
#include "refhost/host.h"
#include "refhost/module.h"

namespace {

using Deliver = std::function<cf_status(const refhost::EntryPoints&, char*, size_t, size_t*)>;

struct DocumentCase {
    const char* name;
    Deliver deliver;
};

std::vector<DocumentCase> DocumentCases() {
    return {
        {"ModuleInformation",
         [](const refhost::EntryPoints& api, char* buffer, size_t size, size_t* needed) {
             int err = 31;
             cf_status status = api.cf_getModuleInformation(buffer, size, needed, &err);
             EXPECT_EQ(err, 31);  // the error slot is not used
             return status;
         }},
        {"ExecutionRequirements",
         [](const refhost::EntryPoints& api, char* buffer, size_t size, size_t* needed) {
             return api.cf_component_getExecutionRequirements(nullptr, buffer, size, needed);
         }},
    };
}

class Documents : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(module.initialise(host), 0u); }

    // The element tree of a delivered text.
    CfCppHelperV1::XMLDocument Parse(const std::string& text) {
        CfCppHelperV1::HostHelper helper(host.record());
        return helper.createFromContents(text);
    }

    refhost::Host host;
    refhost::Module module{SPLIT_MODULE_PATH};
};

TEST_F(Documents, FollowTheBufferProtocol) {
    for (const DocumentCase& c : DocumentCases()) {
        size_t needed = 0;
        EXPECT_EQ(c.deliver(module.api(), nullptr, 0, &needed), 13u) << c.name;
        ASSERT_GT(needed, 1u) << c.name;

        std::string small(needed - 1, '#');
        size_t again = 0;
        EXPECT_EQ(c.deliver(module.api(), small.data(), small.size(), &again), 13u) << c.name;
        EXPECT_EQ(again, needed) << c.name;
        EXPECT_EQ(small, std::string(needed - 1, '#')) << c.name;  // untouched

        std::string exact(needed, '#');
        EXPECT_EQ(c.deliver(module.api(), exact.data(), exact.size(), &again), 0u) << c.name;
        EXPECT_EQ(again, needed) << c.name;
        EXPECT_EQ(exact.back(), '\0') << c.name;
        EXPECT_EQ(exact.find('\0'), needed - 1) << c.name;

        std::string larger(needed + 10, '#');
        EXPECT_EQ(c.deliver(module.api(), larger.data(), larger.size(), &again), 0u) << c.name;
        EXPECT_EQ(std::string(larger.c_str()), std::string(exact.c_str())) << c.name;
        EXPECT_EQ(larger.back(), '#') << c.name;  // nothing beyond the terminator
    }
}

TEST_F(Documents, ModuleInformationNamesTheModule) {
    cf_status status = 99;
    const std::string text = module.moduleInformation(&status);
    ASSERT_EQ(status, 0u);
    EXPECT_EQ(module.moduleInformation(), text);  // byte-identical every time

    CfCppHelperV1::XMLDocument doc = Parse(text);
    EXPECT_EQ(doc.getName(), "ModuleInformation");
    EXPECT_TRUE(doc.getAttributeNames().empty());
    CfCppHelperV1::XMLElementIterator children = doc.getElementsDirect("");
    ASSERT_EQ(children.count(), 1u);
    CfCppHelperV1::XMLElement info = children.next();
    EXPECT_EQ(info.getName(), "Module");
    EXPECT_EQ(info.getAttributeNames(),
              (std::vector<std::string>{"name", "provider", "version", "copyright"}));
    EXPECT_EQ(info.getAttribute("name"), "split");
    EXPECT_EQ(info.getAttribute("provider"), "morvi");
    EXPECT_EQ(info.getAttribute("version"), "1.0.0.0");
    EXPECT_EQ(info.getAttribute("copyright"), "Copyright (c) 2026 morvi. All rights reserved.");
    EXPECT_EQ(info.getElementsDirect("").count(), 0u);
    EXPECT_EQ(info.getText(), "");
    doc.dispose();
}

TEST_F(Documents, ExecutionRequirementsAreAnEmptyExecutionElement) {
    cf_status status = 99;
    CfCppHelperV1::XMLDocument doc = Parse(module.executionRequirements(&status));
    ASSERT_EQ(status, 0u);
    EXPECT_EQ(doc.getName(), CfCppHelperV1::XMLElements::Execution);
    EXPECT_TRUE(doc.getAttributeNames().empty());
    EXPECT_EQ(doc.getElementsDirect("").count(), 0u);
    doc.dispose();
}

}  // namespace

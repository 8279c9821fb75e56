#include <memory>
#include <string>

#include "cf_cpp_helper.h"
#include "module/buffer_protocol.h"
#include "module/module_documents.h"
#include "module/module_host.h"

namespace split {
namespace {

constexpr const char* kModuleName = "split";
constexpr const char* kProvider = "morvi";
constexpr const char* kVersion = "1.0.0.0";
constexpr const char* kCopyright = "Copyright (c) 2026 morvi. All rights reserved.";

}  // namespace

uint32_t WriteModuleInformation(char* buffer, size_t size, size_t* needed) {
    using namespace CfCppHelperV1;
    std::string text;
    try {
        std::unique_ptr<HostHelper> helper(HostHelper::create(moduleHost));
        if (!helper) return CF_FAILED;
        XMLDocument doc = helper->createNew("ModuleInformation");
        try {
            XMLElement module = doc.addElement("Module");
            // Attribute order is part of the document's contract.
            module.addAttribute("name", kModuleName);
            module.addAttribute("provider", kProvider);
            module.addAttribute("version", kVersion);
            module.addAttribute("copyright", kCopyright);
            module.doc2string(text);
        } catch (...) {
            doc.dispose();
            throw;
        }
        doc.dispose();
    } catch (...) {
        return CF_FAILED;
    }
    return DeliverText(text, buffer, size, needed);
}

}  // namespace split

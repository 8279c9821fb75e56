#include <memory>
#include <string>

#include "cf_cpp_helper.h"
#include "module/buffer_protocol.h"
#include "module/module_documents.h"
#include "module/module_host.h"

namespace split {

uint32_t WriteExecutionRequirements(char* buffer, size_t size, size_t* needed) {
    using namespace CfCppHelperV1;
    std::string text;
    try {
        std::unique_ptr<HostHelper> helper(HostHelper::create(moduleHost));
        if (!helper) return CF_FAILED;
        // The module asks nothing special of an execution: the root alone.
        XMLDocument doc = helper->createNew(XMLElements::Execution);
        try {
            doc.doc2string(text);
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

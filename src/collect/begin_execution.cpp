// Begin execution of the collect peer: a fresh combined StatXML document,
// the containers of a previous execution closed, and the input data model
// read and parsed.
#include <cstring>
#include <string>

#include "collect/no_throw.h"
#include "collect/split_collect_peer.h"
#include "module/host_calls.h"

using CfCppHelperV1::BufferHelper;
using CfCppHelperV1::XMLDocument;

namespace {
const char* const kExtensionNamespace = "http://www.morvi.org/statxml/ext";
const char* const kSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";
}  // namespace

uint32_t SplitCollectPeer::BeginExecution(CFIterator* /*input*/, CFProgress* progressHandle,
                                          int* err) {
    return StatusWithoutThrow([&]() -> uint32_t {
        if (progressHandle == nullptr) return CF_NO_INPUT_OR_PROGRESS;
        progress = progressHandle;
        if (hostHelper == nullptr || context == nullptr) return CF_FAILED;

        if (!combinedStatXML.isEmpty()) combinedStatXML.dispose();
        combinedStatXML = hostHelper->createNew("StatXML");
        const std::string ns = kExtensionNamespace;
        combinedStatXML.addAttribute("xmlns", ns);
        combinedStatXML.addAttribute("xmlns:xsi", kSchemaInstanceNamespace);
        combinedStatXML.addAttribute(CfCppHelperV1::XMLAttributes::Version, "1.0");
        combinedStatXML.addAttribute("xsi:schemaLocation", ns + " " + ns + "/StatXML_7.0.xsd");

        int closeErr = 0;
        CloseOutputContainers(&closeErr);

        BufferHelper buffer(8192);
        size_t needed = 0;
        uint32_t status =
            split::host::GetInputDataModel(context, 0, buffer, buffer.size(), &needed, err);
        if (status == CF_BUFFER_TOO_SMALL) {
            buffer.resize(needed);
            status = split::host::GetInputDataModel(context, 0, buffer, buffer.size(), &needed,
                                                    err);
        }
        if (status != CF_OK) return status;

        XMLDocument parsed;
        try {
            parsed = hostHelper->createFromContents(
            std::string(static_cast<const char*>(buffer), strnlen(buffer, buffer.size())));
        } catch (...) {
            return CF_BAD_XML;
        }
        if (!inputDataModel.isEmpty()) inputDataModel.dispose();
        inputDataModel = parsed;
        return CF_OK;
    });
}

// Closes what a previous execution left open. The PMML container is kept
// open when closing the StatXML container failed.
uint32_t SplitCollectPeer::CloseOutputContainers(int* err) {
    uint32_t status = CF_OK;
    if (statXMLContainer != nullptr) {
        status = split::host::CloseContainer(statXMLContainer, err);
        statXMLContainer = nullptr;
    }
    if (pmmlContainer != nullptr && status == CF_OK) {
        status = split::host::CloseContainer(pmmlContainer, err);
        pmmlContainer = nullptr;
    }
    return status;
}

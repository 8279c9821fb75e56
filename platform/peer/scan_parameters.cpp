// Reading the component's parameter document into the peer's settings.
#include "host_text.h"
#include "qor_peer.h"

namespace QorCF_940 {

uint32_t QorPeer::ScanParameters(int* err) {
    if (!context || !context->getParameters || !hostHelper) return CF_FAILED;
    std::string text;
    uint32_t status = qorpeer::ReadHostText(
        [&](char* buffer, size_t size, size_t* needed) {
            return context->getParameters(context->handle, buffer, size, needed, err);
        },
        text);
    if (status != CF_OK) return status;

    CfCppHelperV1::XMLDocument document;
    try {
        document = hostHelper->createFromContents(text);
    } catch (const CfCppHelperV1::XMLException&) {
        return CF_BAD_XML;
    }
    // A failure inside the peer's own settings code becomes a status too, and
    // the document is freed either way.
    try {
        status = MakeSettings(document, err);
    } catch (...) {
        status = CF_FAILED;
    }
    document.dispose();
    return status;
}

}  // namespace QorCF_940

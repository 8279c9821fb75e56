// Writes the serialised combined StatXML document as the root entry of both
// output containers, "rootStatXML" and then "rootPMML", with the same bytes.
// Runs at end execution, when no intake runs, so it takes no lock.
#include "collect/entry_properties.h"
#include "collect/split_collect_peer.h"
#include "module/host_calls.h"

namespace host = split::host;

namespace {

// One root entry; the stream is closed whenever the entry was opened. The
// first failing call ends the entry with its status.
uint32_t WriteRootEntry(CFContainerFile* container, const std::string& keyText,
                        const char* mimeType, const char* typeId, const std::string& text,
                        int* err) {
    CFEntryKey* key = nullptr;
    uint32_t status = host::CreateKey(container, &key, err);
    if (status != CF_OK) return status;
    status = host::SetKeyText(key, keyText.data(), keyText.size(), err);
    if (status != CF_OK) return status;
    const std::string properties = MakeEntryProperties(mimeType, typeId);
    CFStream* stream = nullptr;
    status = host::OpenEntry(container, key, CF_MODE_WRITE, properties.c_str(), &stream, err);
    if (status != CF_OK) return status;
    status = host::WriteStream(stream, text.data(), text.size(), err);
    int ignored = 0;
    host::CloseStream(stream, &ignored);
    return status;
}

}  // namespace

uint32_t SplitCollectPeer::WriteRootOutputs(int* err) {
    std::string text;
    combinedStatXML.doc2string(text);

    if (statXMLContainer == nullptr) {
        CFContainerFile* opened = nullptr;
        uint32_t status = host::OpenContainer(context, "StatXML", CF_MODE_WRITE, &opened, err);
        if (status != CF_OK) return status;
        statXMLContainer = opened;
    }
    uint32_t status =
        WriteRootEntry(statXMLContainer, "rootStatXML", kStatXMLMimeType, kStatXMLTypeId, text, err);
    if (status != CF_OK) return status;

    if (pmmlContainer == nullptr) {
        CFContainerFile* opened = nullptr;
        // Without a PMML container the root is only written to "StatXML".
        if (host::OpenContainer(context, "PMML", CF_MODE_WRITE, &opened, err) != CF_OK) return CF_OK;
        pmmlContainer = opened;
    }
    return WriteRootEntry(pmmlContainer, "rootPMML", kPMMLMimeType, kPMMLTypeId, text, err);
}

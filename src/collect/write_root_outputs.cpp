// Writes the serialised combined StatXML document as the root entry of both
// output containers, "rootStatXML" and then "rootPMML", with the same bytes.
// Runs at end execution, when no intake runs, so it takes no lock.
#include "collect/entry_properties.h"
#include "collect/split_collect_peer.h"

namespace {

// One root entry; the stream is closed whenever the entry was opened. The
// first failing call ends the entry with its status.
uint32_t WriteRootEntry(CFContainerFile* container, const std::string& keyText,
                        const char* mimeType, const char* typeId, const std::string& text,
                        int* err) {
    CFEntryKey* key = nullptr;
    uint32_t status = container->createKey(container->handle, &key, err);
    if (status != CF_OK) return status;
    status = key->setKeyText(key->handle, 0, keyText.data(), keyText.size(), err);
    if (status != CF_OK) return status;
    const std::string properties = MakeEntryProperties(mimeType, typeId);
    CFStream* stream = nullptr;
    status = container->openEntry(container->handle, key, CF_MODE_WRITE, properties.c_str(),
                                  &stream, err);
    if (status != CF_OK) return status;
    status = stream->writeStream(stream->handle, text.data(), text.size(), err);
    int ignored = 0;
    stream->closeStream(stream->handle, &ignored);
    return status;
}

}  // namespace

uint32_t SplitCollectPeer::WriteRootOutputs(int* err) {
    std::string text;
    combinedStatXML.doc2string(text);

    if (statXMLContainer == nullptr) {
        CFContainerFile* opened = nullptr;
        uint32_t status =
            context->openContainer(context->handle, "StatXML", CF_MODE_WRITE, &opened, err);
        if (status != CF_OK) return status;
        if (opened == nullptr) return CF_FAILED;
        statXMLContainer = opened;
    }
    uint32_t status =
        WriteRootEntry(statXMLContainer, "rootStatXML", kStatXMLMimeType, kStatXMLTypeId, text, err);
    if (status != CF_OK) return status;

    if (pmmlContainer == nullptr) {
        CFContainerFile* opened = nullptr;
        // Without a PMML container the root is only written to "StatXML".
        if (context->openContainer(context->handle, "PMML", CF_MODE_WRITE, &opened, err) != CF_OK ||
            opened == nullptr)
            return CF_OK;
        pmmlContainer = opened;
    }
    return WriteRootEntry(pmmlContainer, "rootPMML", kPMMLMimeType, kPMMLTypeId, text, err);
}

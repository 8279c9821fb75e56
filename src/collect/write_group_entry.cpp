// Writes one group's StatXML or PMML text into the component's output
// container of that kind, keyed by the group's model ID. The container is
// opened on first use and kept open; the whole entry is written under the
// host lock so that entries of concurrent intakes never interleave.
#include "collect/entry_properties.h"
#include "collect/host_lock_scope.h"
#include "collect/split_collect_peer.h"

uint32_t SplitCollectPeer::WriteGroupStatXML(const std::string& text, const std::string& modelId,
                                             int* err) {
    static const GroupOutput output{"StatXML", &SplitCollectPeer::statXMLContainer,
                                    kStatXMLMimeType, kStatXMLTypeId, true};
    return WriteGroupEntry(output, text, modelId, err);
}

uint32_t SplitCollectPeer::WriteGroupPMML(const std::string& text, const std::string& modelId,
                                          int* err) {
    static const GroupOutput output{"PMML", &SplitCollectPeer::pmmlContainer, kPMMLMimeType,
                                    kPMMLTypeId, false};
    return WriteGroupEntry(output, text, modelId, err);
}

uint32_t SplitCollectPeer::WriteGroupEntry(const GroupOutput& output, const std::string& text,
                                           const std::string& modelId, int* err) {
    if (text.empty() || modelId.empty()) return CF_FAILED;

    HostLockScope lock(hostLock);
    uint32_t status = lock.Take(err);
    if (status != CF_OK) {
        CollectMsgs(QorCF_940::MsgError, 280012, err);
        return status;
    }

    int ignored = 0;
    CFContainerFile*& container = this->*output.handle;
    if (container == nullptr) {
        CFContainerFile* opened = nullptr;
        status = context->openContainer(context->handle, output.containerName, CF_MODE_WRITE,
                                        &opened, err);
        if (status != CF_OK || opened == nullptr) {
            lock.Release(&ignored);
            if (!output.openFailureIsError) return CF_OK;
            return status != CF_OK ? status : uint32_t{CF_FAILED};
        }
        container = opened;
    }

    CFEntryKey* key = nullptr;
    CFStream* stream = nullptr;
    status = container->createKey(container->handle, &key, err);
    if (status == CF_OK)
        status = key->setKeyText(key->handle, 0, modelId.data(), modelId.size(), err);
    if (status == CF_OK) {
        const std::string properties = MakeEntryProperties(output.mimeType, output.typeId);
        status = container->openEntry(container->handle, key, CF_MODE_WRITE, properties.c_str(),
                                      &stream, err);
    }
    if (status != CF_OK) {
        lock.Release(&ignored);
        return status;
    }

    const uint32_t writeStatus = stream->writeStream(stream->handle, text.data(), text.size(), err);
    stream->closeStream(stream->handle, &ignored);

    const uint32_t releaseStatus = lock.Release(err);
    if (releaseStatus != CF_OK) CollectMsgs(QorCF_940::MsgError, 280013, err);
    return writeStatus != CF_OK ? writeStatus : releaseStatus;
}

// Writes one group's StatXML or PMML text into the component's output
// container of that kind, keyed by the group's model ID. The container is
// opened on first use and kept open; the whole entry is written under the
// host lock so that entries of concurrent intakes never interleave.
#include "collect/entry_properties.h"
#include "collect/host_lock_scope.h"
#include "collect/split_collect_peer.h"
#include "module/host_calls.h"

namespace host = split::host;

uint32_t SplitCollectPeer::WriteGroupStatXML(const std::string& text, const std::string& modelId,
                                             int* err) {
    static const GroupOutput output{"StatXML", &SplitCollectPeer::statXMLContainer,
                                    MakeEntryProperties(kStatXMLMimeType, kStatXMLTypeId), true};
    return WriteGroupEntry(output, text, modelId, err);
}

uint32_t SplitCollectPeer::WriteGroupPMML(const std::string& text, const std::string& modelId,
                                          int* err) {
    static const GroupOutput output{"PMML", &SplitCollectPeer::pmmlContainer,
                                    MakeEntryProperties(kPMMLMimeType, kPMMLTypeId), false};
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
        status = host::OpenContainer(context, output.containerName, CF_MODE_WRITE, &opened, err);
        if (status != CF_OK) {
            lock.Release(&ignored);
            return output.openFailureIsError ? status : uint32_t{CF_OK};
        }
        container = opened;
    }

    CFEntryKey* key = nullptr;
    CFStream* stream = nullptr;
    status = host::CreateKey(container, &key, err);
    if (status == CF_OK) status = host::SetKeyText(key, modelId.data(), modelId.size(), err);
    if (status == CF_OK)
        status = host::OpenEntry(container, key, CF_MODE_WRITE, output.properties.c_str(), &stream,
                                 err);
    if (status != CF_OK) {
        lock.Release(&ignored);
        return status;
    }

    const uint32_t writeStatus = host::WriteStream(stream, text.data(), text.size(), err);
    host::CloseStream(stream, &ignored);

    const uint32_t releaseStatus = lock.Release(err);
    if (releaseStatus != CF_OK) CollectMsgs(QorCF_940::MsgError, 280013, err);
    return writeStatus != CF_OK ? writeStatus : releaseStatus;
}

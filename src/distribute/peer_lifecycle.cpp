// Construction, destruction and the small shared helpers of the distribute peer.
#include <utility>

#include "distribute/distribute_codes.h"
#include "module/cleanup_steps.h"
#include "module/host_calls.h"
#include "distribute/split_distribute_peer.h"

using namespace split;

SplitDistributePeer::SplitDistributePeer(CFContext* context, CFHost* host)
    : QorPeer(context, host), threadServices(nullptr), hostLock(nullptr), recordsRemain(false) {
    // Without thread services (or a lock) the peer relies on the host calling
    // GetWorkerTask one at a time; construction succeeds either way.
    int error = 0;
    if (host::GetThreadServices(context, &threadServices, &error) == CF_OK) {
        hostLock = host::CreateLock(threadServices, &error);
    } else {
        threadServices = nullptr;
    }
}

SplitDistributePeer::~SplitDistributePeer() noexcept(false) {
    CleanupSteps steps;
    int error = 0;
    if (hostLock != nullptr) steps.Run([&] { host::DestroyLock(threadServices, hostLock, &error); });
    DestroyDataHelper();
    for (WorkerEntry& entry : workerTable) {
        if (entry.records == nullptr) continue;
        steps.Run([&] {
            CFRecordSet* records = std::exchange(entry.records, nullptr);
            if (host::ReleaseRecordSet(context, records, &error) != CF_OK) RaiseError(kMsgReleaseRefused);
        });
    }
    steps.Finish();
}

uint32_t SplitDistributePeer::MakeSettings(CfCppHelperV1::XMLDocument& document, int* err) {
    return QorCommon_940::QorSettingsFactory::MakeModelSettings(document, settings, err);
}

void SplitDistributePeer::RaiseError(int code) {
    // A local error slot: the caller decides what its own err receives.
    int ignored = 0;
    CollectMsgs(QorCF_940::MsgError, code, &ignored);
}

void SplitDistributePeer::RaiseError(int code, const std::string& argument) {
    int ignored = 0;
    CollectMsgs(QorCF_940::MsgError, code, std::vector<std::string>{argument}, &ignored);
}

void SplitDistributePeer::DestroyDataHelper() {
    delete dataHelper;
    SetDataHelper(nullptr);
}

const QorCF_940::FieldInfo* SplitDistributePeer::SplitFieldInfo(size_t i) const {
    if (i >= splitFieldIndices.size()) return nullptr;
    const uint64_t position = splitFieldIndices[i];
    if (position >= fieldInfos.size()) return nullptr;
    return fieldInfos[position];
}

SplitDistributePeer::WorkerEntry* SplitDistributePeer::FindWorker(CFWorker* worker) {
    // The table changes only while planning and at the end of an execution;
    // during the hand-out it is only read, so concurrent lookups are safe.
    auto found = workerPositions.find(worker);
    return found == workerPositions.end() ? nullptr : &workerTable[found->second];
}

void SplitDistributePeer::AppendWorker(CFWorker* worker) {
    workerTable.push_back({worker, nullptr});
    // A worker listed twice is found by its first entry.
    workerPositions.emplace(worker, workerTable.size() - 1);
}

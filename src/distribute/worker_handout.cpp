// Handing out worker tasks: each successful GetWorkerTask describes the group
// at the current input position, streams its records into a host record set
// attached to the worker, and leaves the input on the next group.
#include "distribute/distribute_codes.h"
#include "module/host_calls.h"
#include "distribute/record_match.h"
#include "distribute/split_distribute_peer.h"
#include "module/buffer_protocol.h"

using namespace split;

uint32_t SplitDistributePeer::GetWorkerTask(CFWorker* worker, char* first, size_t firstSize,
                                            size_t* firstNeeded, char* second, size_t secondSize,
                                            size_t* secondNeeded, int* err) {
    // The whole hand-out runs under the host lock: it moves the shared input
    // position and updates recordsRemain and the worker table.
    if (hostLock != nullptr) host::Lock(hostLock, err);
    const uint32_t result = Guarded([&] {
        return HandOutTask(worker, first, firstSize, firstNeeded, second, secondSize,
                           secondNeeded, err);
    });
    if (hostLock != nullptr) host::Unlock(hostLock, err);
    return result;
}

uint32_t SplitDistributePeer::HandOutTask(CFWorker* worker, char* first, size_t firstSize,
                                          size_t* firstNeeded, char* second, size_t secondSize,
                                          size_t* secondNeeded, int* err) {
    uint32_t result = CF_OK;
    // A worker asking again gives back the records of its previous task.
    if (WorkerEntry* entry = FindWorker(worker); entry != nullptr && entry->records != nullptr) {
        if (uint32_t status = host::ReleaseRecordSet(context, entry->records, err); status != CF_OK) {
            RaiseError(kMsgReleaseRefused);
            result = status;
        }
        entry->records = nullptr;
    }
    if (result != CF_OK) return result;
    if (!recordsRemain) return CF_NO_WORKER_TASK;

    std::string text;
    result = BuildTaskDocument(text, err);
    if (result != CF_OK) return result;
    // The task travels as the second text; the first is always empty. On 13
    // the input does not move, so a retry describes the same group.
    result = DeliverText(text, second, secondSize, secondNeeded);
    if (first != nullptr && firstSize > 0) first[0] = '\0';
    if (firstNeeded != nullptr) *firstNeeded = 0;
    if (result != CF_OK) return result;
    return FillWorkerRecordSet(worker, err);
}

uint32_t SplitDistributePeer::FillWorkerRecordSet(CFWorker* worker, int* err) {
    if (!recordsRemain) return CF_NO_RECORDS;
    if (dataHelper == nullptr) return CF_FAILED;
    CFRecordSet* records = nullptr;
    if (uint32_t status = host::CreateRecordSet(context, &records, err); status != CF_OK) {
        RaiseError(kMsgRecordSetRefused);
        return status;
    }
    CFIterator* source = dataHelper->getIterator();
    uint32_t result = host::AddRecord(records, source, err);
    if (result != CF_OK) {
        RaiseError(kMsgRecordRefused);
    } else {
        // Stream the group's records one at a time; only two keys are held.
        // As in planning, key statuses are not examined: a failed read has
        // raised its message and the key stays as it was.
        SplitKey groupKey;
        SplitKey recordKey;
        if (dataModelParsed) {
            PrepareSplitKey(groupKey, err);
            PrepareSplitKey(recordKey, err);
        }
        ReadSplitKey(groupKey, err);
        const KeyPair keys = PairOf(groupKey, recordKey);
        recordsRemain = dataHelper->nextRecord();
        while (recordsRemain) {
            if (!RecordHasKey(keys, groupKey, recordKey, err)) break;  // the next group starts here
            result = host::AddRecord(records, source, err);
            if (result != CF_OK) {
                RaiseError(kMsgRecordRefused);
                break;
            }
            recordsRemain = dataHelper->nextRecord();
        }
    }
    WorkerEntry* entry = result == CF_OK ? FindWorker(worker) : nullptr;
    if (entry == nullptr) {
        // A record set that no worker will own (the group is only partly
        // collected, or the worker is not one this peer planned) is given
        // back at once rather than left to the end of the execution.
        int ignored = 0;
        host::ReleaseRecordSet(context, records, &ignored);
        return result;
    }
    // HandOutTask gave back the worker's previous record set before this one
    // was filled.
    entry->records = records;
    return CF_OK;
}

uint32_t SplitDistributePeer::ReleaseRecordSets(int* err) {
    uint32_t result = CF_OK;
    for (WorkerEntry& entry : workerTable) {
        if (entry.records == nullptr) continue;
        if (uint32_t status = host::ReleaseRecordSet(context, entry.records, err); status != CF_OK) {
            RaiseError(kMsgReleaseRefused);
            result = status;
        }
        entry.records = nullptr;
    }
    // Freed, not only emptied: between executions the component holds
    // nothing of the last plan.
    workerTable = std::vector<WorkerEntry>();
    workerPositions = std::unordered_map<CFWorker*, size_t>();
    return result;
}

uint32_t SplitDistributePeer::EndExecution(int* err) {
    DestroyDataHelper();
    recordsRemain = false;
    const uint32_t result = Guarded([&] { return ReleaseRecordSets(err); });
    Guarded([&] { return QorPeer::EndExecution(err); });  // its status is not the component's
    return result;
}

uint32_t SplitDistributePeer::GetWorkerRecordsIterator(CFWorker* worker, CFIterator** iterator,
                                                       int* err) {
    // No lock: the host asks for a worker's iterator only after that worker's
    // GetWorkerTask has returned.
    return Guarded([&]() -> uint32_t {
        WorkerEntry* entry = FindWorker(worker);
        if (entry == nullptr || entry->records == nullptr) return CF_FAILED;
        const uint32_t status = host::GetIterator(entry->records, iterator, err);
        if (status != CF_OK) RaiseError(kMsgIteratorRefused);
        return status;
    });
}

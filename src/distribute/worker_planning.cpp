// Begin execution: read the input once and ask the host for one worker per
// run of records with equal split keys.
#include "distribute/distribute_codes.h"
#include "module/host_calls.h"
#include "distribute/record_match.h"
#include "distribute/split_distribute_peer.h"

using namespace split;

uint32_t SplitDistributePeer::BeginExecution(CFIterator* input, CFProgress* progressHandle,
                                             int* err) {
    if (input == nullptr || progressHandle == nullptr) return CF_NO_INPUT_OR_PROGRESS;
    return Guarded([&]() -> uint32_t {
        // The split field positions resolved by Configure stay as they are.
        if (uint32_t status = ParseDataModel(err, false, 1); status != CF_OK) return status;
        dataModelParsed = true;
        DestroyDataHelper();
        SetDataHelper(new CfCppHelperV1::DataHelper(input, true));
        executing = false;
        progress = progressHandle;
        return PlanWorkers(err);
    });
}

uint32_t SplitDistributePeer::PlanWorkers(int* err) {
    if (dataHelper == nullptr) return CF_FAILED;
    dataHelper->rewind();
    if (!dataHelper->nextRecord()) {
        RaiseError(kMsgEmptyInput);
        SetErr(err, kMsgEmptyInput);
        return CF_FAILED;
    }
    CFWorker* worker = nullptr;
    if (uint32_t status = host::CreateWorker(context, &worker, err); status != CF_OK) {
        // err stays as the host set it. The input is left ready for hand-out
        // so the host may still serve the workers it has.
        RaiseError(kMsgFirstWorkerRefused);
        dataHelper->rewind();
        dataHelper->nextRecord();
        recordsRemain = true;
        return status;
    }
    ReleaseRecordSets(err);  // record sets of an earlier execution
    AppendWorker(worker);

    // Key statuses are not examined while planning: a failed read has raised
    // its message, and the scan goes on with the key as it was left.
    SplitKey current;
    SplitKey next;
    if (dataModelParsed) {
        PrepareSplitKey(current, err);
        PrepareSplitKey(next, err);
    }
    ReadSplitKey(current, err);
    const KeyPair keys = PairOf(current, next);
    while (dataHelper->nextRecord()) {
        if (RecordHasKey(keys, current, next, err)) continue;
        // A worker refused after the first one ends the scan; the groups found
        // so far stand and the rest of the input is handed to no worker.
        if (host::CreateWorker(context, &worker, err) != CF_OK) break;
        AppendWorker(worker);
        DetachRecordKey(current, next);
        ReadSplitKey(current, err);  // this record's key describes the new group
    }
    ClearSplitKey(current);
    ClearSplitKey(next);
    dataHelper->rewind();
    dataHelper->nextRecord();
    recordsRemain = true;
    return CF_OK;
}

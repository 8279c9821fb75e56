// Base answers of the operations a peer may leave out.
#include "qor_peer.h"

namespace QorCF_940 {

// Operations that only a peer producing records, models or worker data can
// carry out: the base has nothing to offer and says so without writing any
// output.
uint32_t QorPeer::GetExecutionRequirements(char*, size_t, size_t*, int*) {
    return CF_NOT_SUPPORTED;
}
uint32_t QorPeer::NextRecord(int*) { return CF_NOT_SUPPORTED; }
uint32_t QorPeer::GetRecordValue(size_t, void**, size_t*, int*) { return CF_NOT_SUPPORTED; }
uint32_t QorPeer::GetPSMControlInformation(char*, size_t, size_t*, int*) {
    return CF_NOT_SUPPORTED;
}
uint32_t QorPeer::PSMMerge(int*) { return CF_NOT_SUPPORTED; }
uint32_t QorPeer::GetWorkerDataModel(CFWorker*, size_t, char*, size_t, size_t*, int*) {
    return CF_NOT_SUPPORTED;
}
uint32_t QorPeer::GetWorkerIterator(CFWorker*, size_t, CFIterator**, int*) {
    return CF_NOT_SUPPORTED;
}
uint32_t QorPeer::ReadWorkerInputContainer(CFWorker*, const char*, CFContainerFile**, int*) {
    return CF_NOT_SUPPORTED;
}
uint32_t QorPeer::FollowOnTaskStartExe(CFWorker*, int*) { return CF_NOT_SUPPORTED; }
uint32_t QorPeer::FollowOnTaskEndExe(CFWorker*, int*) { return CF_NOT_SUPPORTED; }

// A peer that hands out no workers: there is never a task, and none counted.
uint32_t QorPeer::GetWorkerTask(CFWorker*, char*, size_t, size_t*, char*, size_t, size_t*, int*) {
    return CF_NO_WORKER_TASK;
}
uint32_t QorPeer::GetWorkerTaskNumber(int64* count, int*) {
    if (count) *count = 0;
    return CF_OK;
}

// Queries the host asks of every component: the base makes no special
// demands on its iterators, its input fields or record synchronisation.
uint32_t QorPeer::GetIteratorRequirements(int64* a, int64** b, int64* c, int*) {
    if (a) *a = 0;
    if (b) *b = nullptr;
    if (c) *c = 0;
    return CF_OK;
}
uint32_t QorPeer::GetInputFieldsFixed(int64* fixed, int*) {
    if (fixed) *fixed = 0;
    return CF_OK;
}
uint32_t QorPeer::GetRecordSynchronizedProcessing(int64* synchronized, int*) {
    if (synchronized) *synchronized = 0;
    return CF_OK;
}

}  // namespace QorCF_940

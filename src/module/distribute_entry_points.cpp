// Entry points of the split_distribute component.
#include "distribute/split_distribute_peer.h"
#include "module/cf_entry_points.h"
#include "module/component_factory.h"

using split::PeerOf;

namespace {

// The distribute peer behind a handle, or null when the handle names another
// component: the iterator and container calls act on its own members.
SplitDistributePeer* DistributePeerOf(void* component) {
    return dynamic_cast<SplitDistributePeer*>(PeerOf(component));
}

}  // namespace

extern "C" {

uint32_t cf_distribute_getWorkerTask(void* component, CFWorker* worker, char* first,
                                     size_t firstSize, size_t* firstNeeded, char* second,
                                     size_t secondSize, size_t* secondNeeded, int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    return PeerOf(component)->GetWorkerTask(worker, first, firstSize, firstNeeded, second,
                                            secondSize, secondNeeded, err);
}

uint32_t cf_distribute_getWorkerTaskNumber(void* component, int64* count, int* err) {
    // Unlike its siblings this one answers a null component with status 0 and
    // writes neither the count nor err: the count is only advice for the
    // host's planning, and a host that asks without a component learns nothing.
    if (component == nullptr) return CF_OK;
    return PeerOf(component)->GetWorkerTaskNumber(count, err);
}

uint32_t cf_distribute_getDataModel(void* component, CFWorker* /*worker*/, size_t /*index*/,
                                    char* buffer, size_t size, size_t* needed, int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    // Every worker gets the component's own input data model.
    return PeerOf(component)->GetDataModel(0, buffer, size, needed, err);
}

uint32_t cf_distribute_getIterator(void* component, CFWorker* worker, size_t /*index*/,
                                   CFIterator** iterator, int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    SplitDistributePeer* peer = DistributePeerOf(component);
    if (peer == nullptr) return CF_FAILED;
    return peer->GetWorkerRecordsIterator(worker, iterator, err);
}

uint32_t cf_distribute_getContainer(void* component, CFWorker* worker, const char* name,
                                    CFContainerFile** container, int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    SplitDistributePeer* peer = DistributePeerOf(component);
    if (peer == nullptr) return CF_FAILED;
    return peer->CopyInputContainer(worker, name, container, err);
}

}  // extern "C"

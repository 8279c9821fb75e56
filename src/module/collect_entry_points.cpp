// Entry points of the split_collect component.
#include "collect/split_collect_peer.h"
#include "module/cf_entry_points.h"
#include "module/component_factory.h"

extern "C" {

uint32_t cf_collect_startedWorkerTask(void* /*component*/, CFWorker* /*worker*/, int* /*err*/) {
    return CF_OK;
}

uint32_t cf_collect_completedWorkerTask(void* component, CFWorker* worker, int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    // Only a collect component takes in worker results.
    auto* peer = dynamic_cast<SplitCollectPeer*>(split::PeerOf(component));
    if (peer == nullptr) return CF_FAILED;
    return peer->CompletedWorkerTask(worker, err);
}

}  // extern "C"

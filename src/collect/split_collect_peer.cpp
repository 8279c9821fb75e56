#include "collect/split_collect_peer.h"

// Placeholder until the collect component lands: constructs and refuses work.
SplitCollectPeer::SplitCollectPeer(CFContext* context, CFHost* host) : QorPeer(context, host) {}
SplitCollectPeer::~SplitCollectPeer() = default;
uint32_t SplitCollectPeer::Configure(int*) { return 1; }
uint32_t SplitCollectPeer::BeginExecution(CFIterator*, CFProgress*, int*) { return 1; }
uint32_t SplitCollectPeer::EndExecution(int*) { return 1; }
uint32_t SplitCollectPeer::MakeSettings(CfCppHelperV1::XMLDocument& doc, int* err) {
    return QorCommon_940::QorSettingsFactory::MakeModelSettings(doc, settings, err);
}
uint32_t SplitCollectPeer::CompletedWorkerTask(CFWorker*, int*) { return 1; }

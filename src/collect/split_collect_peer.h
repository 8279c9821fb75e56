// The peer of the split_collect component.
#ifndef SPLIT_COLLECT_SPLIT_COLLECT_PEER_H
#define SPLIT_COLLECT_SPLIT_COLLECT_PEER_H

#include "qor_peer.h"

class SplitCollectPeer : public QorCF_940::QorPeer {
public:
    SplitCollectPeer(CFContext* context, CFHost* host);
    ~SplitCollectPeer() override;
    uint32_t Configure(int* err) override;
    uint32_t BeginExecution(CFIterator* input, CFProgress* progress, int* err) override;
    uint32_t EndExecution(int* err) override;
    uint32_t MakeSettings(CfCppHelperV1::XMLDocument& settings, int* err) override;
    // Takes in one completed worker task; *err holds the worker's outcome on entry.
    uint32_t CompletedWorkerTask(CFWorker* worker, int* err);

private:
    QorXML_940::QorSettings settings;
};

#endif

// End execution of the collect peer: the data model section is added, the
// combined document is written as the root entries when at least one group
// produced a model, and the execution's documents and containers are let go.
#include "collect/split_collect_peer.h"
#include "module/host_calls.h"

using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;

uint32_t SplitCollectPeer::EndExecution(int* err) {
    uint32_t status;
    try {
        status = BuildCollectedDataModel();
    } catch (...) {
        status = CF_FAILED;
    }
    if (status != CF_OK) {
        CollectMsgs(QorCF_940::MsgError, 280015, err);
        DisposeDocuments();
        return status;
    }
    inputDataModel.dispose();
    inputDataModel = CfCppHelperV1::XMLDocument();

    bool modelBuilt = false;
    try {
        modelBuilt = HasModelSummary();
    } catch (...) {
    }
    if (!modelBuilt) {
        // The containers stay open; the next begin execution or the
        // destruction closes them.
        CollectMsgs(QorCF_940::MsgError, 280014, err);
        DisposeDocuments();
        return CF_FAILED;
    }

    try {
        status = WriteRootOutputs(err);
    } catch (...) {
        status = CF_FAILED;
    }
    int ignored = 0;
    if (statXMLContainer != nullptr) {
        split::host::CloseContainer(statXMLContainer, &ignored);
        statXMLContainer = nullptr;
    }
    if (pmmlContainer != nullptr) {
        split::host::CloseContainer(pmmlContainer, &ignored);
        pmmlContainer = nullptr;
    }
    DisposeDocuments();
    return status;
}

// True when some "SplitGroup" of the combined document ends in a model
// summary, i.e. at least one group produced a model.
bool SplitCollectPeer::HasModelSummary() const {
    if (combinedStatXML.isEmpty()) return false;
    XMLElementIterator groups = combinedStatXML.getElementsDirect("SplitGroup");
    while (groups.hasMore()) {
        XMLElement group = groups.next();
        if (group.getElementsDirect("ModelSummary").hasMore()) return true;
    }
    return false;
}

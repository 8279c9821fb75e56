// The StatXML step of the intake: the worker's StatXML is marked with its
// split group, rewritten, and its model summary merged into the combined
// document. Any failure here records the group as failed.
#include "collect/host_lock_scope.h"
#include "collect/scoped_document.h"
#include "collect/split_collect_peer.h"

uint32_t SplitCollectPeer::ProcessWorkerStatXML(std::string& statXMLText,
                                                const std::vector<SplitFieldEntry>& entries,
                                                std::string& modelId, int* err) {
    if (hostHelper == nullptr) return CF_FAILED;
    ScopedDocument worker;
    try {
        worker.document = hostHelper->createFromContents(statXMLText);
    } catch (...) {
        ReportSplitFailure(entries, err);
        return CF_BAD_XML;
    }

    // The annotation reads the input data model, shared with other intakes.
    uint32_t status;
    {
        int lockErr = 0;
        HostLockScope lock(hostLock);
        lock.TakeIgnoringStatus(&lockErr);
        status = AddStatXMLSplitGroup(&worker.document, entries);
        lock.Release(&lockErr);
    }
    if (status != CF_OK) {
        ReportSplitFailure(entries, err);
        return status;
    }

    worker.document.doc2string(statXMLText);

    status = AddModelSummary(&worker.document, modelId, err);
    if (status != CF_OK) {
        ReportSplitFailure(entries, err);
        return status;
    }
    return CF_OK;
}

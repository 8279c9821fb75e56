// Merges one worker's model summary into the combined StatXML document: a
// copy of the worker's "SplitGroup" ending in a "ModelSummary" that names
// the chosen model and holds its predictive summaries. The first worker
// that brings "BuildSettings" supplies the combined document's copy.
#include "annotate/find_summary_model.h"
#include "collect/host_lock_scope.h"
#include "collect/split_collect_peer.h"

using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;

uint32_t SplitCollectPeer::AddModelSummary(XMLDocument* document, std::string& modelId,
                                           int* err) {
    XMLElement model;
    uint32_t status = FindSummaryModel(document, model);
    if (status != CF_OK) return status;

    XMLElementIterator summaries = model.getElementsDirect("PredictiveSummary");
    if (!summaries.hasMore()) return CF_BAD_XML;
    modelId = model.getAttribute("modelID");
    const std::string segmentId = model.getAttribute("segmentID");

    HostLockScope lock(hostLock);
    status = lock.Take(err);
    if (status != CF_OK) {
        CollectMsgs(QorCF_940::MsgError, 280012, err);
        return status;
    }

    const XMLElement& workerRoot = *document;
    XMLElementIterator workerSettings = workerRoot.getElementsDirect("BuildSettings");
    // The worker is asked first: its document is small, while the combined
    // root grows by one section per group.
    if (workerSettings.hasMore() && !combinedStatXML.getElementsDirect("BuildSettings").hasMore()) {
        XMLElementIterator first = combinedStatXML.getElementsDirect("");
        if (first.hasMore())
            combinedStatXML.copyElementBefore(workerSettings.next(), first.next());
        else
            combinedStatXML.copyElement(workerSettings.next());
    }

    XMLElementIterator groups = workerRoot.getElementsDirect("SplitGroup");
    if (!groups.hasMore()) {
        int ignored = 0;
        lock.Release(&ignored);
        return CF_BAD_XML;
    }
    XMLElement group = combinedStatXML.copyElement(groups.next());
    XMLElement summary = group.addElement("ModelSummary");
    summary.addAttribute("modelID", modelId);
    if (!segmentId.empty()) summary.addAttribute("segmentID", segmentId);
    while (summaries.hasMore()) summary.copyElement(summaries.next());

    status = lock.Release(err);
    if (status != CF_OK) CollectMsgs(QorCF_940::MsgError, 280013, err);
    return status;
}

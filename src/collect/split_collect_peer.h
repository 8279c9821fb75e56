// The peer of the split_collect component.
//
// Over one execution it takes in every completed worker task: it reads the
// split group the worker handled, annotates the worker's StatXML and PMML
// with that group, stores both in its output containers "StatXML" and
// "PMML" under the group's model ID, and records the group (its model
// summary or its failure) in one combined StatXML document. At the end of
// the execution the combined document receives a data model section and is
// written as the root entries of both containers.
//
// Shared state touched by concurrent intakes (the combined document, the
// input data model document, the split field names and the two containers)
// is guarded by the host lock record; without thread services there is no
// lock and the host calls one at a time.
#ifndef SPLIT_COLLECT_SPLIT_COLLECT_PEER_H
#define SPLIT_COLLECT_SPLIT_COLLECT_PEER_H

#include <cstdint>
#include <string>
#include <vector>

#include "collect/split_field_entry.h"
#include "qor_peer.h"

class SplitCollectPeerTestAccess;

class SplitCollectPeer : public QorCF_940::QorPeer {
public:
    SplitCollectPeer(CFContext* context, CFHost* host);
    // Gives back the lock and closes the containers left open; rethrows the
    // first exception a host operation threw, once everything has been tried.
    ~SplitCollectPeer() noexcept(false) override;

    // Lifecycle.
    uint32_t Configure(int* err) override;
    uint32_t BeginExecution(CFIterator* input, CFProgress* progress, int* err) override;
    uint32_t EndExecution(int* err) override;
    uint32_t MakeSettings(CfCppHelperV1::XMLDocument& settings, int* err) override;

    // Takes in one completed worker task; *err holds the worker's outcome on
    // entry (0 when it succeeded).
    uint32_t CompletedWorkerTask(CFWorker* worker, int* err);

    // Intake steps.
    uint32_t ReadSplitFields(CFWorker* worker, std::vector<SplitFieldEntry>& entries, int* err);
    uint32_t ReadWorkerContainer(CFWorker* worker, const std::string& name, std::string& text,
                                 int* err);
    uint32_t ProcessWorkerStatXML(std::string& statXMLText,
                                  const std::vector<SplitFieldEntry>& entries,
                                  std::string& modelId, int* err);

    // Output containers.
    uint32_t WriteGroupStatXML(const std::string& text, const std::string& modelId, int* err);
    uint32_t WriteGroupPMML(const std::string& text, const std::string& modelId, int* err);
    uint32_t WriteRootOutputs(int* err);

    // Appends a failure section for a group to the combined document.
    uint32_t ReportSplitFailure(const std::vector<SplitFieldEntry>& entries, int* err);

    // Annotation of worker documents and the model summary.
    uint32_t AddPMMLSplitInfo(std::string& pmmlText, const std::vector<SplitFieldEntry>& entries,
                              int* err);
    uint32_t AddStatXMLSplitGroup(CfCppHelperV1::XMLDocument* document,
                                  const std::vector<SplitFieldEntry>& entries);
    uint32_t AddModelSummary(CfCppHelperV1::XMLDocument* document, std::string& modelId,
                             int* err);

    // The data model section of the combined document.
    uint32_t BuildCollectedDataModel();

private:
    friend class SplitCollectPeerTestAccess;

    // What distinguishes the two group writers.
    struct GroupOutput {
        const char* containerName;
        CFContainerFile* SplitCollectPeer::*handle;
        std::string properties;  // the entry properties text, built once
        bool openFailureIsError;  // false: the group's entry is skipped silently
    };
    uint32_t WriteGroupEntry(const GroupOutput& output, const std::string& text,
                             const std::string& modelId, int* err);
    uint32_t AnnotateWorkerDataModel(CfCppHelperV1::XMLElement& workerDataModel,
                                     const std::vector<SplitFieldEntry>& entries);
    uint32_t AddWorkerDataModel(CfCppHelperV1::XMLElement& workerRoot,
                                CfCppHelperV1::XMLElement& splitGroup,
                                const std::vector<SplitFieldEntry>& entries);
    uint32_t CloseOutputContainers(int* err);
    void RaiseLocked(QorCF_940::MsgType type, int code, const std::string& argument, int* err);
    bool HasModelSummary() const;
    void DisposeDocuments();

    QorXML_940::QorSettings settings;
    CfCppHelperV1::XMLDocument combinedStatXML;
    CFContainerFile* statXMLContainer = nullptr;
    CFContainerFile* pmmlContainer = nullptr;
    CfCppHelperV1::XMLDocument inputDataModel;
    std::vector<std::string> splitFieldNames;
    CFThreadServices* threadServices = nullptr;
    CFLock* hostLock = nullptr;
    std::vector<std::string> targetFieldList;
    std::vector<std::string> inputFieldList;
};

#endif

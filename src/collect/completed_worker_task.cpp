// Intake of one completed worker task: the group is read from the task
// document; a failed worker gets a failure section; otherwise the worker's
// StatXML is annotated, summarised and stored, then its PMML is annotated
// and stored, both under the group's model ID.
#include "collect/host_lock_scope.h"
#include "collect/no_throw.h"
#include "collect/split_collect_peer.h"

uint32_t SplitCollectPeer::CompletedWorkerTask(CFWorker* worker, int* err) {
    return StatusWithoutThrow([&]() -> uint32_t {
        const int outcome = err != nullptr ? *err : 0;

        std::vector<SplitFieldEntry> entries;
        uint32_t status = ReadSplitFields(worker, entries, err);
        if (status != CF_OK) return status;

        {
            int lockErr = 0;
            HostLockScope lock(hostLock);
            lock.TakeIgnoringStatus(&lockErr);
            if (splitFieldNames.empty())
                for (const SplitFieldEntry& entry : entries) splitFieldNames.push_back(entry.name);
            lock.Release(&lockErr);
        }

        if (outcome != 0) return ReportSplitFailure(entries, err);

        std::string statXMLText;
        status = ReadWorkerContainer(worker, "WorkerStatXML", statXMLText, err);
        if (status != CF_OK) {
            ReportSplitFailure(entries, err);
            return status;
        }

        std::string modelId;
        status = ProcessWorkerStatXML(statXMLText, entries, modelId, err);
        if (status != CF_OK) return status;
        status = WriteGroupStatXML(statXMLText, modelId, err);
        if (status != CF_OK) return status;

        // From here on the group's summary and StatXML entry stand: a PMML
        // failure is returned but adds no failure section.
        std::string pmmlText;
        status = ReadWorkerContainer(worker, "WorkerPMML", pmmlText, err);
        if (status != CF_OK) return status;
        status = AddPMMLSplitInfo(pmmlText, entries, err);
        if (status != CF_OK) return status;
        return WriteGroupPMML(pmmlText, modelId, err);
    });
}

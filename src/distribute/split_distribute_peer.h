// The peer of the split_distribute component: splits its input into runs of
// records with equal split-field values and serves one worker per run.
#ifndef SPLIT_DISTRIBUTE_SPLIT_DISTRIBUTE_PEER_H
#define SPLIT_DISTRIBUTE_SPLIT_DISTRIBUTE_PEER_H

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "qor_peer.h"
#include "qor_settings.h"
#include "distribute/storage_kind.h"

class SplitDistributePeer : public QorCF_940::QorPeer {
public:
    SplitDistributePeer(CFContext* context, CFHost* host);
    ~SplitDistributePeer() override;

    using QorCF_940::QorPeer::BeginExecution;

    uint32_t Configure(int* err) override;
    uint32_t GetDataModel(int index, char* buffer, size_t size, size_t* needed, int* err) override;
    uint32_t BeginExecution(CFIterator* input, CFProgress* progress, int* err) override;
    uint32_t EndExecution(int* err) override;
    uint32_t GetWorkerTask(CFWorker* worker, char* first, size_t firstSize, size_t* firstNeeded,
                           char* second, size_t secondSize, size_t* secondNeeded,
                           int* err) override;
    uint32_t GetWorkerTaskNumber(int64* count, int* err) override;
    uint32_t MakeSettings(CfCppHelperV1::XMLDocument& settings, int* err) override;

    // The iterator over the records handed to a worker: 1 when the worker has
    // none (unknown, or not yet given its task).
    uint32_t GetWorkerRecordsIterator(CFWorker* worker, CFIterator** iterator, int* err);
    // Copies the component's input container behind a worker container name
    // into a new container of that name; 29 for a name not offered.
    uint32_t CopyInputContainer(CFWorker* worker, const char* name, CFContainerFile** container,
                                int* err);

private:
    // One split field's value of one record. Buffers are reused from record
    // to record; a string buffer always holds a zero byte beyond the text.
    struct SplitKeyValue {
        std::unique_ptr<char[]> data;  // null: a missing value (or an unread storage)
        int32_t storage = 0;
        split::StorageKind kind = split::StorageKind::Unusable;  // of `storage`
        uint64_t length = 0;    // as the record reader reported it
        uint64_t capacity = 0;  // size of a string buffer; 0 otherwise
    };
    // The values of the split fields, in splitFieldIndices order.
    using SplitKey = std::vector<SplitKeyValue>;

    struct WorkerEntry {
        CFWorker* worker;
        CFRecordSet* records;  // null until the worker's records are collected
    };

    // Configuration.
    uint32_t ResolveSplitFields(int* err);

    // Split keys.
    uint32_t PrepareSplitKey(SplitKey& key, int* err);
    uint32_t ReadSplitKey(SplitKey& key, int* err);
    static void ClearSplitKey(SplitKey& key);
    static int CompareSplitKeys(const SplitKey& a, const SplitKey& b);
    // Reads the split values of the current record and tells whether they
    // equal `key`, as CompareSplitKeys(key, scratch) would after
    // ReadSplitKey(scratch): the values are compared where the host keeps
    // them, without copying, and `scratch` is used only when the iterator
    // cannot be called directly. A value that cannot be read raises its
    // message, and it and the values after it count as equal to the key's
    // (the key "as it was left").
    bool RecordHasKey(const SplitKey& key, SplitKey& scratch, int* err);
    // Whether RecordHasKey may compare the values where the host keeps them:
    // the keys are prepared and the input's iterator can be called. This does
    // not change while a loop steps the input, so loops ask once.
    bool CanMatchDirectly(const SplitKey& key, const SplitKey& scratch) const;
    // Where a loop finds the split field positions and a key's values: the
    // key's storage does not move while the loop runs (values are read into
    // it in place).
    struct KeyFields {
        const uint64_t* fields;
        const SplitKeyValue* values;
        size_t count;
    };
    KeyFields FieldsOf(const SplitKey& key) const {
        return {splitFieldIndices.data(), key.data(), key.size()};
    }
    // RecordHasKey's comparison in place, for a loop that has asked
    // CanMatchDirectly: inline (record_match.h) in the loops over the input.
    inline bool RecordMatchesKey(CFIterator* input, const KeyFields& key, int* err);

    // Planning and hand-out.
    uint32_t PlanWorkers(int* err);
    uint32_t BuildTaskDocument(std::string& text, int* err);
    uint32_t HandOutTask(CFWorker* worker, char* first, size_t firstSize, size_t* firstNeeded,
                         char* second, size_t secondSize, size_t* secondNeeded, int* err);
    uint32_t FillWorkerRecordSet(CFWorker* worker, int* err);
    uint32_t ReleaseRecordSets(int* err);
    WorkerEntry* FindWorker(CFWorker* worker);
    void AppendWorker(CFWorker* worker);

    // Input containers.
    uint32_t ReadContainerText(const std::string& name, std::string& text, int* err);

    // Helpers.
    const QorCF_940::FieldInfo* SplitFieldInfo(size_t i) const;
    void RaiseError(int code);
    void RaiseError(int code, const std::string& argument);
    void DestroyDataHelper();

    QorXML_940::QorSettings settings;
    std::vector<std::string> splitFieldNames;
    std::vector<uint64_t> splitFieldIndices;
    std::vector<WorkerEntry> workerTable;
    CFThreadServices* threadServices;
    CFLock* hostLock;
    bool recordsRemain;
    // True once a data model has been parsed (it may have no fields).
    bool dataModelParsed = false;
    // Position of each worker's first entry in workerTable, so that finding a
    // worker does not walk a table of many thousands of groups.
    std::unordered_map<CFWorker*, size_t> workerPositions;
};

#endif

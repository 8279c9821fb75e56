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

namespace split {
class GrowingText;
}

class SplitDistributePeer : public QorCF_940::QorPeer {
public:
    SplitDistributePeer(CFContext* context, CFHost* host);
    // Gives back the lock and every record set held; rethrows the first
    // exception a host operation threw, once everything has been tried.
    ~SplitDistributePeer() noexcept(false) override;

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
        // In a record key read by RecordHasKey: the value last read is byte
        // for byte the group key's value at that position, and this entry's
        // own buffer and length are stale. Saves copying every record's
        // values while they equal the group's.
        bool sameAsGroupKey = false;
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
    // Stores one value the record reader handed out into a key entry, by
    // the entry's storage; false, with the entry unchanged, for a text too
    // long to hold.
    static bool StoreSplitValue(SplitKeyValue& entry, const char* bytes, uint64_t length);
    // Whether two entries at one position of two keys are equal, by the
    // rules of CompareSplitKeys.
    static bool SameSplitValue(const SplitKeyValue& a, const SplitKeyValue& b);
    // A group key and the record key read against it, as a loop over the
    // input uses them: taken once per loop, since the keys' storage does not
    // move while it runs (values are read into it in place) and the compiler
    // cannot keep these across the host's calls by itself.
    struct KeyPair {
        CfCppHelperV1::DataHelper* reader;
        const uint64_t* fields;
        const SplitKeyValue* group;
        SplitKeyValue* record;
        size_t count;
        bool ready;  // both keys prepared for the split fields, a reader installed
    };
    KeyPair PairOf(const SplitKey& group, SplitKey& record) const {
        return {dataHelper, splitFieldIndices.data(), group.data(), record.data(), group.size(),
                group.size() == splitFieldIndices.size() && record.size() == group.size() &&
                    dataModelParsed && dataHelper != nullptr};
    }
    // ReadSplitKey(record) then CompareSplitKeys(group, record) == 0, with
    // the same reads, messages and outcome (a value that cannot be read ends
    // the reading, and the record key keeps what it held from there on),
    // but a value equal byte for byte to the group's is not copied. Inline
    // (record_match.h): it runs for every record, in planning and hand-out.
    inline bool RecordHasKey(const KeyPair& keys, const SplitKey& group, SplitKey& record, int* err);
    // Before the group key is read again: record key entries that stood for
    // the group's value receive a copy of it.
    static void DetachRecordKey(const SplitKey& group, SplitKey& record);

    // Planning and hand-out.
    uint32_t PlanWorkers(int* err);
    uint32_t BuildTaskDocument(std::string& text, int* err);
    uint32_t HandOutTask(CFWorker* worker, char* first, size_t firstSize, size_t* firstNeeded,
                         char* second, size_t secondSize, size_t* secondNeeded, int* err);
    uint32_t FillWorkerRecordSet(CFWorker* worker, int* err);
    uint32_t ReleaseRecordSets(int* err);
    WorkerEntry* FindWorker(CFWorker* worker);
    void AppendWorker(CFWorker* worker);

    // Input containers: the named container's text, appended to `text`.
    uint32_t ReadContainerText(const std::string& name, split::GrowingText& text, int* err);

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

// Base class of every component peer, supplied by the host's peer-utilities
// library, and the field descriptions of a parsed data model.
#ifndef SPLIT_HOST_QOR_PEER_H
#define SPLIT_HOST_QOR_PEER_H

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "cf_cpp_helper.h"
#include "cf_records.h"
#include "qor_settings.h"

namespace QorCF_940 {

enum MsgType { MsgInfo = 1, MsgWarning = 2, MsgError = 3 };

// Storage codes and measure codes of a field.
enum StorageCode : int32_t {
    StorageNone = 0, StorageInteger = 1, StorageReal = 2, StorageString = 3,
    StorageDate = 4, StorageTime = 5, StorageTimestamp = 6
};
enum MeasureCode : int32_t {
    MeasureNone = 0, MeasureContinuous = 1, MeasureFlag = 2, MeasureNominal = 3,
    MeasureOrdinal = 4, MeasureCategorical = 5
};

class FieldInfo {
public:
    FieldInfo(std::string name, int32_t storage, int32_t measure, int32_t categories)
        : name_(std::move(name)), storage_(storage), measure_(measure), categories_(categories) {}
    virtual ~FieldInfo() = default;
    const std::string& GetFieldName() const { return name_; }
    int32_t GetStorage() const { return storage_; }
    int32_t GetMeasure() const { return measure_; }
    virtual int32_t GetNumberOfCategories() const { return categories_; }

private:
    std::string name_;
    int32_t storage_;  // kept side by side with the measure code
    int32_t measure_;
    int32_t categories_;
};

// One message recorded for the host.
struct CollectedMessage {
    int type;
    int code;
    std::vector<std::string> args;
};

// The base of every component peer. The entry points reach it through the
// virtual operations below, by slot.
//
// Lifetime: built by cf_create_component on the component's context and the
// module's host, destroyed by cf_destroy_component; both must outlive it.
// Threads: configuration, execution begin and end and destruction need
// external synchronisation against every other call on the peer; the
// message operations (CollectMsgs, GetErrorDetail) are safe from any thread;
// what else may overlap is each derived peer's business.
class QorPeer {
public:
    QorPeer(CFContext* context, CFHost* host);

    // Virtual operations in slot order; the entry points reach them by these
    // positions.
    // A derived peer's destructor may throw (the host operation it calls to
    // give something back did): cf_destroy_component reports that.
    virtual ~QorPeer() noexcept(false);
    virtual uint32_t Configure(int* err) = 0;
    virtual uint32_t GetDataModel(int index, char* buffer, size_t size, size_t* needed, int* err);
    virtual uint32_t GetExecutionRequirements(char* buffer, size_t size, size_t* needed, int* err);
    virtual uint32_t GetInputIterator(int index, CFIterator** iterator, int* err);
    virtual uint32_t BeginExecution(const std::vector<CFIterator*>& inputs, CFProgress* progress,
                                    int* err);
    virtual uint32_t BeginExecution(CFIterator* input, CFProgress* progress, int* err) = 0;
    virtual uint32_t EndExecution(int* err);
    virtual uint32_t CancelExecution(int* err);
    virtual uint32_t NextRecord(int* err);
    virtual uint32_t GetRecordValue(size_t field, void** value, size_t* length, int* err);
    virtual uint32_t GetErrorDetail(char* buffer, size_t size, size_t* needed, int* err);
    virtual uint32_t GetPSMControlInformation(char* buffer, size_t size, size_t* needed, int* err);
    virtual uint32_t PSMMerge(int* err);
    virtual uint32_t GetWorkerTask(CFWorker* worker, char* first, size_t firstSize,
                                   size_t* firstNeeded, char* second, size_t secondSize,
                                   size_t* secondNeeded, int* err);
    virtual uint32_t GetWorkerDataModel(CFWorker* worker, size_t index, char* buffer, size_t size,
                                        size_t* needed, int* err);
    virtual uint32_t GetWorkerIterator(CFWorker* worker, size_t index, CFIterator** iterator,
                                       int* err);
    virtual uint32_t ReadWorkerInputContainer(CFWorker* worker, const char* name,
                                              CFContainerFile** container, int* err);
    virtual uint32_t FollowOnTaskStartExe(CFWorker* worker, int* err);
    virtual uint32_t FollowOnTaskEndExe(CFWorker* worker, int* err);
    virtual uint32_t GetIteratorRequirements(int64* a, int64** b, int64* c, int* err);
    virtual uint32_t GetInputFieldsFixed(int64* fixed, int* err);
    virtual uint32_t GetRecordSynchronizedProcessing(int64* synchronized, int* err);
    virtual uint32_t GetWorkerTaskNumber(int64* count, int* err);
    virtual uint32_t MakeSettings(CfCppHelperV1::XMLDocument& settings, int* err) = 0;

    QorPeer(const QorPeer&) = delete;
    QorPeer& operator=(const QorPeer&) = delete;

protected:
    // Reads the component's parameter document and hands it to MakeSettings.
    // 1 without a context or host helper, 5 for a text that does not parse,
    // else the host's or MakeSettings' status.
    uint32_t ScanParameters(int* err);
    // Reads the input data model into the FieldInfo table, replacing it; on
    // any failure the previous table stays. 1 without a context or host
    // helper, 5 for a text that does not parse, else the host's status.
    uint32_t ParseDataModel(int* err, bool keepPrevious, int inputCount);
    void SetDataHelper(CfCppHelperV1::DataHelper* helper) { dataHelper = helper; }
    // Records a user message for GetErrorDetail; thread-safe. Returns 0.
    uint32_t CollectMsgs(MsgType type, int code, int* err);
    uint32_t CollectMsgs(MsgType type, int code, const std::vector<std::string>& args, int* err);

    // Messages recorded so far (for hosts and tests built on the base).
    std::vector<CollectedMessage> CollectedMessages() const;

    CFContext* context;
    CFHost* host;
    CfCppHelperV1::HostHelper* hostHelper;
    CfCppHelperV1::DataHelper* dataHelper;
    std::vector<FieldInfo*> fieldInfos;
    CFProgress* progress;
    bool executing;

private:
    void ClearFieldInfos();
    mutable std::mutex messagesMutex_;
    std::vector<CollectedMessage> messages_;
};

}  // namespace QorCF_940

#endif

// Fuzzes collect intake: task, worker StatXML and PMML (and maybe the data
// model) cut at byte 0x1e, after three control bytes (flags, a host operation
// to refuse and its call number). Every written document must parse.
#include "fuzz_support.h"
#include "refhost/worker.h"

namespace {

using namespace fuzzsupport;

// Host operations the intake and the end of execution call.
const char* const kFaultOps[] = {"getTask",  "openWorkerContainer", "openEntry",   "readStream",
                                 "getKeys",  "firstKey",            "releaseKeys", "closeStream",
                                 "closeContainer", "openContainer", "createKey",   "setKeyText",
                                 "writeStream", "lock",             "unlock",      "getInputDataModel"};

enum Flags : uint8_t {
    kWorkerFailed = 1,
    kStatXMLKeyed = 2,
    kPMMLKeyed = 4,
    kSecondWorker = 8,
    kFuzzedDataModel = 16,
    kNoThreadServices = 32,
    kInjectFault = 64,
    kEndTwice = 128,
};

void Store(refhost::Container& container, const std::string& text, bool keyed) {
    if (text.empty()) return;
    if (keyed) container.addEntry("k", text);
    else container.setDefaultEntry(text);
}

void CheckOutputs(refhost::Context& context) {
    for (const char* name : {"StatXML", "PMML"}) {
        for (refhost::Container* container : context.containers(name)) {
            std::vector<std::string> texts{container->defaultText()};
            for (const refhost::Entry& entry : container->entries()) texts.push_back(entry.data);
            for (const std::string& text : texts)
                if (!text.empty()) ParseOrAbort(text, "a written document").dispose();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader reader(data, size);
    const uint8_t flags = reader.byte();
    const char* faultOp = kFaultOps[reader.below(std::size(kFaultOps))];
    const uint64_t faultCall = 1 + reader.below(8);
    const std::vector<std::string> texts = SplitTexts(reader.rest(), '\x1e', 4);
    const std::string& task = texts[0];
    const std::string& statXML = texts[1];
    const std::string& pmml = texts[2];

    auto faults = std::make_shared<refhost::Faults>();
    refhost::Context context(SharedHost(), faults);
    context.setDataModel((flags & kFuzzedDataModel) ? texts[3] : SmallDataModel());
    context.setParameter("TargetFieldList", {"amount"});
    context.setParameter("InputFieldList", {"age"});
    if (flags & kNoThreadServices) context.setThreadServices(false);
    if (flags & kInjectFault) faults->refuse(faultOp, faultCall, 7, 99);

    std::unique_ptr<refhost::Component> collect = CreateComponent(context, "split_collect");
    collect->configure();
    const bool begun = collect->beginExecution() == 0;

    std::vector<std::unique_ptr<refhost::Worker>> workers;
    const int count = (flags & kSecondWorker) ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        workers.push_back(std::make_unique<refhost::Worker>(i, faults));
        refhost::Worker& worker = *workers.back();
        worker.setTask("", task);
        Store(worker.container("WorkerStatXML"), statXML, flags & kStatXMLKeyed);
        Store(worker.container("WorkerPMML"), pmml, flags & kPMMLKeyed);
        if (begun) collect->completedWorkerTask(worker, (flags & kWorkerFailed) ? 42 : 0);
    }
    // Every execution begun is ended, a failed begin's included: only end
    // execution releases the execution's documents.
    collect->endExecution();
    if (flags & kEndTwice) collect->endExecution();

    CheckMessages(SharedModule().api(), collect->handle());
    FUZZ_CHECK(collect->destroy() == 0);
    CheckOutputs(context);
    return 0;
}

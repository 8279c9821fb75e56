// Fuzzes the parameter documents of both components and the input data model
// (after one flags byte, cut at byte 0x1e) through configure, begin, serve and
// end; every call returns a status and the messages parse.
#include "fuzz_support.h"

namespace {

using namespace fuzzsupport;

// The text the getParameters word of a patched context record hands out.
thread_local const std::string* gParameters = nullptr;

cf_status FuzzedParameters(void*, char* buffer, size_t size, size_t* needed, int*) {
    return refhost::deliverText(*gParameters, buffer, size, needed);
}

// A component created on a copy of the context's record whose parameter
// word is replaced; every other word still reaches the reference context.
class PatchedComponent {
public:
    PatchedComponent(refhost::Context& context, const char* name, const std::string& parameters)
        : api_(SharedModule().api()), parameters_(parameters) {
        record_ = *context.record();
        record_.getParameters = &FuzzedParameters;
        int err = 0;
        FUZZ_CHECK(api_.cf_create_component(&record_, name, &handle_, &err) == 0);
    }
    ~PatchedComponent() {
        int err = 0;
        FUZZ_CHECK(api_.cf_destroy_component(handle_, &err) == 0);
    }
    void* handle() const { return handle_; }
    const refhost::EntryPoints& api() const { return api_; }
    // Entry points that read the parameters run with this component's text.
    void select() const { gParameters = &parameters_; }

private:
    const refhost::EntryPoints& api_;
    const std::string& parameters_;
    CFContext record_;
    void* handle_ = nullptr;
};

void RunDistribute(refhost::Context& context, const std::string& parameters, bool endTwice) {
    PatchedComponent distribute(context, "split_distribute", parameters);
    const refhost::EntryPoints& api = distribute.api();
    int err = 0;
    distribute.select();
    api.cf_component_configure(distribute.handle(), &err);
    int64 count = 0;
    api.cf_distribute_getWorkerTaskNumber(distribute.handle(), &count, &err);
    if (api.cf_component_beginExecution(distribute.handle(), context.progress(), &err) == 0) {
        for (refhost::Worker* worker : context.workers()) {
            std::string first(64, '\0'), second(4096, '\0');
            size_t firstNeeded = 0, secondNeeded = 0;
            api.cf_distribute_getWorkerTask(distribute.handle(), worker->record(), first.data(),
                                            first.size(), &firstNeeded, second.data(),
                                            second.size(), &secondNeeded, &err);
        }
    }
    api.cf_component_endExecution(distribute.handle(), &err);
    if (endTwice) api.cf_component_endExecution(distribute.handle(), &err);
    CheckMessages(api, distribute.handle());
}

void RunCollect(refhost::Context& context, const std::string& parameters) {
    PatchedComponent collect(context, "split_collect", parameters);
    const refhost::EntryPoints& api = collect.api();
    int err = 0;
    collect.select();
    api.cf_component_configure(collect.handle(), &err);
    if (api.cf_component_beginExecution(collect.handle(), context.progress(), &err) == 0) {
        refhost::Worker worker(0);
        worker.setTask("", R"(<SplitFields><SplitField name="region" value="north" isNull="false"/></SplitFields>)");
        worker.container("WorkerStatXML").setDefaultEntry(
            R"(<StatXML><PMMLModel modelID="m" isActive="true"><PredictiveSummary name="r2" value="1"/></PMMLModel></StatXML>)");
        worker.container("WorkerPMML").setDefaultEntry(R"(<PMML version="4.4"><Header/></PMML>)");
        err = 0;
        api.cf_collect_completedWorkerTask(collect.handle(), worker.record(), &err);
    }
    api.cf_component_endExecution(collect.handle(), &err);
    CheckMessages(api, collect.handle());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader reader(data, size);
    const uint8_t flags = reader.byte();
    const std::vector<std::string> texts = SplitTexts(reader.rest(), '\x1e', 3);

    SharedModule();
    refhost::Context context(SharedHost());
    context.setInput(SmallInput());
    context.setDataModel(texts[2]);
    if (flags & 1) context.setThreadServices(false);

    RunDistribute(context, texts[0], flags & 2);
    RunCollect(context, texts[1]);
    return 0;
}

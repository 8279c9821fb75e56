// A component handle: entry point calls with the buffer protocol handled.
#include "refhost/component.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace refhost {

namespace {

int* slot(int* err, int& scratch) { return err != nullptr ? err : &scratch; }

// Calls a text-producing entry point by the buffer protocol: size 0 first,
// then a buffer of the needed size (the calling thread's, kept from call to
// call: some texts are fetched once per group). The text goes into `text`.
template <typename Call>
void fetchTextInto(Call call, std::string& text, cf_status* status) {
    thread_local std::vector<char> buffer;
    size_t needed = 0;
    cf_status s = call(nullptr, 0, &needed);
    text.clear();
    if (s == CF_BUFFER_TOO_SMALL && needed > 0) {
        const size_t size = needed;
        if (buffer.size() < size) buffer.resize(size);
        std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size), '\0');
        s = call(buffer.data(), size, &needed);
        if (s == 0) text.assign(buffer.data(), strnlen(buffer.data(), size));
    } else if (s == 0) {
        s = CF_FAILED;  // a text was claimed to fit into no buffer at all
    }
    if (status != nullptr) *status = s;
}

template <typename Call>
std::string fetchText(Call call, cf_status* status) {
    std::string text;
    fetchTextInto(call, text, status);
    return text;
}

}  // namespace

Component::Component(Module& module, Context& context, std::string name, void* handle)
    : module_(module), context_(context), name_(std::move(name)), handle_(handle) {}

Component::Component(Module& module, Context& context, const std::string& name)
    : module_(module), context_(context), name_(name) {
    int err = 0;
    const cf_status status =
        module.api().cf_create_component(context.record(), name.c_str(), &handle_, &err);
    if (status != 0) {
        throw std::runtime_error("cannot create component " + name + ": status " +
                                 std::to_string(status) + ", error " + std::to_string(err));
    }
}

std::unique_ptr<Component> Component::create(Module& module, Context& context,
                                             const std::string& name, cf_status* status,
                                             int* err) {
    int scratch = 0;
    void* handle = nullptr;
    const cf_status s =
        module.api().cf_create_component(context.record(), name.c_str(), &handle, slot(err, scratch));
    if (status != nullptr) *status = s;
    if (s != 0) return nullptr;
    return std::unique_ptr<Component>(new Component(module, context, name, handle));
}

Component::~Component() {
    if (!destroyed_) destroy();
}

cf_status Component::destroy(int* err) {
    if (destroyed_) return CF_OK;
    destroyed_ = true;
    int scratch = 0;
    return module_.api().cf_destroy_component(handle_, slot(err, scratch));
}

cf_status Component::configure(int* err) {
    int scratch = 0;
    return module_.api().cf_component_configure(handle_, slot(err, scratch));
}

cf_status Component::beginExecution(int* err) { return beginExecution(context_.progress(), err); }

cf_status Component::beginExecution(CFProgress* progress, int* err) {
    int scratch = 0;
    return module_.api().cf_component_beginExecution(handle_, progress, slot(err, scratch));
}

cf_status Component::endExecution(int* err) {
    int scratch = 0;
    return module_.api().cf_component_endExecution(handle_, slot(err, scratch));
}

cf_status Component::nextRecord(int* err) {
    int scratch = 0;
    return module_.api().cf_component_nextRecord(handle_, slot(err, scratch));
}

cf_status Component::getRecordValue(size_t field, void** value, size_t* length, int* err) {
    int scratch = 0;
    return module_.api().cf_component_getRecordValue(handle_, field, value, length,
                                                     slot(err, scratch));
}

std::string Component::messagesXml(cf_status* status, int* err) {
    int scratch = 0;
    int* errSlot = slot(err, scratch);
    return fetchText(
        [&](char* buffer, size_t size, size_t* needed) {
            return module_.api().cf_component_getMessages(handle_, buffer, size, needed, errSlot);
        },
        status);
}

std::vector<Message> Component::messages(cf_status* status, int* err) {
    cf_status s = 0;
    const std::string text = messagesXml(&s, err);
    std::vector<Message> out;
    if (s == 0 && !parseMessages(text, &out)) s = CF_BAD_XML;
    if (status != nullptr) *status = s;
    return out;
}

cf_status Component::getWorkerTask(Worker& worker, std::string* first, std::string* second,
                                   int* err, size_t initialSize) {
    int scratch = 0;
    int* errSlot = slot(err, scratch);
    // The two buffers are the calling thread's, kept from call to call: a
    // run makes one call per group, and fresh zeroed buffers for each were
    // a good part of the hand-out's cost. A buffer is offered at the size
    // asked for, whatever it holds beyond that.
    thread_local std::vector<char> a;
    thread_local std::vector<char> b;
    size_t sizeA = initialSize > 0 ? initialSize : 1;
    size_t sizeB = sizeA;
    size_t needA = 0;
    size_t needB = 0;
    auto call = [&] {
        if (a.size() < sizeA) a.resize(sizeA);
        if (b.size() < sizeB) b.resize(sizeB);
        return module_.api().cf_distribute_getWorkerTask(handle_, worker.record(), a.data(),
                                                         sizeA, &needA, b.data(), sizeB,
                                                         &needB, errSlot);
    };
    cf_status status = call();
    if (status == CF_BUFFER_TOO_SMALL) {
        sizeA = std::max(needA, sizeA);
        sizeB = std::max(needB, sizeB);
        status = call();
    }
    if (status == 0) {
        a[sizeA - 1] = '\0';
        b[sizeB - 1] = '\0';
        if (first != nullptr) first->assign(a.data());
        if (second != nullptr) second->assign(b.data());
    }
    return status;
}

cf_status Component::getWorkerTaskNumber(int64* count, int* err) {
    int scratch = 0;
    return module_.api().cf_distribute_getWorkerTaskNumber(handle_, count, slot(err, scratch));
}

cf_status Component::getDataModel(Worker* worker, size_t index, std::string* text, int* err) {
    int scratch = 0;
    int* errSlot = slot(err, scratch);
    CFWorker* record = worker != nullptr ? worker->record() : nullptr;
    cf_status status = 0;
    // Fetched into the caller's string only when it succeeds.
    thread_local std::string fetched;
    fetchTextInto(
        [&](char* buffer, size_t size, size_t* needed) {
            return module_.api().cf_distribute_getDataModel(handle_, record, index, buffer, size,
                                                            needed, errSlot);
        },
        fetched, &status);
    if (status == 0 && text != nullptr) text->assign(fetched);
    return status;
}

cf_status Component::getIterator(Worker* worker, size_t index, CFIterator** iterator, int* err) {
    int scratch = 0;
    return module_.api().cf_distribute_getIterator(
        handle_, worker != nullptr ? worker->record() : nullptr, index, iterator, slot(err, scratch));
}

cf_status Component::getContainer(Worker* worker, const std::string& name,
                                  CFContainerFile** container, int* err) {
    int scratch = 0;
    return module_.api().cf_distribute_getContainer(
        handle_, worker != nullptr ? worker->record() : nullptr, name.c_str(), container,
        slot(err, scratch));
}

cf_status Component::startedWorkerTask(Worker& worker, int* err) {
    int scratch = 0;
    return module_.api().cf_collect_startedWorkerTask(handle_, worker.record(), slot(err, scratch));
}

cf_status Component::completedWorkerTask(Worker& worker, int outcome, int* err) {
    int value = outcome;
    const cf_status status =
        module_.api().cf_collect_completedWorkerTask(handle_, worker.record(), &value);
    if (err != nullptr) *err = value;
    return status;
}

}  // namespace refhost

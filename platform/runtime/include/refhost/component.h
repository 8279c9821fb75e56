// A component created through the module on a context: thin methods over
// the entry points, with the buffer protocol handled.
#ifndef REFHOST_COMPONENT_H
#define REFHOST_COMPONENT_H

#include <memory>
#include <string>
#include <vector>

#include "cf_records.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/worker.h"

namespace refhost {

// Every method returns the entry point's status; err slots default to a
// scratch slot when not given.
class Component {
public:
    // cf_create_component; throws std::runtime_error (with status and err)
    // when the module refuses.
    Component(Module& module, Context& context, const std::string& name);
    // The same without throwing: null on failure, with status and err.
    static std::unique_ptr<Component> create(Module& module, Context& context,
                                             const std::string& name, cf_status* status,
                                             int* err);
    // cf_destroy_component unless destroy() was called.
    ~Component();
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    void* handle() const { return handle_; }
    Module& module() const { return module_; }
    Context& context() const { return context_; }
    const std::string& name() const { return name_; }

    cf_status destroy(int* err = nullptr);
    cf_status configure(int* err = nullptr);
    // With the context's progress record.
    cf_status beginExecution(int* err = nullptr);
    cf_status beginExecution(CFProgress* progress, int* err = nullptr);
    cf_status endExecution(int* err = nullptr);
    cf_status nextRecord(int* err = nullptr);
    cf_status getRecordValue(size_t field, void** value, size_t* length, int* err = nullptr);

    // cf_component_getMessages by the buffer protocol (size 0 first, then
    // the needed size), parsed. The status goes to *status when given; text
    // that does not parse gives status 5 and no messages.
    std::vector<Message> messages(cf_status* status = nullptr, int* err = nullptr);
    // The raw message document (buffer protocol handled).
    std::string messagesXml(cf_status* status = nullptr, int* err = nullptr);

    // Distribute entry points.
    // getWorkerTask starting with buffers of the given size; on 13 once more
    // with buffers of the needed sizes. first/second receive the texts.
    cf_status getWorkerTask(Worker& worker, std::string* first, std::string* second,
                            int* err = nullptr, size_t initialSize = 8192);
    cf_status getWorkerTaskNumber(int64* count, int* err = nullptr);
    // Buffer protocol handled.
    cf_status getDataModel(Worker* worker, size_t index, std::string* text, int* err = nullptr);
    cf_status getIterator(Worker* worker, size_t index, CFIterator** iterator,
                          int* err = nullptr);
    cf_status getContainer(Worker* worker, const std::string& name,
                           CFContainerFile** container, int* err = nullptr);

    // Collect entry points. completedWorkerTask stores outcome in the error
    // slot before the call; the slot's value afterwards goes to *err.
    cf_status startedWorkerTask(Worker& worker, int* err = nullptr);
    cf_status completedWorkerTask(Worker& worker, int outcome, int* err = nullptr);

private:
    Component(Module& module, Context& context, std::string name, void* handle);

    Module& module_;
    Context& context_;
    std::string name_;
    void* handle_ = nullptr;
    bool destroyed_ = false;
};

// Parses a message document
// <Messages><Message type=".." code=".."><Argument value=".."/></Message></Messages>;
// false when it does not parse or its root is not Messages.
bool parseMessages(const std::string& text, std::vector<Message>* messages);

}  // namespace refhost

#endif

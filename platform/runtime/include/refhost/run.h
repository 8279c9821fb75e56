// The run driver: one whole split run, distribution, workers and collection,
// done the way a host does it.
#ifndef REFHOST_RUN_H
#define REFHOST_RUN_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cf_records.h"
#include "refhost/container.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/table.h"

namespace refhost {

class Engine;
class EntrySink;

// What a worker function receives for one group.
struct WorkerJob {
    size_t groupIndex = 0;  // the group's position in distribution order (0-based)
    std::string task;       // the worker task document
    // The group's records, read through the worker's iterator: a view of
    // the input table's rows (kept alive by the view) where the group is
    // one run of them, a copy otherwise.
    TableRows records;
    // The data model the distribute component gave (never null in a job
    // the run hands out). Every job given the run's input data model shares
    // the run's one copy, so a worker function that prepares something
    // from it once per run recognises it by the pointer alone.
    std::shared_ptr<const std::string> dataModel;
    // "WorkerInputPMML" and "WorkerInputStatXML", when given (null when
    // not). Every job of a run that gets the same bytes shares one
    // read-only copy of them, however many groups and threads there are.
    std::shared_ptr<const std::string> inputPmml;
    std::shared_ptr<const std::string> inputStatXml;
};

// What a worker function returns. The texts are written into the worker's
// "WorkerStatXML" and "WorkerPMML" default entries (empty texts are not
// written); outcome is handed to the collect component (0 succeeded).
struct WorkerOutput {
    int outcome = 0;
    std::string reason;
    std::string statXml;
    std::string pmml;
    // Opaque bytes a worker that ran in another process sends back beside
    // its texts, for the host process to take in (see RunConfig::received).
    std::string attachment;
};

// Called on pool threads, several at once when threads > 1. An exception
// counts as outcome 1 with its message as the reason.
using WorkerFunction = std::function<WorkerOutput(const WorkerJob&)>;

struct RunConfig {
    Table input;
    // When set, the input instead of `input`, shared with the run rather
    // than copied into it (for large tables).
    std::shared_ptr<const Table> sharedInput;
    // When set, the input instead of either table: records read pass by
    // pass from the source, never held whole (the data model must then be
    // given, or it lists no categories).
    std::shared_ptr<const RecordSource> source;
    // The table the run reads: sharedInput when set, else input.
    const Table& inputTable() const { return sharedInput ? *sharedInput : input; }
    // The input's columns, whichever kind of input is set.
    const std::vector<Column>& inputColumns() const {
        return source ? source->columns() : inputTable().columns();
    }
    // The input data model text; empty: dataModelXml(input) with the
    // target fields marked "target" and the input fields "input".
    std::string dataModel;
    std::vector<std::string> splitFields;   // parameter split_fields of split_distribute
    std::vector<std::string> targetFields;  // "TargetFieldList" of split_collect (when non-empty)
    std::vector<std::string> inputFields;   // "InputFieldList" of split_collect (when non-empty)
    // Distribute's "InputPMML" and "InputStatXML" containers, when set.
    // The containers hold these bytes themselves, and every worker's copy
    // that the module writes unchanged shares them: a document is held
    // once however many groups and threads there are.
    SharedBytes inputPmml;
    SharedBytes inputStatXml;
    WorkerFunction worker;
    size_t threads = 1;
    // Where the worker function runs; null: on `threads` pool threads of
    // this process. Not owned; must outlive the run.
    Engine* engine = nullptr;
    // Called on pool threads with each job and the output its worker gave
    // (before the output is written to the worker's containers); an
    // exception fails the group. For taking in output attachments.
    std::function<void(const WorkerJob&, WorkerOutput&)> received;
    // Called with (groups done, groups total) each time a worker finishes,
    // from pool threads but never two at once.
    std::function<void(size_t, size_t)> progress;
    // When set, the collect component's "StatXML" and "PMML" entries are
    // stored there as each is closed, rather than spooled until the run
    // ends; RunResult::outputs reads them back from it. Not owned; must
    // outlive the result.
    EntrySink* outputSink = nullptr;
    // Called on `threads` - 1 threads of the run's own (none with one
    // thread; at most one fewer than the processor runs at once) while the distribute component's begin execution plans the
    // workers, which holds the calling thread and leaves the others idle:
    // the place for work the workers' jobs can take over later, such as
    // fits made ahead of their hand-out. Gets the run's shared data model
    // text (what every job that is given the same text shares) and a flag
    // set once planning has ended; the run goes on when every call has
    // returned, so a call should return soon after the flag is set. An
    // exception it throws is dropped.
    std::function<void(const std::shared_ptr<const std::string>& dataModel, const std::atomic<bool>& planned)>
        whilePlanning;
    // Called once both contexts are set up, before the components are
    // created: the place to inject faults or withdraw thread services.
    std::function<void(Context& distribute, Context& collect)> prepare;
    // Given the run's host objects (its contexts with their containers,
    // keys and record sets) when runSplit returns, instead of their being
    // freed there; null frees them there.
    std::function<void(std::shared_ptr<void> hostObjects)> dispose;
};

// The status of one step of the run ("distribute.create", "collect.configure",
// "distribute.beginExecution", ... in the order they ran).
struct StepStatus {
    std::string step;
    cf_status status = 0;
    int err = 0;
};

// One group handed to a worker.
struct GroupReport {
    size_t index = 0;         // record set sequence number
    int64_t workerId = 0;
    std::string task;
    size_t records = 0;
    cf_status iteratorStatus = 0;
    cf_status dataModelStatus = 0;
    cf_status pmmlContainerStatus = 0;     // 0 when none was asked for
    cf_status statXmlContainerStatus = 0;  // 0 when none was asked for
    int outcome = 0;
    std::string reason;
    cf_status collectStatus = 0;  // 1 without a call when collection did not begin
    int collectErr = 0;           // the error slot after the call
};

// A worker whose getWorkerTask did not give it a group.
struct TaskFailure {
    int64_t workerId = 0;
    cf_status status = 0;
    int err = 0;
};

// The entries the collect component wrote to its output containers. Their
// bytes stay where the containers put them, in spool files or the run's
// entry sink, and are read back on each call, so a result of many groups holds only the entries'
// keys and properties in memory. Reading is thread-safe; adding is not.
class RunOutputs {
public:
    // Entries under that container name ("StatXML", "PMML"); 0 for a name
    // the component never wrote to.
    size_t count(const std::string& container) const;
    // The index-th entry in write order, its bytes read back. Throws
    // std::out_of_range when index >= count(container).
    Entry entry(const std::string& container, size_t index) const;
    // Only the index-th entry's bytes, read back (the same throw).
    std::string content(const std::string& container, size_t index) const;
    // Every entry in write order, bytes read back (for tests and small runs:
    // this holds them all in memory at once).
    std::vector<Entry> entries(const std::string& container) const;
    // The position of the first complete entry with that key; nullopt when
    // there is none.
    std::optional<size_t> find(const std::string& container, const std::string& key) const;
    // The index-th entry's handle in the run's entry sink (see
    // RunConfig::outputSink); -1 when it is not stored there. Throws
    // std::out_of_range when index >= count(container).
    int64_t sinkHandle(const std::string& container, size_t index) const;

    // Appends the entries of one container (taken with takeEntries) under
    // that name, after those added before.
    void add(const std::string& container, std::shared_ptr<const EntryStore> store);

private:
    struct Named {
        std::vector<std::shared_ptr<const EntryStore>> stores;
        // Each entry's store (index into stores) and position in it.
        std::vector<std::pair<uint32_t, uint32_t>> order;
        std::unordered_map<std::string, size_t> firstComplete;  // key -> entry
    };
    const Named* named(const std::string& container) const;
    // The store holding the index-th entry and its position there.
    std::pair<const EntryStore*, size_t> locate(const std::string& container, size_t index) const;
    std::unordered_map<std::string, Named> containers_;
};

struct RunResult {
    std::vector<StepStatus> steps;
    std::vector<Message> distributeMessages;
    std::vector<Message> collectMessages;
    size_t workersCreated = 0;
    std::vector<GroupReport> groups;         // in group order
    std::vector<TaskFailure> taskFailures;   // in worker order
    RunOutputs outputs;                      // collect's "StatXML" and "PMML" entries

    // Status of the last step of that name; nullopt when it did not run.
    std::optional<StepStatus> step(const std::string& name) const;
    // Every step returned 0, no task failed, every group succeeded and was
    // collected with status 0.
    bool ok() const;
};

// Does a whole run: initialises the module with the host; creates
// split_distribute (parameter split_fields) and split_collect
// (TargetFieldList, InputFieldList) on two contexts sharing the host's
// faults, with the input, its data model and the input containers on the
// distribute context; configures and begins both; then on `threads` pool
// threads (as many as the engine's concurrency when there is one), for
// every worker the distribute component created: gets its task (once more
// with the needed sizes on 13; one call at a time when the distribute
// context offers no thread services), its iterator, data model and input
// containers, runs the worker function (through the engine when there is
// one), writes its outputs, and hands completed tasks to the collect
// component strictly in group order, so the output does not depend on the
// thread count; ends and destroys both. A
// failing step is recorded and the run goes on where a host would (a failed
// create or configure skips the rest; end execution and destruction always
// run for what was created). Messages of both components are fetched
// before destruction.
RunResult runSplit(Module& module, Host& host, const RunConfig& config);

}  // namespace refhost

#endif

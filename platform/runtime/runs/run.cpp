// The run driver: a whole split run from distribution through the workers
// to collection, as a host does it.
#include "refhost/run.h"

#include <algorithm>
#include <atomic>
#include <tuple>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "group_delivery.h"
#include "refhost/component.h"
#include "refhost/engine.h"
#include "refhost/thread_pool.h"

namespace refhost {

namespace {

// Tasks in flight per pool thread: enough to keep every thread busy past a
// group several times slower than the rest, few enough that the groups
// waiting for collection hold little.
constexpr size_t kTasksInFlightPerThread = 16;

// One worker's passage through the run.
struct WorkerSlot {
    Worker* worker = nullptr;
    // What the worker held for its last collected task, freed by the thread
    // that gives it its next one rather than by the collecting thread,
    // which every finished group waits for.
    Worker::Held released;
    GroupReport report;
    bool inFlight = false;  // counts against the window; under freeMutex_
};

std::string defaultDataModel(const RunConfig& config) {
    DataModelOptions options;
    for (const auto& name : config.targetFields) options.roles[name] = "target";
    for (const auto& name : config.inputFields) options.roles[name] = "input";
    for (const auto& name : config.splitFields) options.roles.emplace(name, "split");
    if (config.source) return dataModelXml(Table(config.source->columns()), options);
    return dataModelXml(config.inputTable(), options);
}

class RunState {
public:
    RunState(Module& module, Host& host, const RunConfig& config)
        : module_(module), config_(config), distribute_(host), collect_(host) {}

    RunResult run();

private:
    void note(const std::string& step, cf_status status, int err) {
        result_.steps.push_back(StepStatus{step, status, err});
    }
    void prepareContexts();
    bool createAndConfigure();
    void beginBoth();
    void runWorkers();
    size_t takeWorker();
    void giveBack(size_t position);
    void leaveWindow(size_t position);
    void serveWorker(size_t position);
    std::optional<uint64_t> setCreatedHere(size_t createdBefore) const;
    bool fetchInput(Worker& worker, const std::string& name, std::shared_ptr<const std::string>* text,
                    cf_status* status);
    cf_status fetchDataModel(Worker& worker, std::shared_ptr<const std::string>* text, int* err);
    void runWorkerFunction(WorkerSlot& slot, const WorkerJob& job);
    void deliver(WorkerSlot& slot);
    void noteProgress();
    void endAndDestroy();
    void gatherOutputs();

    Module& module_;
    const RunConfig& config_;
    Context distribute_;
    Context collect_;
    std::unique_ptr<Component> distributor_;
    std::unique_ptr<Component> collector_;
    bool distributeBegun_ = false;
    bool collectBegun_ = false;
    bool collectStarted_ = false;  // begin execution was called, whatever it returned
    RunResult result_;
    std::vector<WorkerSlot> slots_;
    std::unique_ptr<GroupDelivery> delivery_;
    // Serialises the hand-out when the distribute context offers no thread
    // services: the component then has no lock of its own.
    std::mutex handOutMutex_;
    bool serialiseHandOut_ = false;
    // Workers whose last task was collected (or never began), ready for
    // the next; the most recently freed is reused first, so a run keeps
    // only as many workers, and record sets, as it has tasks in flight.
    // A thread waits for a new hand-out while `window_` tasks are in
    // flight (handed out, not yet collected), so a slow group cannot leave
    // every later one waiting for collection with its records; it goes on
    // regardless when every pool thread would wait.
    std::mutex freeMutex_;
    std::condition_variable room_;
    std::vector<size_t> freeWorkers_;
    size_t unusedWorkers_ = 0;  // workers [unusedWorkers_, end) never had a task
    size_t inFlight_ = 0;
    size_t waiting_ = 0;
    size_t threads_ = 1;  // pool threads still making hand-outs
    size_t window_ = 1;
    std::mutex failuresMutex_;
    std::mutex progressMutex_;
    // The input containers' copies are fetched one at a time, and the
    // bytes each fetch gives are shared by every job that gets the same.
    std::mutex inputMutex_;
    std::map<std::string, std::shared_ptr<const std::string>> sharedInputs_;
    // The run's input data model, which every job the module gives the
    // same text shares.
    std::shared_ptr<const std::string> dataModel_;
    size_t done_ = 0;
    size_t total_ = 0;
};

void RunState::prepareContexts() {
    const std::string dataModel =
        config_.dataModel.empty() ? defaultDataModel(config_) : config_.dataModel;
    const size_t threads = std::max<size_t>(config_.threads, 1);
    if (config_.source)
        distribute_.setInput(config_.source);
    else if (config_.sharedInput)
        distribute_.setInput(config_.sharedInput);
    else
        distribute_.setInput(config_.input);
    distribute_.setDataModel(dataModel);
    dataModel_ = distribute_.sharedDataModel();
    distribute_.setParameter("split_fields", config_.splitFields);
    distribute_.setThreadCount(threads);
    const std::pair<const char*, const SharedBytes*> inputs[] = {
        {"PMML", &config_.inputPmml}, {"StatXML", &config_.inputStatXml}};
    for (const auto& [kind, bytes] : inputs) {
        if (!*bytes) continue;
        distribute_.container(std::string("Input") + kind).setDefaultEntry(*bytes);
        distribute_.expectDefaultEntries(std::string("WorkerInput") + kind, *bytes);
    }
    collect_.setDataModel(dataModel);
    if (!config_.targetFields.empty())
        collect_.setParameter("TargetFieldList", config_.targetFields);
    if (!config_.inputFields.empty()) collect_.setParameter("InputFieldList", config_.inputFields);
    collect_.setThreadCount(threads);
    if (config_.outputSink) collect_.storeEntriesIn(config_.outputSink, {"StatXML", "PMML"});
    if (config_.prepare) config_.prepare(distribute_, collect_);
}

bool RunState::createAndConfigure() {
    cf_status status = 0;
    int err = 0;
    distributor_ = Component::create(module_, distribute_, "split_distribute", &status, &err);
    note("distribute.create", status, err);
    err = 0;
    collector_ = Component::create(module_, collect_, "split_collect", &status, &err);
    note("collect.create", status, err);
    if (!distributor_ || !collector_) return false;

    err = 0;
    const cf_status distributeConfigured = distributor_->configure(&err);
    note("distribute.configure", distributeConfigured, err);
    err = 0;
    const cf_status collectConfigured = collector_->configure(&err);
    note("collect.configure", collectConfigured, err);
    return distributeConfigured == 0 && collectConfigured == 0;
}

void RunState::beginBoth() {
    int err = 0;
    std::atomic<bool> planned{false};
    std::vector<std::thread> ahead;
    // Never more threads than the processor runs at once: the planning
    // thread must not wait for them.
    const size_t processors = std::max<size_t>(std::thread::hardware_concurrency(), 1);
    if (config_.whilePlanning)
        for (size_t t = 1; t < std::min(config_.threads, processors); ++t)
            ahead.emplace_back([this, &planned] {
                try {
                    config_.whilePlanning(dataModel_, planned);
                } catch (...) {
                    // Work done ahead is only ever a shortcut: the workers do it anyway.
                }
            });
    const cf_status distributeStatus = distributor_->beginExecution(&err);
    planned = true;
    for (std::thread& thread : ahead) thread.join();
    note("distribute.beginExecution", distributeStatus, err);
    distributeBegun_ = distributeStatus == 0;
    err = 0;
    collectStarted_ = true;
    const cf_status collectStatus = collector_->beginExecution(&err);
    note("collect.beginExecution", collectStatus, err);
    collectBegun_ = collectStatus == 0;
}

// The record set a GetWorkerTask call on this thread created, if any: a
// thread serves one call at a time, so the newest set it created since the
// call began is the call's.
std::optional<uint64_t> RunState::setCreatedHere(size_t createdBefore) const {
    const auto sets = distribute_.recordSetsSince(createdBefore);
    const auto me = std::this_thread::get_id();
    for (size_t i = sets.size(); i > 0; --i)
        if (sets[i - 1]->creator() == me) return sets[i - 1]->sequence();
    return std::nullopt;
}

// The module writes each worker a fresh copy of the input container. Its
// bytes are taken out of that copy (which the module never uses again) and
// handed to the worker function as the run's one shared text when they
// are the same as the last fetch's, so a large input document is held
// once, not once per group or per worker.
bool RunState::fetchInput(Worker& worker, const std::string& name,
                          std::shared_ptr<const std::string>* text, cf_status* status) {
    std::lock_guard<std::mutex> guard(inputMutex_);
    CFContainerFile* record = nullptr;
    int err = 0;
    *status = distributor_->getContainer(&worker, name, &record, &err);
    if (*status != 0) return false;
    Container* copy = Container::fromRecord(record);
    if (copy == nullptr) {
        *status = CF_FAILED;
        return false;
    }
    // A copy written unchanged holds the input's own bytes; one that
    // differs is compared with the last one fetched, so that equal copies
    // are still held once.
    SharedBytes bytes = copy->takeDefaultBytes();
    if (!bytes) bytes = std::make_shared<const std::string>();
    SharedBytes& shared = sharedInputs_[name];
    if (!shared || (shared != bytes && *shared != *bytes)) shared = std::move(bytes);
    *text = shared;
    return true;
}

// The data model the module gives the worker: the run's own shared text
// when it is the same (as it is for every worker of a run whose module
// hands on its input's), so that the worker function recognises it by the
// pointer; a copy of its own otherwise.
cf_status RunState::fetchDataModel(Worker& worker, std::shared_ptr<const std::string>* text, int* err) {
    thread_local std::string fetched;
    const cf_status status = distributor_->getDataModel(&worker, 0, &fetched, err);
    if (status != 0) return status;
    if (dataModel_ && fetched == *dataModel_)
        *text = dataModel_;
    else
        *text = std::make_shared<const std::string>(fetched);
    return status;
}

void RunState::runWorkerFunction(WorkerSlot& slot, const WorkerJob& job) {
    WorkerOutput output;
    if (!config_.worker) {
        output.outcome = 1;
        output.reason = "no worker function";
    } else {
        try {
            output = config_.engine ? config_.engine->run(job, config_.worker) : config_.worker(job);
            if (config_.received) config_.received(job, output);
        } catch (const std::exception& error) {
            output = WorkerOutput{1, error.what(), "", "", ""};
        } catch (...) {
            output = WorkerOutput{1, "the worker function failed", "", "", ""};
        }
    }
    Worker& worker = *slot.worker;
    if (!output.statXml.empty()) worker.container("WorkerStatXML").setDefaultEntry(output.statXml);
    if (!output.pmml.empty()) worker.container("WorkerPMML").setDefaultEntry(output.pmml);
    slot.report.outcome = output.outcome;
    slot.report.reason = output.reason;
}

// A worker for the next hand-out. There is always one: a hand-out takes a
// worker, and there are as many workers as hand-outs.
size_t RunState::takeWorker() {
    std::unique_lock<std::mutex> lock(freeMutex_);
    ++waiting_;
    room_.wait(lock, [this] { return inFlight_ < window_ || waiting_ == threads_; });
    --waiting_;
    ++inFlight_;
    size_t position = unusedWorkers_;
    if (!freeWorkers_.empty()) {
        position = freeWorkers_.back();
        freeWorkers_.pop_back();
    } else {
        ++unusedWorkers_;
    }
    slots_[position].inFlight = true;
    return position;
}

void RunState::giveBack(size_t position) {
    {
        std::lock_guard<std::mutex> guard(freeMutex_);
        freeWorkers_.push_back(position);
        if (slots_[position].inFlight) --inFlight_;
        slots_[position].inFlight = false;
    }
    room_.notify_all();
}

// A task done whose group is unknown: collected only at the end, so it
// holds its worker but no longer counts against the window.
void RunState::leaveWindow(size_t position) {
    {
        std::lock_guard<std::mutex> guard(freeMutex_);
        if (slots_[position].inFlight) --inFlight_;
        slots_[position].inFlight = false;
    }
    room_.notify_all();
}

// One hand-out, to the worker at `position`. A worker asking again gives
// the distribute component back the record set of its previous task, which
// that task's worker function has read in full by then.
void RunState::serveWorker(size_t position) {
    WorkerSlot& slot = slots_[position];
    Worker& worker = *slot.worker;
    { const Worker::Held freed = std::move(slot.released); }  // moved out, so that its memory goes too
    slot.report = GroupReport{};
    GroupReport& report = slot.report;
    report.workerId = worker.id();

    std::string first;
    std::string second;
    int err = 0;
    std::unique_lock<std::mutex> handOut(handOutMutex_, std::defer_lock);
    if (serialiseHandOut_) handOut.lock();
    const size_t createdBefore = distribute_.recordSetsCreated();
    const cf_status taskStatus = distributor_->getWorkerTask(worker, &first, &second, &err);
    const std::optional<uint64_t> created = setCreatedHere(createdBefore);
    if (handOut.owns_lock()) handOut.unlock();
    if (taskStatus != 0) {
        {
            std::lock_guard<std::mutex> guard(failuresMutex_);
            result_.taskFailures.push_back(TaskFailure{worker.id(), taskStatus, err});
        }
        if (created) delivery_->skip(*created);
        noteProgress();
        giveBack(position);
        return;
    }
    worker.setTask(first, second);
    report.task = second;

    CFIterator* iterator = nullptr;
    err = 0;
    report.iteratorStatus = distributor_->getIterator(&worker, 0, &iterator, &err);
    std::optional<uint64_t> index = created;
    if (report.iteratorStatus == 0) {
        worker.setIterator(iterator);
        if (RecordSet* set = recordSetOfIterator(iterator)) index = set->sequence();
    }

    WorkerJob job;
    job.groupIndex = index.value_or(0);
    job.task = second;
    err = 0;
    report.dataModelStatus = fetchDataModel(worker, &job.dataModel, &err);
    bool ready = report.iteratorStatus == 0 && report.dataModelStatus == 0;
    if (config_.inputPmml &&
        !fetchInput(worker, "WorkerInputPMML", &job.inputPmml, &report.pmmlContainerStatus))
        ready = false;
    if (config_.inputStatXml &&
        !fetchInput(worker, "WorkerInputStatXML", &job.inputStatXml, &report.statXmlContainerStatus))
        ready = false;
    cf_status readStatus = 0;
    if (report.iteratorStatus == 0) {
        job.records = readTable(iterator, config_.inputColumns(), &readStatus);
        report.records = job.records.rowCount();
        if (readStatus != 0) ready = false;
    }

    err = 0;
    collector_->startedWorkerTask(worker, &err);
    if (ready) {
        runWorkerFunction(slot, job);
    } else {
        report.outcome = 1;
        report.reason = readStatus != 0 ? "the group's records could not be read"
                                        : "the worker's inputs could not be fetched";
    }
    noteProgress();
    if (index) {
        report.index = *index;
        delivery_->complete(*index, position);
    } else {
        delivery_->completeUnordered(position);
        leaveWindow(position);
    }
}

// Called by the reorder buffer, one group at a time, in group order.
void RunState::deliver(WorkerSlot& slot) {
    if (!collectBegun_) {
        slot.report.collectStatus = CF_FAILED;  // not handed on: collection never began
    } else {
        int err = 0;
        slot.report.collectStatus =
            collector_->completedWorkerTask(*slot.worker, slot.report.outcome, &err);
        slot.report.collectErr = err;
    }
    result_.groups.push_back(std::move(slot.report));
    // The worker's containers and task are not used again once it is
    // collected (the collect component closed the containers); a run with
    // many groups would otherwise hold every group's until the end. The
    // worker is then free for another task.
    slot.released = slot.worker->release();
    giveBack(static_cast<size_t>(&slot - slots_.data()));
}

void RunState::noteProgress() {
    std::lock_guard<std::mutex> guard(progressMutex_);
    ++done_;
    if (config_.progress) config_.progress(done_, total_);
}

void RunState::runWorkers() {
    const auto workers = distribute_.workers();
    result_.workersCreated = workers.size();
    total_ = workers.size();
    slots_ = std::vector<WorkerSlot>(workers.size());
    // One report per worker at most (a worker whose hand-out fails has
    // none): reserved, so that growing the vector never holds it twice.
    result_.groups.reserve(workers.size());
    for (size_t i = 0; i < workers.size(); ++i) slots_[i].worker = workers[i];
    serialiseHandOut_ = !distribute_.threadServicesOffered();
    delivery_ = std::make_unique<GroupDelivery>([this](size_t item) { deliver(slots_[item]); });
    {
        // One job per thread, each making hand-outs until there have been
        // as many as workers: the queue stays as short as the pool, however
        // many groups there are. Each hand-out goes to a free worker, one
        // whose previous task has been collected.
        const size_t threads =
            std::max<size_t>(config_.engine ? config_.engine->concurrency() : config_.threads, 1);
        threads_ = threads;
        window_ = kTasksInFlightPerThread * threads;
        std::atomic<size_t> handOuts{0};
        ThreadPool pool(threads);
        for (size_t t = 0; t < threads; ++t)
            pool.submit([this, &handOuts] {
                while (handOuts++ < slots_.size()) serveWorker(takeWorker());
                {
                    std::lock_guard<std::mutex> guard(freeMutex_);
                    --threads_;  // one thread fewer that could free the window
                }
                room_.notify_all();
            });
        pool.wait();
    }
    delivery_->finish();
    std::sort(result_.taskFailures.begin(), result_.taskFailures.end(),
              [](const TaskFailure& a, const TaskFailure& b) {
                  // A worker takes several tasks, so its ID can repeat.
                  return std::tie(a.workerId, a.status, a.err) < std::tie(b.workerId, b.status, b.err);
              });
}

void RunState::endAndDestroy() {
    int err = 0;
    if (distributeBegun_) {
        const cf_status status = distributor_->endExecution(&err);
        note("distribute.endExecution", status, err);
    }
    if (collectBegun_) {
        err = 0;
        const cf_status status = collector_->endExecution(&err);
        note("collect.endExecution", status, err);
    }
    cf_status status = 0;
    if (distributor_) {
        err = 0;
        result_.distributeMessages = distributor_->messages(&status, &err);
        note("distribute.messages", status, err);
    }
    if (collector_) {
        err = 0;
        result_.collectMessages = collector_->messages(&status, &err);
        note("collect.messages", status, err);
    }
    if (collectStarted_ && !collectBegun_) {
        // A begin execution that failed may already hold the execution's
        // documents, which only end execution releases. Its status and the
        // messages it adds are not the run's: the run failed at the begin.
        err = 0;
        collector_->endExecution(&err);
    }
    if (distributor_) {
        err = 0;
        note("distribute.destroy", distributor_->destroy(&err), err);
    }
    if (collector_) {
        err = 0;
        note("collect.destroy", collector_->destroy(&err), err);
    }
}

// The entries of every container the collect component opened under each
// name, in the order they were opened and written, handed over to the
// result with the spools that hold their bytes.
void RunState::gatherOutputs() {
    for (const char* name : {"StatXML", "PMML"})
        for (Container* container : collect_.containers(name))
            result_.outputs.add(name, container->takeEntries());
}

RunResult RunState::run() {
    prepareContexts();
    note("initialise", module_.initialise(distribute_.host()), 0);
    if (createAndConfigure()) {
        beginBoth();
        if (distributeBegun_) runWorkers();
    }
    endAndDestroy();
    gatherOutputs();
    return std::move(result_);
}

}  // namespace

RunResult runSplit(Module& module, Host& host, const RunConfig& config) {
    auto state = std::make_shared<RunState>(module, host, config);
    RunResult result = state->run();
    if (config.dispose) config.dispose(std::move(state));
    return result;
}

}  // namespace refhost

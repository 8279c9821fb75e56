// The CFContext record of a component and the state behind its words.
#include "refhost/context.h"

#include <algorithm>

#include "lock_object.h"
#include "refhost/host.h"

namespace refhost {

namespace {

Context* self(void* h) { return static_cast<Context*>(h); }

cf_status parametersWord(void* h, char* buffer, size_t size, size_t* needed, int* err) {
    return self(h)->getParameters(buffer, size, needed, err);
}
cf_status inputIteratorWord(void* h, int index, CFIterator** iterator, int* err) {
    return self(h)->getInputIterator(index, iterator, err);
}
cf_status dataModelWord(void* h, int index, char* buffer, size_t size, size_t* needed, int* err) {
    return self(h)->getInputDataModel(index, buffer, size, needed, err);
}
cf_status inputCountWord(void* h, size_t* count, int* err) { return self(h)->getInputCount(count, err); }
cf_status createWorkerWord(void* h, CFWorker** worker, int* err) {
    return self(h)->createWorker(worker, err);
}
cf_status openContainerWord(void* h, const char* name, int mode, CFContainerFile** container,
                            int* err) {
    return self(h)->openContainer(name, mode, container, err);
}
cf_status createRecordSetWord(void* h, CFRecordSet** records, int* err, const char* name) {
    return self(h)->createRecordSet(records, err, name);
}
cf_status releaseRecordSetWord(void* h, CFRecordSet* records, int* err) {
    return self(h)->releaseRecordSet(records, err);
}
cf_status threadServicesWord(void* h, CFThreadServices** services, int* err) {
    return self(h)->getThreadServices(services, err);
}
cf_status threadCountWord(void* h, size_t* count, int* err) { return self(h)->getThreadCount(count, err); }
CFLock* createLockWord(void* h, int* err) { return self(h)->createLock(err); }
cf_status reportWord(void* h, uint64_t done, uint64_t total, int* err) {
    return self(h)->report(done, total, err);
}

// destroyLock receives the lock record in place of a handle: the lock
// leads back to the context that made it.
cf_status destroyLockWord(CFLock* lock, int* err) {
    LockObject* object = LockObject::fromRecord(lock);
    if (object == nullptr) return CF_FAILED;
    return object->context().destroyLock(lock, err);
}

}  // namespace

Context::Context(Host& host, std::shared_ptr<Faults> faults)
    : host_(host), faults_(faults ? std::move(faults) : host.sharedFaults()) {
    record_ = CFContext{};
    record_.handle = this;
    record_.getParameters = &parametersWord;
    record_.getInputIterator = &inputIteratorWord;
    record_.getInputDataModel = &dataModelWord;
    record_.getInputCount = &inputCountWord;
    record_.createWorker = &createWorkerWord;
    record_.openContainer = &openContainerWord;
    record_.createRecordSet = &createRecordSetWord;
    record_.releaseRecordSet = &releaseRecordSetWord;
    record_.getThreadServices = &threadServicesWord;
    services_ = CFThreadServices{};
    services_.handle = this;
    services_.getThreadCount = &threadCountWord;
    services_.createLock = &createLockWord;
    services_.destroyLock = &destroyLockWord;
    progress_.handle = this;
    progress_.report = &reportWord;
}

Context::~Context() = default;

Context* Context::fromRecord(CFContext* record) {
    if (record == nullptr || record->getParameters != &parametersWord) return nullptr;
    return self(record->handle);
}

bool Context::refused(const char* op, int* err, cf_status* status) {
    return faults_->check(op, err, status);
}

// --- Host-side setters and inspection -------------------------------------

void Context::setParameter(const std::string& name, std::vector<std::string> values) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& parameter : parameters_) {
        if (parameter.first == name) {
            parameter.second = std::move(values);
            return;
        }
    }
    parameters_.emplace_back(name, std::move(values));
}

void Context::clearParameters() {
    std::lock_guard<std::mutex> guard(mutex_);
    parameters_.clear();
}

std::string Context::parametersXml() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string text = "<Parameters>";
    for (const auto& [name, values] : parameters_) {
        text += "<Parameter name=\"" + xmlEscape(name) + "\">";
        for (const auto& value : values) text += "<Value value=\"" + xmlEscape(value) + "\"/>";
        text += "</Parameter>";
    }
    return text + "</Parameters>";
}

void Context::setDataModel(std::string text) {
    auto shared = std::make_shared<const std::string>(std::move(text));
    std::lock_guard<std::mutex> guard(mutex_);
    dataModel_ = std::move(shared);
}

std::string Context::dataModel() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return dataModel_ ? *dataModel_ : std::string();
}

std::shared_ptr<const std::string> Context::sharedDataModel() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return dataModel_;
}

void Context::setInput(Table table) {
    auto shared = std::make_shared<const Table>(std::move(table));
    std::lock_guard<std::mutex> guard(mutex_);
    input_ = std::move(shared);
    source_.reset();
}

void Context::setInput(std::shared_ptr<const Table> table) {
    if (!table) table = std::make_shared<const Table>();
    std::lock_guard<std::mutex> guard(mutex_);
    input_ = std::move(table);
    source_.reset();
}

void Context::setInput(std::shared_ptr<const RecordSource> source) {
    std::lock_guard<std::mutex> guard(mutex_);
    source_ = std::move(source);
    input_.reset();
}

bool Context::hasInput() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return input_ != nullptr || source_ != nullptr;
}

std::shared_ptr<const Table> Context::input() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return input_;
}

void Context::setThreadServices(bool offered) {
    std::lock_guard<std::mutex> guard(mutex_);
    threadServices_ = offered;
}

bool Context::threadServicesOffered() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return threadServices_;
}

void Context::setThreadCount(size_t count) {
    std::lock_guard<std::mutex> guard(mutex_);
    threadCount_ = count;
}

LockStats Context::lockStats() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lockStats_;
}

void Context::noteLock(int event) {
    std::lock_guard<std::mutex> guard(mutex_);
    switch (event) {
        case LockCreated: ++lockStats_.created; break;
        case LockDestroyed: ++lockStats_.destroyed; break;
        case LockTaken: ++lockStats_.taken; ++lockStats_.held; break;
        case LockReleased: ++lockStats_.released; --lockStats_.held; break;
        default: ++lockStats_.misuses; break;
    }
}

std::vector<std::pair<uint64_t, uint64_t>> Context::progressReports() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return progressReports_;
}

std::vector<Worker*> Context::workers() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<Worker*> out;
    for (const auto& worker : workers_) out.push_back(worker.get());
    return out;
}

Container& Context::container(const std::string& name) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto& generations = containers_[name];
    if (generations.empty()) generations.push_back(newContainerLocked(name));
    return *generations.back();
}

void Context::storeEntriesIn(EntrySink* sink, std::vector<std::string> names) {
    std::lock_guard<std::mutex> guard(mutex_);
    sink_ = sink;
    sinkNames_ = std::move(names);
}

void Context::expectDefaultEntries(const std::string& name, SharedBytes bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    expectedDefaults_[name] = std::move(bytes);
}

std::unique_ptr<Container> Context::newContainerLocked(const std::string& name) const {
    auto container = std::make_unique<Container>(name, faults_);
    if (sink_ && std::find(sinkNames_.begin(), sinkNames_.end(), name) != sinkNames_.end())
        container->storeEntriesIn(sink_);
    if (auto expected = expectedDefaults_.find(name); expected != expectedDefaults_.end())
        container->expectDefaultEntry(expected->second);
    return container;
}

bool Context::hasContainer(const std::string& name) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = containers_.find(name);
    return it != containers_.end() && !it->second.empty();
}

std::vector<Container*> Context::containers(const std::string& name) const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<Container*> out;
    if (auto it = containers_.find(name); it != containers_.end())
        for (const auto& c : it->second) out.push_back(c.get());
    return out;
}

size_t Context::containerOpens(const std::string& name) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = containerOpens_.find(name);
    return it == containerOpens_.end() ? 0 : it->second;
}

size_t Context::liveRecordSets() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return recordSets_.size() - released_;
}

size_t Context::peakLiveRecordSets() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return peakLive_;
}

size_t Context::recordSetsCreated() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return recordSets_.size();
}

std::vector<RecordSet*> Context::recordSetsSince(size_t first) const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<RecordSet*> out;
    for (size_t i = first; i < recordSets_.size(); ++i) out.push_back(recordSets_[i].get());
    return out;
}

std::vector<RecordSet*> Context::recordSets() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<RecordSet*> out;
    for (const auto& set : recordSets_) out.push_back(set.get());
    return out;
}

size_t Context::badReleases() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return badReleases_;
}

// --- Record words ------------------------------------------------------------

cf_status Context::getParameters(char* buffer, size_t size, size_t* needed, int* err) {
    cf_status status = 0;
    if (refused("getParameters", err, &status)) return status;
    return deliverText(parametersXml(), buffer, size, needed);
}

cf_status Context::getInputIterator(int index, CFIterator** iterator, int* err) {
    cf_status status = 0;
    if (refused("getInputIterator", err, &status)) return status;
    if (iterator == nullptr) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    if (index != 0) return CF_FAILED;
    if (source_) {
        sourceIterators_.push_back(std::make_unique<SourceIterator>(source_, faults_));
        *iterator = sourceIterators_.back()->record();
        return CF_OK;
    }
    if (!input_) return CF_FAILED;
    inputIterators_.push_back(std::make_unique<TableIterator>(input_, faults_));
    *iterator = inputIterators_.back()->record();
    return CF_OK;
}

cf_status Context::getInputDataModel(int index, char* buffer, size_t size, size_t* needed,
                                     int* err) {
    cf_status status = 0;
    if (refused("getInputDataModel", err, &status)) return status;
    if (index != 0) return CF_FAILED;
    // Delivered from the shared copy: the module asks for it once or twice
    // per worker, and a copy of the text per call was pure cost.
    static const std::string kNone;
    const std::shared_ptr<const std::string> text = sharedDataModel();
    return deliverText(text ? *text : kNone, buffer, size, needed);
}

cf_status Context::getInputCount(size_t* count, int* err) {
    cf_status status = 0;
    if (refused("getInputCount", err, &status)) return status;
    if (count == nullptr) return CF_FAILED;
    *count = hasInput() ? 1 : 0;
    return CF_OK;
}

cf_status Context::createWorker(CFWorker** worker, int* err) {
    cf_status status = 0;
    if (refused("createWorker", err, &status)) return status;
    if (worker == nullptr) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    const auto id = static_cast<int64_t>(workers_.size());
    workers_.push_back(std::make_unique<Worker>(id, faults_));
    *worker = workers_.back()->record();
    return CF_OK;
}

cf_status Context::openContainer(const char* name, int mode, CFContainerFile** container,
                                 int* err) {
    cf_status status = 0;
    if (refused("openContainer", err, &status)) return status;
    if (name == nullptr || container == nullptr) return CF_FAILED;
    Container* opened = nullptr;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (mode == CF_MODE_READ) {
            auto it = containers_.find(std::string_view(name));
            if (it == containers_.end() || it->second.empty()) return CF_FAILED;
            opened = it->second.back().get();
        } else if (mode == CF_MODE_WRITE) {
            auto& generations = containers_[name];
            generations.push_back(newContainerLocked(name));
            opened = generations.back().get();
        } else {
            return CF_FAILED;
        }
        ++containerOpens_[name];
    }
    opened->noteOpened();
    *container = opened->record();
    return CF_OK;
}

cf_status Context::createRecordSet(CFRecordSet** records, int* err, const char* name) {
    cf_status status = 0;
    if (refused("createRecordSet", err, &status)) return status;
    if (records == nullptr) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    recordSets_.push_back(std::make_unique<RecordSet>(recordSets_.size(),
                                                      name == nullptr ? "" : name, faults_));
    *records = recordSets_.back()->record();
    recordSetIndex_.emplace(*records, recordSets_.back().get());
    peakLive_ = std::max(peakLive_, recordSets_.size() - released_);
    return CF_OK;
}

// A released set stays allocated (refusing every operation) until the
// context goes, so a module that keeps using it sees failures.
cf_status Context::releaseRecordSet(CFRecordSet* records, int* err) {
    cf_status status = 0;
    if (refused("releaseRecordSet", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = recordSetIndex_.find(records);
    if (it == recordSetIndex_.end() || it->second->released()) {
        ++badReleases_;
        return CF_FAILED;
    }
    it->second->markReleased();
    ++released_;
    return CF_OK;
}

cf_status Context::getThreadServices(CFThreadServices** services, int* err) {
    cf_status status = 0;
    if (refused("getThreadServices", err, &status)) return status;
    if (services == nullptr) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    if (!threadServices_) return CF_FAILED;
    *services = &services_;
    return CF_OK;
}

cf_status Context::getThreadCount(size_t* count, int* err) {
    cf_status status = 0;
    if (refused("getThreadCount", err, &status)) return status;
    if (count == nullptr) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    *count = threadCount_;
    return CF_OK;
}

CFLock* Context::createLock(int* err) {
    cf_status status = 0;
    if (refused("createLock", err, &status)) return nullptr;
    std::lock_guard<std::mutex> guard(mutex_);
    locks_.push_back(std::make_unique<LockObject>(*this, *faults_));
    ++lockStats_.created;
    return locks_.back()->record();
}

// The lock object stays allocated (refusing every operation) until the
// context goes.
cf_status Context::destroyLock(CFLock* lock, int* err) {
    cf_status status = 0;
    if (refused("destroyLock", err, &status)) return status;
    LockObject* object = LockObject::fromRecord(lock);
    if (object == nullptr || !object->destroy()) {
        noteLock(LockMisused);
        return CF_FAILED;
    }
    noteLock(LockDestroyed);
    return CF_OK;
}

cf_status Context::report(uint64_t done, uint64_t total, int* err) {
    cf_status status = 0;
    if (refused("report", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    progressReports_.emplace_back(done, total);
    return CF_OK;
}

}  // namespace refhost

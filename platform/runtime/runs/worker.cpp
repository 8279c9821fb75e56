// Host workers: task texts, the worker's own containers, and the host's
// notes about it.
#include "refhost/worker.h"

#include <cstring>

namespace refhost {

namespace {

Worker* self(void* h) { return static_cast<Worker*>(h); }
cf_status idWord(void* h, int64* id, int* err) { return self(h)->getWorkerId(id, err); }
cf_status taskWord(void* h, char* first, size_t firstSize, size_t* firstNeeded, char* second,
                   size_t secondSize, size_t* secondNeeded, int* err) {
    return self(h)->getTask(first, firstSize, firstNeeded, second, secondSize, secondNeeded, err);
}
cf_status containerWord(void* h, const char* name, CFContainerFile** container, int* err) {
    return self(h)->openWorkerContainer(name, container, err);
}

}  // namespace

Worker::Worker(int64_t id, std::shared_ptr<Faults> faults)
    : id_(id), faults_(faults ? std::move(faults) : std::make_shared<Faults>()) {
    record_.handle = this;
    record_.getWorkerId = &idWord;
    record_.getTask = &taskWord;
    record_.openWorkerContainer = &containerWord;
}

Worker* Worker::fromRecord(CFWorker* record) {
    if (record == nullptr || record->getTask != &taskWord) return nullptr;
    return self(record->handle);
}

void Worker::setTask(std::string first, std::string second) {
    std::lock_guard<std::mutex> guard(mutex_);
    first_ = std::move(first);
    second_ = std::move(second);
}

std::string Worker::taskFirst() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return first_;
}

std::string Worker::taskSecond() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return second_;
}

Container& Worker::container(const std::string& name) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto& slot = containers_[name];
    if (!slot) slot = std::make_unique<Container>(name, faults_);
    return *slot;
}

Worker::Held Worker::release() {
    Held released;
    std::lock_guard<std::mutex> guard(mutex_);
    released.containers.swap(containers_);
    released.first.swap(first_);
    released.second.swap(second_);
    iterator_ = nullptr;
    return released;
}

bool Worker::hasContainer(const std::string& name) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return containers_.count(name) != 0;
}

void Worker::setIterator(CFIterator* iterator) {
    std::lock_guard<std::mutex> guard(mutex_);
    iterator_ = iterator;
}

CFIterator* Worker::iterator() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return iterator_;
}

cf_status Worker::getWorkerId(int64* id, int* err) {
    cf_status status = 0;
    if (faults_->check("getWorkerId", err, &status)) return status;
    if (id == nullptr) return CF_FAILED;
    *id = id_;
    return CF_OK;
}

// Both needed sizes are always set; both texts are copied only when both
// fit, else status 13 and neither buffer is touched.
cf_status Worker::getTask(char* first, size_t firstSize, size_t* firstNeeded, char* second,
                          size_t secondSize, size_t* secondNeeded, int* err) {
    cf_status status = 0;
    if (faults_->check("getTask", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    const size_t needFirst = first_.size() + 1;
    const size_t needSecond = second_.size() + 1;
    if (firstNeeded != nullptr) *firstNeeded = needFirst;
    if (secondNeeded != nullptr) *secondNeeded = needSecond;
    if (first == nullptr || second == nullptr || needFirst > firstSize || needSecond > secondSize)
        return CF_BUFFER_TOO_SMALL;
    std::memcpy(first, first_.c_str(), needFirst);
    std::memcpy(second, second_.c_str(), needSecond);
    return CF_OK;
}

cf_status Worker::openWorkerContainer(const char* name, CFContainerFile** container, int* err) {
    cf_status status = 0;
    if (faults_->check("openWorkerContainer", err, &status)) return status;
    if (name == nullptr || container == nullptr) return CF_FAILED;
    Container* found = nullptr;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = containers_.find(std::string_view(name));
        if (it == containers_.end()) return CF_FAILED;
        found = it->second.get();
    }
    found->noteOpened();
    *container = found->record();
    return CF_OK;
}

}  // namespace refhost

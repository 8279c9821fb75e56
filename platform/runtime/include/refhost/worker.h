// A host worker: one unit of work run between the two components, with its
// task texts, its own containers and what the host gathered for it.
#ifndef REFHOST_WORKER_H
#define REFHOST_WORKER_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "cf_records.h"
#include "refhost/container.h"
#include "refhost/faults.h"

namespace refhost {

// Thread-safe.
class Worker {
public:
    // faults null: the worker gets a fresh Faults of its own; its containers
    // share the worker's.
    explicit Worker(int64_t id = 0, std::shared_ptr<Faults> faults = nullptr);
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    CFWorker* record() { return &record_; }
    static Worker* fromRecord(CFWorker* record);
    int64_t id() const { return id_; }
    Faults& faults() { return *faults_; }

    // The two task texts getTask hands out (the host stores what
    // cf_distribute_getWorkerTask gave it).
    void setTask(std::string first, std::string second);
    std::string taskFirst() const;
    std::string taskSecond() const;

    // The worker's own container of that name, created when missing (for
    // the host and tests to fill, and to inspect what the module wrote).
    Container& container(const std::string& name);
    bool hasContainer(const std::string& name) const;
    // Drops what the worker holds for a host that is done with it: its
    // containers with what they hold, its task texts and its iterator. Call
    // once the collect component has taken in its task (and closed the
    // containers: a closed container is never used again). Records handed
    // out for the containers are invalid afterwards; the worker's own
    // record stays valid. What it held is handed back, and freed when the
    // result goes: a host may free it on another thread than the one that
    // collects.
    struct Held {
        std::map<std::string, std::unique_ptr<Container>, std::less<>> containers;
        std::string first;
        std::string second;
    };
    Held release();

    // What the host gathered for the worker during a run.
    void setIterator(CFIterator* iterator);
    CFIterator* iterator() const;

    // Record operations.
    cf_status getWorkerId(int64* id, int* err);
    cf_status getTask(char* first, size_t firstSize, size_t* firstNeeded, char* second,
                      size_t secondSize, size_t* secondNeeded, int* err);
    cf_status openWorkerContainer(const char* name, CFContainerFile** container, int* err);

private:
    CFWorker record_;
    int64_t id_;
    std::shared_ptr<Faults> faults_;
    mutable std::mutex mutex_;
    std::string first_;
    std::string second_;
    std::map<std::string, std::unique_ptr<Container>, std::less<>> containers_;
    CFIterator* iterator_ = nullptr;
};

}  // namespace refhost

#endif

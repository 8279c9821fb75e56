// A component's context: the CFContext record with parameters, input data
// model, input records, workers, containers, record sets, thread services
// and progress.
#ifndef REFHOST_CONTEXT_H
#define REFHOST_CONTEXT_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

#include "cf_records.h"
#include "refhost/container.h"
#include "refhost/faults.h"
#include "refhost/iterator.h"
#include "refhost/record_set.h"
#include "refhost/record_source.h"
#include "refhost/table.h"
#include "refhost/worker.h"

namespace refhost {

class Host;
class LockObject;

// Counters over every lock the context's thread services created.
struct LockStats {
    uint64_t created = 0;
    uint64_t destroyed = 0;
    uint64_t taken = 0;     // lock calls that succeeded
    uint64_t released = 0;  // unlock calls that succeeded
    uint64_t held = 0;      // locks held right now
    uint64_t misuses = 0;   // unlock of a lock not held by the caller, lock of
                            // a lock the caller already holds, use after destroy
};

// One CFContext per component. Record operations are thread-safe; the
// setters are meant for the host between calls into the module.
class Context {
public:
    // faults null: the context shares the host's Faults; the workers,
    // containers, iterators and record sets it creates share the context's.
    explicit Context(Host& host, std::shared_ptr<Faults> faults = nullptr);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    CFContext* record() { return &record_; }
    static Context* fromRecord(CFContext* record);
    Host& host() { return host_; }
    Faults& faults() { return *faults_; }
    const std::shared_ptr<Faults>& sharedFaults() const { return faults_; }

    // Parameters, in the order first set; setting one again replaces its
    // values in place. The parameter document is
    // <Parameters><Parameter name=".."><Value value=".."/>...</Parameter>...</Parameters>.
    void setParameter(const std::string& name, std::vector<std::string> values);
    void clearParameters();
    std::string parametersXml() const;

    // The input data model text getInputDataModel hands out.
    void setDataModel(std::string text);
    std::string dataModel() const;
    // The same text as the one shared copy the context holds (null before
    // setDataModel), for a caller that hands it on without copying it.
    std::shared_ptr<const std::string> sharedDataModel() const;

    // The input records: getInputIterator(0) yields a new rewindable
    // iterator over this table on every call.
    void setInput(Table table);
    // The same over a table the caller shares (no copy is made).
    void setInput(std::shared_ptr<const Table> table);
    // The same over records read from a source (each iterator reads its
    // own passes); replaces a table given before, and is replaced by one.
    void setInput(std::shared_ptr<const RecordSource> source);
    bool hasInput() const;
    std::shared_ptr<const Table> input() const;

    // Thread services: offered by default; when not, getThreadServices fails
    // with status 1. getThreadCount reports threadCount (default 1).
    void setThreadServices(bool offered);
    bool threadServicesOffered() const;
    void setThreadCount(size_t count);
    LockStats lockStats() const;

    // Progress record for beginExecution, and the reports it received.
    CFProgress* progress() { return &progress_; }
    std::vector<std::pair<uint64_t, uint64_t>> progressReports() const;

    // Workers created through createWorker, in creation order (their ids are
    // 0, 1, 2 ... in that order).
    std::vector<Worker*> workers() const;

    // Component containers. openContainer with mode 1 creates a fresh
    // container each time (an earlier one under that name stays alive for
    // handles still held); container(name) is the latest under that name,
    // created when missing; containers(name) all of them in creation order.
    Container& container(const std::string& name);
    // Containers created from now on under one of these names store their
    // keyed entries in `sink` (see Container::storeEntriesIn).
    void storeEntriesIn(EntrySink* sink, std::vector<std::string> names);
    // Containers created from now on under `name` expect `bytes` in their
    // default entry and hold them, not a copy, when exactly those are
    // written (see Container::expectDefaultEntry): how a worker's copy of
    // an input container shares the input's bytes.
    void expectDefaultEntries(const std::string& name, SharedBytes bytes);
    bool hasContainer(const std::string& name) const;
    std::vector<Container*> containers(const std::string& name) const;
    // openContainer calls under that name that succeeded (either mode).
    size_t containerOpens(const std::string& name) const;

    // Record sets: created minus released; all ever created, by sequence.
    size_t liveRecordSets() const;
    // The most record sets that were live at once.
    size_t peakLiveRecordSets() const;
    size_t recordSetsCreated() const;
    std::vector<RecordSet*> recordSets() const;
    // The sets created from the first-th on (0-based), in creation order.
    std::vector<RecordSet*> recordSetsSince(size_t first) const;
    // releaseRecordSet calls with a record set that is unknown or already
    // released.
    size_t badReleases() const;

    // Record operations (the words of CFContext).
    cf_status getParameters(char* buffer, size_t size, size_t* needed, int* err);
    cf_status getInputIterator(int index, CFIterator** iterator, int* err);
    cf_status getInputDataModel(int index, char* buffer, size_t size, size_t* needed, int* err);
    cf_status getInputCount(size_t* count, int* err);
    cf_status createWorker(CFWorker** worker, int* err);
    cf_status openContainer(const char* name, int mode, CFContainerFile** container, int* err);
    cf_status createRecordSet(CFRecordSet** records, int* err, const char* name);
    cf_status releaseRecordSet(CFRecordSet* records, int* err);
    cf_status getThreadServices(CFThreadServices** services, int* err);
    // Thread services and progress words.
    cf_status getThreadCount(size_t* count, int* err);
    CFLock* createLock(int* err);
    cf_status destroyLock(CFLock* lock, int* err);
    cf_status report(uint64_t done, uint64_t total, int* err);
    // Used by the locks.
    void noteLock(int event);

private:
    std::unique_ptr<Container> newContainerLocked(const std::string& name) const;
    bool refused(const char* op, int* err, cf_status* status);

    Host& host_;
    std::shared_ptr<Faults> faults_;
    CFContext record_;
    CFThreadServices services_;
    CFProgress progress_;
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::vector<std::string>>> parameters_;
    std::shared_ptr<const std::string> dataModel_;
    std::shared_ptr<const Table> input_;
    std::vector<std::unique_ptr<TableIterator>> inputIterators_;
    std::shared_ptr<const RecordSource> source_;   // the input when it is read, not held
    std::vector<std::unique_ptr<SourceIterator>> sourceIterators_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::map<std::string, std::vector<std::unique_ptr<Container>>, std::less<>> containers_;
    std::map<std::string, size_t, std::less<>> containerOpens_;
    EntrySink* sink_ = nullptr;
    std::vector<std::string> sinkNames_;
    std::map<std::string, SharedBytes, std::less<>> expectedDefaults_;
    std::vector<std::unique_ptr<RecordSet>> recordSets_;
    // Each set by its record, so releasing one does not walk every set.
    std::unordered_map<const CFRecordSet*, RecordSet*> recordSetIndex_;
    size_t released_ = 0;
    size_t peakLive_ = 0;
    size_t badReleases_ = 0;
    bool threadServices_ = true;
    size_t threadCount_ = 1;
    std::vector<std::unique_ptr<LockObject>> locks_;
    LockStats lockStats_;
    std::vector<std::pair<uint64_t, uint64_t>> progressReports_;
};

}  // namespace refhost

#endif

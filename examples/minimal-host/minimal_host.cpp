// A minimal host of the split module: the smallest complete program that
// drives libsplit.so through a whole run, for host authors to read beside
// host-contract.md (the step numbers below are the document's). The package
// installs both under share/doc/split/.
//
// It keeps a table of sales in memory, sorted by region, builds one "model"
// per region (the mean revenue of the region's records) and prints the
// combined StatXML document the collect component writes.
//
//   minimal-host [threads] [path of libsplit.so]
#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cf_entry_points.h"
#include "cf_records.h"

namespace {

// ---- The input: an in-memory table, grouped by the split field ----------

struct Row {
    std::string region;  // field 0, string
    int64_t units;       // field 1, integer
    double revenue;      // field 2, real
};

const std::vector<Row> kSales = {
    {"East", 3, 30.0},  {"East", 5, 52.0},   {"East", 4, 41.0},
    {"North", 2, 18.0}, {"North", 6, 66.0},
    {"South", 1, 9.5},  {"South", 8, 80.5},  {"South", 7, 70.0}, {"South", 2, 20.0},
};

const char* const kDataModel =
    R"(<DataModel version="1.0"><Fields caseSensitive="true" count="3">)"
    R"(<Field name="region" storage="string" measure="nominal" role="split"/>)"
    R"(<Field name="units" storage="integer" measure="continuous" role="input"/>)"
    R"(<Field name="revenue" storage="real" measure="continuous" role="target"/>)"
    R"(</Fields></DataModel>)";

// Every text the host hands the module goes by the buffer protocol: the
// needed length is always set; the text is copied only when it fits.
cf_status Deliver(const std::string& text, char* buffer, size_t size, size_t* needed) {
    if (needed != nullptr) *needed = text.size() + 1;
    if (buffer == nullptr || text.size() + 1 > size) return CF_BUFFER_TOO_SMALL;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return CF_OK;
}

// Everything the host hands out lives until the end of the run, owned here.
std::mutex gArenaMutex;
std::deque<std::shared_ptr<void>> gArena;
template <class T, class... Args>
T* Make(Args&&... args) {
    auto object = std::make_shared<T>(std::forward<Args>(args)...);
    std::lock_guard<std::mutex> guard(gArenaMutex);
    gArena.push_back(object);
    return object.get();
}

// ---- Iterators and record sets (steps 2 and 4) ---------------------------

cf_status IterNext(void* h, int* more, int* err);
cf_status IterRewind(void* h, int* err);
cf_status IterValue(void* h, size_t field, void** value, size_t* length, int* err);
cf_status IterFieldCount(void* h, size_t* count, int*);

// Iterates over rows it does not own; before the first record until the
// first nextRecord.
struct Iterator {
    CFIterator record{this, IterNext, IterRewind, IterValue, IterFieldCount};
    const std::vector<Row>* rows;
    size_t next = 0;                  // the row nextRecord makes current
    const Row* current = nullptr;
    explicit Iterator(const std::vector<Row>* r) : rows(r) {}
};

cf_status IterNext(void* h, int* more, int*) {
    auto* it = static_cast<Iterator*>(h);
    it->current = it->next < it->rows->size() ? &(*it->rows)[it->next++] : nullptr;
    *more = it->current != nullptr;
    return CF_OK;
}
cf_status IterRewind(void* h, int*) {
    auto* it = static_cast<Iterator*>(h);
    it->next = 0;
    it->current = nullptr;
    return CF_OK;
}
cf_status IterValue(void* h, size_t field, void** value, size_t* length, int*) {
    const Row* row = static_cast<Iterator*>(h)->current;
    if (row == nullptr || field > 2) return CF_FAILED;
    // Pointers into the row stay valid until the iterator moves (they do
    // longer here: the rows never change).
    if (field == 0) {
        *value = const_cast<char*>(row->region.data());
        *length = row->region.size();
    } else if (field == 1) {
        *value = const_cast<int64_t*>(&row->units);
        *length = sizeof row->units;
    } else {
        *value = const_cast<double*>(&row->revenue);
        *length = sizeof row->revenue;
    }
    return CF_OK;
}
cf_status IterFieldCount(void*, size_t* count, int*) {
    *count = 3;
    return CF_OK;
}

cf_status SetAdd(void* h, CFIterator* source, int* err);
cf_status SetIterator(void* h, CFIterator** iterator, int* err);

// A record set copies the source's current record. This host only ever
// receives its own iterators, so it copies the row.
struct RecordSet {
    CFRecordSet record{this, SetAdd, SetIterator};
    std::vector<Row> rows;
};

cf_status SetAdd(void* h, CFIterator* source, int*) {
    if (source == nullptr || source->nextRecord != IterNext) return CF_FAILED;
    const Row* row = static_cast<Iterator*>(source->handle)->current;
    if (row == nullptr) return CF_FAILED;
    static_cast<RecordSet*>(h)->rows.push_back(*row);
    return CF_OK;
}
cf_status SetIterator(void* h, CFIterator** iterator, int*) {
    *iterator = &Make<Iterator>(&static_cast<RecordSet*>(h)->rows)->record;
    return CF_OK;
}

// ---- Containers, entries, keys and streams (steps 5 and 6) --------------

struct Entry {
    std::string key;  // empty for the default entry
    std::string properties;
    std::string text;
};

cf_status ContCreateKey(void* h, CFEntryKey** key, int* err);
cf_status ContGetKeys(void* h, CFKeyList** keys, int* err);
cf_status ContOpenEntry(void* h, CFEntryKey* key, int mode, const char* properties,
                        CFStream** stream, int* err);
cf_status ContClose(void*, int*) { return CF_OK; }

// A container keeps its entries in write order; the host reads them after
// the run. Closing it changes nothing here.
struct Container {
    CFContainerFile record{this, ContCreateKey, ContGetKeys, ContOpenEntry, ContClose};
    std::string name;
    std::deque<Entry> entries;
    const Entry* Find(const std::string& key) const {
        for (const Entry& e : entries)
            if (e.key == key) return &e;
        return nullptr;
    }
};

cf_status KeySet(void* h, int kind, const char* text, size_t length, int*);
cf_status KeyGet(void* h, char* buffer, size_t size, size_t* needed, int*);
struct Key {
    CFEntryKey record{this, KeySet, KeyGet};
    std::string text;
};
cf_status KeySet(void* h, int kind, const char* text, size_t length, int*) {
    if (kind != 0) return CF_FAILED;  // kind 0, a text key, is the only kind
    static_cast<Key*>(h)->text.assign(text, length);
    return CF_OK;
}
cf_status KeyGet(void* h, char* buffer, size_t size, size_t* needed, int*) {
    return Deliver(static_cast<Key*>(h)->text, buffer, size, needed);
}

cf_status ListFirst(void* h, CFEntryKey** key, int*);
cf_status ListRelease(void*, int*) { return CF_OK; }
struct KeyList {
    CFKeyList record{this, ListFirst, ListRelease};
    std::vector<Key*> keys;
};
cf_status ListFirst(void* h, CFEntryKey** key, int*) {
    auto* list = static_cast<KeyList*>(h);
    if (list->keys.empty()) return CF_FAILED;
    *key = &list->keys.front()->record;
    return CF_OK;
}

cf_status StreamRead(void* h, char* buffer, size_t capacity, size_t* got, int*);
cf_status StreamWrite(void* h, const char* data, size_t length, int*);
cf_status StreamClose(void*, int*) { return CF_OK; }
struct Stream {
    CFStream record{this, StreamRead, StreamWrite, nullptr, StreamClose};
    Entry* entry;
    size_t position = 0;
    explicit Stream(Entry* e) : entry(e) {}
};
cf_status StreamRead(void* h, char* buffer, size_t capacity, size_t* got, int*) {
    auto* s = static_cast<Stream*>(h);
    // A count below the capacity tells the reader the entry has ended.
    *got = std::min(capacity, s->entry->text.size() - s->position);
    std::memcpy(buffer, s->entry->text.data() + s->position, *got);
    s->position += *got;
    return CF_OK;
}
cf_status StreamWrite(void* h, const char* data, size_t length, int*) {
    static_cast<Stream*>(h)->entry->text.append(data, length);
    return CF_OK;
}

cf_status ContCreateKey(void*, CFEntryKey** key, int*) {
    *key = &Make<Key>()->record;
    return CF_OK;
}
cf_status ContGetKeys(void* h, CFKeyList** keys, int*) {
    auto* list = Make<KeyList>();
    for (const Entry& e : static_cast<Container*>(h)->entries)
        if (!e.key.empty()) {
            list->keys.push_back(Make<Key>());
            list->keys.back()->text = e.key;
        }
    *keys = &list->record;
    return CF_OK;
}
cf_status ContOpenEntry(void* h, CFEntryKey* key, int mode, const char* properties,
                        CFStream** stream, int*) {
    auto* c = static_cast<Container*>(h);
    const std::string name = key != nullptr ? static_cast<Key*>(key->handle)->text : "";
    Entry* entry = nullptr;
    for (Entry& e : c->entries)
        if (e.key == name) entry = &e;
    if (mode == CF_MODE_WRITE) {
        c->entries.push_back(Entry{name, properties != nullptr ? properties : "", ""});
        entry = &c->entries.back();
    } else if (entry == nullptr) {
        return CF_FAILED;  // reading an entry that was never written
    }
    *stream = &Make<Stream>(entry)->record;
    return CF_OK;
}

// ---- Workers (steps 3 to 6) ----------------------------------------------

cf_status WorkerId(void* h, int64* id, int*);
cf_status WorkerTask(void* h, char* first, size_t firstSize, size_t* firstNeeded, char* second,
                     size_t secondSize, size_t* secondNeeded, int*);
cf_status WorkerContainer(void* h, const char* name, CFContainerFile** container, int*);
struct Worker {
    CFWorker record{this, WorkerId, WorkerTask, WorkerContainer};
    int64 id;
    std::string first, second;  // the task texts as the distribute component gave them
    Container statXml, pmml;    // WorkerStatXML and WorkerPMML
    size_t group = 0;           // position of its group in the input
    int outcome = 0;            // 0 when the worker built its model
    explicit Worker(int64 i) : id(i) {}
};
cf_status WorkerId(void* h, int64* id, int*) {
    *id = static_cast<Worker*>(h)->id;
    return CF_OK;
}
// Replays the two texts cf_distribute_getWorkerTask delivered; the collect
// component reads the group from the second.
cf_status WorkerTask(void* h, char* first, size_t firstSize, size_t* firstNeeded, char* second,
                     size_t secondSize, size_t* secondNeeded, int*) {
    auto* w = static_cast<Worker*>(h);
    *firstNeeded = w->first.size() + 1;
    *secondNeeded = w->second.size() + 1;
    if (first == nullptr || second == nullptr || *firstNeeded > firstSize ||
        *secondNeeded > secondSize)
        return CF_BUFFER_TOO_SMALL;
    std::memcpy(first, w->first.c_str(), *firstNeeded);
    std::memcpy(second, w->second.c_str(), *secondNeeded);
    return CF_OK;
}
cf_status WorkerContainer(void* h, const char* name, CFContainerFile** container, int*) {
    auto* w = static_cast<Worker*>(h);
    if (std::strcmp(name, "WorkerStatXML") == 0) *container = &w->statXml.record;
    else if (std::strcmp(name, "WorkerPMML") == 0) *container = &w->pmml.record;
    else return CF_FAILED;
    return CF_OK;
}

// ---- Locks, contexts, the host and progress (steps 1 and 2) --------------

cf_status LockTake(void* h, int*) { static_cast<std::mutex*>(h)->lock(); return CF_OK; }
cf_status LockGive(void* h, int*) { static_cast<std::mutex*>(h)->unlock(); return CF_OK; }
struct Lock {
    CFLock record{&mutex, LockTake, LockGive};
    std::mutex mutex;
};
CFLock* ThreadsCreateLock(void*, int*) { return &Make<Lock>()->record; }
cf_status ThreadsDestroyLock(CFLock*, int*) { return CF_OK; }  // freed with the arena
cf_status ThreadsCount(void* h, size_t* count, int*) {
    *count = *static_cast<size_t*>(h);
    return CF_OK;
}

struct Context;
cf_status CtxParameters(void* h, char* buffer, size_t size, size_t* needed, int*);
cf_status CtxInputIterator(void* h, int index, CFIterator** iterator, int*);
cf_status CtxDataModel(void*, int, char* buffer, size_t size, size_t* needed, int*) {
    return Deliver(kDataModel, buffer, size, needed);
}
cf_status CtxInputCount(void*, size_t* count, int*) { *count = 1; return CF_OK; }
cf_status CtxCreateWorker(void* h, CFWorker** worker, int*);
cf_status CtxOpenContainer(void* h, const char* name, int mode, CFContainerFile** out, int*);
cf_status CtxCreateRecordSet(void*, CFRecordSet** records, int*, const char*) {
    *records = &Make<RecordSet>()->record;
    return CF_OK;
}
cf_status CtxReleaseRecordSet(void*, CFRecordSet*, int*) { return CF_OK; }  // freed with the arena
cf_status CtxThreadServices(void* h, CFThreadServices** services, int*);

struct Context {
    CFContext record{};
    std::string parameters;
    size_t threads;
    CFThreadServices services{&threads, ThreadsCount, nullptr, ThreadsCreateLock, ThreadsDestroyLock};
    Iterator input{&kSales};
    std::vector<Worker*> workers;   // in creation order
    std::deque<Container> outputs;  // containers opened for writing
    Context(std::string params, size_t threadCount) : parameters(std::move(params)), threads(threadCount) {
        record.handle = this;
        record.getParameters = CtxParameters;
        record.getInputIterator = CtxInputIterator;
        record.getInputDataModel = CtxDataModel;
        record.getInputCount = CtxInputCount;
        record.createWorker = CtxCreateWorker;
        record.openContainer = CtxOpenContainer;
        record.createRecordSet = CtxCreateRecordSet;
        record.releaseRecordSet = CtxReleaseRecordSet;
        record.getThreadServices = CtxThreadServices;
    }
};
Context* Ctx(void* h) { return static_cast<Context*>(h); }
cf_status CtxParameters(void* h, char* buffer, size_t size, size_t* needed, int*) {
    return Deliver(Ctx(h)->parameters, buffer, size, needed);
}
cf_status CtxInputIterator(void* h, int index, CFIterator** iterator, int*) {
    if (index != 0) return CF_FAILED;
    *iterator = &Ctx(h)->input.record;
    return CF_OK;
}
cf_status CtxCreateWorker(void* h, CFWorker** worker, int*) {
    Worker* w = Make<Worker>(static_cast<int64>(Ctx(h)->workers.size() + 1));
    Ctx(h)->workers.push_back(w);
    *worker = &w->record;
    return CF_OK;
}
// Writing opens a fresh container; this host offers nothing to read (the
// distribute component's InputPMML and InputStatXML are optional).
cf_status CtxOpenContainer(void* h, const char* name, int mode, CFContainerFile** out, int*) {
    if (mode != CF_MODE_WRITE) return CF_FAILED;
    Ctx(h)->outputs.emplace_back();
    Ctx(h)->outputs.back().name = name;
    *out = &Ctx(h)->outputs.back().record;
    return CF_OK;
}
cf_status CtxThreadServices(void* h, CFThreadServices** services, int*) {
    *services = &Ctx(h)->services;
    return CF_OK;
}

cf_status HostVersion(void*, char* buffer, size_t size, size_t* needed, int*) {
    return Deliver("minimal-host 1.0", buffer, size, needed);
}
cf_status ProgressReport(void*, uint64_t, uint64_t, int*) { return CF_OK; }

std::string Parameter(const std::string& name, const std::string& value) {
    return "<Parameter name=\"" + name + "\"><Value value=\"" + value + "\"/></Parameter>";
}

// ---- The module's entry points, looked up by name --------------------------

struct Module {
    decltype(&cf_initialise) initialise;
    decltype(&cf_create_component) create;
    decltype(&cf_destroy_component) destroy;
    decltype(&cf_component_configure) configure;
    decltype(&cf_component_beginExecution) begin;
    decltype(&cf_component_endExecution) end;
    decltype(&cf_component_getMessages) messages;
    decltype(&cf_distribute_getWorkerTask) getWorkerTask;
    decltype(&cf_distribute_getIterator) getIterator;
    decltype(&cf_collect_startedWorkerTask) started;
    decltype(&cf_collect_completedWorkerTask) completed;
};

template <class F>
bool Find(void* library, const char* name, F* slot) {
    *slot = reinterpret_cast<F>(dlsym(library, name));
    if (*slot == nullptr) std::fprintf(stderr, "minimal-host: %s not found\n", name);
    return *slot != nullptr;
}

// Prints a component's messages (code, then arguments), if it has any.
void PrintMessages(const Module& m, void* component, const char* which) {
    size_t needed = 0;
    int err = 0;
    if (m.messages(component, nullptr, 0, &needed, &err) != CF_BUFFER_TOO_SMALL) return;
    std::string text(needed, '\0');
    if (m.messages(component, text.data(), text.size(), &needed, &err) == CF_OK &&
        text.find("<Message ") != std::string::npos)
        std::fprintf(stderr, "%s messages: %s\n", which, text.c_str());
}

// The worker: mean revenue of its group's records, written as the minimal
// StatXML (an active PMMLModel with a modelID and a PredictiveSummary) and
// PMML the collect component accepts.
void RunWorker(Worker& w, CFIterator* records) {
    double sum = 0;
    int64_t count = 0;
    int more = 0, err = 0;
    while (records->nextRecord(records->handle, &more, &err) == CF_OK && more) {
        void* value = nullptr;
        size_t length = 0;
        if (records->getRecordValue(records->handle, 2, &value, &length, &err) != CF_OK) break;
        if (value != nullptr) sum += *static_cast<double*>(value), ++count;
    }
    if (count == 0) {
        w.outcome = 1;
        return;
    }
    char mean[64];
    std::snprintf(mean, sizeof mean, "%.6g", sum / static_cast<double>(count));
    const std::string id = "model-" + std::to_string(w.group + 1);
    w.statXml.entries.push_back({"", "",
        "<StatXML version=\"1.0\"><PMMLModel modelID=\"" + id +
        "\" modelType=\"RegressionModel\" isActive=\"true\">"
        "<PredictiveSummary name=\"mean\" value=\"" + std::string(mean) + "\"/>"
        "<PredictiveSummary name=\"records\" value=\"" + std::to_string(count) + "\"/>"
        "</PMMLModel></StatXML>"});
    w.pmml.entries.push_back({"", "",
        "<PMML version=\"4.4\" xmlns=\"http://www.dmg.org/PMML-4_4\"><Header/>"
        "<DataDictionary numberOfFields=\"1\"><DataField name=\"revenue\" optype=\"continuous\" "
        "dataType=\"double\"/></DataDictionary><RegressionModel functionName=\"regression\">"
        "<MiningSchema><MiningField name=\"revenue\" usageType=\"target\"/></MiningSchema>"
        "<RegressionTable intercept=\"" + std::string(mean) + "\"/></RegressionModel></PMML>"});
}

}  // namespace

int main(int argc, char** argv) {
    const size_t threads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    const char* path = argc > 2 ? argv[2] : SPLIT_MODULE_PATH;

    // Step 1: load the module and initialise it with the host record.
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "minimal-host: %s\n", dlerror());
        return 1;
    }
    Module m{};
    if (!Find(library, "cf_initialise", &m.initialise) || !Find(library, "cf_create_component", &m.create) ||
        !Find(library, "cf_destroy_component", &m.destroy) ||
        !Find(library, "cf_component_configure", &m.configure) ||
        !Find(library, "cf_component_beginExecution", &m.begin) ||
        !Find(library, "cf_component_endExecution", &m.end) ||
        !Find(library, "cf_component_getMessages", &m.messages) ||
        !Find(library, "cf_distribute_getWorkerTask", &m.getWorkerTask) ||
        !Find(library, "cf_distribute_getIterator", &m.getIterator) ||
        !Find(library, "cf_collect_startedWorkerTask", &m.started) ||
        !Find(library, "cf_collect_completedWorkerTask", &m.completed))
        return 1;
    CFHost host{nullptr, HostVersion};
    CFProgress progress{nullptr, ProgressReport};
    if (m.initialise(&host) != CF_OK) return 1;

    // Step 2: create and configure both components, then begin executing.
    Context distributeContext("<Parameters>" + Parameter("split_fields", "region") + "</Parameters>",
                              threads);
    Context collectContext("<Parameters>" + Parameter("TargetFieldList", "revenue") +
                           Parameter("InputFieldList", "units") + "</Parameters>", threads);
    void* distribute = nullptr;
    void* collect = nullptr;
    int err = 0;
    if (m.create(&distributeContext.record, "split_distribute", &distribute, &err) != CF_OK ||
        m.create(&collectContext.record, "split_collect", &collect, &err) != CF_OK)
        return 1;
    if (m.configure(distribute, &err) != CF_OK || m.configure(collect, &err) != CF_OK ||
        m.begin(distribute, &progress, &err) != CF_OK || m.begin(collect, &progress, &err) != CF_OK) {
        PrintMessages(m, distribute, "distribute");
        PrintMessages(m, collect, "collect");
        return 1;
    }

    // Steps 3 and 4: the distribute component asked for one worker per group
    // while it began. Each thread takes the next worker, fetches its task and
    // records, and runs it. Tasks are handed out under the host's own mutex,
    // so the n-th task handed out is the n-th group of the input.
    std::vector<Worker*>& workers = distributeContext.workers;
    std::mutex handOut;
    size_t nextWorker = 0;
    auto serve = [&] {
        for (;;) {
            Worker* w = nullptr;
            CFIterator* records = nullptr;
            {
                std::lock_guard<std::mutex> guard(handOut);
                if (nextWorker == workers.size()) return;
                w = workers[nextWorker];
                w->group = nextWorker++;
                int taskErr = 0;
                char first[256], second[4096];
                size_t firstNeeded = 0, secondNeeded = 0;
                if (m.getWorkerTask(distribute, &w->record, first, sizeof first, &firstNeeded, second,
                                    sizeof second, &secondNeeded, &taskErr) != CF_OK) {
                    w->outcome = 1;
                    continue;
                }
                w->first = first;
                w->second = second;
            }
            int workerErr = 0;
            m.started(collect, &w->record, &workerErr);
            if (m.getIterator(distribute, &w->record, 0, &records, &workerErr) != CF_OK)
                w->outcome = 1;
            else
                RunWorker(*w, records);
        }
    };
    std::vector<std::thread> pool;
    for (size_t i = 0; i < threads; ++i) pool.emplace_back(serve);
    for (std::thread& t : pool) t.join();

    // Step 5: hand every completed worker to collect in group order; the
    // worker's outcome goes in through err.
    int status = 0;
    for (Worker* w : workers) {
        int outcome = w->outcome;
        if (m.completed(collect, &w->record, &outcome) != CF_OK) status = 1;
    }

    // Step 6: end both executions and print the root document.
    if (m.end(distribute, &err) != CF_OK || m.end(collect, &err) != CF_OK) status = 1;
    PrintMessages(m, distribute, "distribute");
    PrintMessages(m, collect, "collect");
    const Entry* root = nullptr;
    for (const Container& c : collectContext.outputs)
        if (c.name == "StatXML" && c.Find("rootStatXML") != nullptr) root = c.Find("rootStatXML");
    if (root == nullptr) {
        std::fprintf(stderr, "minimal-host: no root document was written\n");
        status = 1;
    } else {
        std::printf("%s\n", root->text.c_str());
    }
    m.destroy(distribute, &err);
    m.destroy(collect, &err);
    dlclose(library);
    return status;
}

// Distribution overhead: the distribute component's planning plus the
// hand-out of every group to its worker, against the floor a host pays
// without the module, one pass over the same iterator copying every record
// into one record set per group, with the group boundaries known in advance,
// and against the host calls the module makes per record, made alone. All
// fill their record sets through the reference host, so the module's time
// beyond the calls' is its own work.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_data.h"
#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"

namespace {

constexpr size_t kGroups = 1000;

// Calls of the host's record operations so far (every operation counts its
// calls in the host's fault injection).
uint64_t recordCalls(refhost::Host& host) {
    uint64_t calls = 0;
    for (const char* op : {"nextRecord", "rewind", "getRecordValue", "getFieldCount", "addRecord"})
        calls += host.faults().calls(op);
    return calls;
}

// Records held by the context's record sets, and how many sets there are.
bool recordSetsHoldEverything(refhost::Context& context, size_t records, size_t groups) {
    size_t held = 0;
    const auto sets = context.recordSets();
    for (const refhost::RecordSet* set : sets) held += set->size();
    return held == records && sets.size() == groups;
}

void BM_DistributeModule(benchmark::State& state) {
    const size_t records = bench::recordCount();
    const refhost::Table& table = bench::groupedTable(records, kGroups);
    const std::string dataModel = bench::groupedDataModel(table);
    refhost::Module module(SPLIT_MODULE_PATH);
    refhost::Host host;
    module.initialise(host);
    double cpu = 0;
    uint64_t calls = 0;
    for (auto _ : state) {
        // A fresh context per run: record sets live as long as their context.
        refhost::Context context(host);
        context.setInput(table);
        context.setDataModel(dataModel);
        context.setParameter("split_fields", {"grp", "sub"});
        refhost::Component component(module, context, "split_distribute");
        if (component.configure() != 0) {
            state.SkipWithError("configure failed");
            break;
        }

        const uint64_t callsBefore = recordCalls(host);
        bench::Stopwatch watch;
        watch.start();
        cf_status status = component.beginExecution();
        std::string first, second;
        for (refhost::Worker* worker : context.workers()) {
            if (status != 0) break;
            status = component.getWorkerTask(*worker, &first, &second);
        }
        watch.stop();
        state.SetIterationTime(watch.wall());
        cpu += watch.cpu();
        calls += recordCalls(host) - callsBefore;

        if (status != 0 || context.workers().size() != kGroups ||
            !recordSetsHoldEverything(context, records, kGroups))
            state.SkipWithError("the groups were not handed out whole");
        component.endExecution();
    }
    const auto runs = static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records));
    state.counters["records"] = static_cast<double>(records);
    state.counters["cpu_ms"] = cpu / runs * 1e3;
    state.counters["host_calls_per_record"] = static_cast<double>(calls) / runs / static_cast<double>(records);
}
BENCHMARK(BM_DistributeModule)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Times `pass(context, table, input, sizes)` on a fresh context per iteration over
// the grouped table, checks that it copied every record into its group's
// record set, and reports wall and CPU time and host calls per record.
template <class Pass>
void timeHostPass(benchmark::State& state, const char* failure, Pass pass) {
    const size_t records = bench::recordCount();
    const refhost::Table& table = bench::groupedTable(records, kGroups);
    const std::vector<size_t> sizes = bench::groupSizes(records, kGroups);
    refhost::Host host;
    double cpu = 0;
    uint64_t calls = 0;
    for (auto _ : state) {
        refhost::Context context(host);
        context.setInput(table);
        CFIterator* input = nullptr;
        int err = 0;
        if (context.getInputIterator(0, &input, &err) != 0) {
            state.SkipWithError("no input iterator");
            break;
        }

        const uint64_t callsBefore = recordCalls(host);
        bench::Stopwatch watch;
        watch.start();
        const cf_status status = pass(context, table, input, sizes);
        watch.stop();
        state.SetIterationTime(watch.wall());
        cpu += watch.cpu();
        calls += recordCalls(host) - callsBefore;

        if (status != 0 || !recordSetsHoldEverything(context, records, kGroups)) state.SkipWithError(failure);
    }
    const auto runs = static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records));
    state.counters["records"] = static_cast<double>(records);
    state.counters["cpu_ms"] = cpu / runs * 1e3;
    state.counters["host_calls_per_record"] = static_cast<double>(calls) / runs / static_cast<double>(records);
}

// The least any distributor must do: one record set per group, each record
// read once and added.
void BM_DistributeFloor(benchmark::State& state) {
    timeHostPass(state, "the floor did not copy every record",
                 [](refhost::Context& context, const refhost::Table&, CFIterator* input,
                    const std::vector<size_t>& sizes) {
                     cf_status status = 0;
                     int err = 0;
                     int more = 0;
                     for (size_t size : sizes) {
                         CFRecordSet* set = nullptr;
                         status |= context.createRecordSet(&set, &err, "");
                         for (size_t i = 0; i < size && status == 0; ++i) {
                             status |= input->nextRecord(input->handle, &more, &err);
                             status |= set->addRecord(set->handle, input, &err);
                         }
                     }
                     return status;
                 });
}
BENCHMARK(BM_DistributeFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The host calls the module makes, alone, in its order and with its
// arguments. Planning: a rewind, the first record, the first worker and the
// record's split fields (both read with getRecordValue), then for every further
// record nextRecord and both split fields, and at each group's first record
// a new worker and its split fields read once more; then a rewind and the
// first record. The hand-out of each group, under the host lock: both split
// fields for the task document, a record set, the first record added, both
// split fields read as the group's key and a step; then for every further
// record both split fields, addRecord and a step, and both split fields of
// the next group's first record, which ends the group. Seven calls per
// record plus a handful per group; the module's time beyond this is its own
// work.
void BM_DistributeCalls(benchmark::State& state) {
    timeHostPass(state, "the calls did not copy every record",
                 [](refhost::Context& context, const refhost::Table& table, CFIterator* input,
                    const std::vector<size_t>& sizes) {
                     const size_t grp = *table.columnIndex("grp");
                     const size_t sub = *table.columnIndex("sub");
                     cf_status status = 0;
                     int err = 0;
                     int more = 0;
                     void* value = nullptr;
                     size_t length = 0;
                     size_t seen = 0;
                     CFWorker* worker = nullptr;
                     CFLock* lock = context.createLock(&err);
                     if (lock == nullptr) return cf_status{1};
                     const auto readKey = [&] {
                         status |= input->getRecordValue(input->handle, grp, &value, &length, &err);
                         status |= input->getRecordValue(input->handle, sub, &value, &length, &err);
                         seen += length;
                     };
                     status |= input->rewind(input->handle, &err);
                     for (size_t group = 0; group < sizes.size(); ++group) {
                         for (size_t i = 0; i < sizes[group] && status == 0; ++i) {
                             status |= input->nextRecord(input->handle, &more, &err);
                             if (group > 0 || i > 0) readKey();  // compared with the group's key
                             if (i == 0) {
                                 status |= context.createWorker(&worker, &err);
                                 readKey();
                             }
                         }
                     }
                     status |= input->nextRecord(input->handle, &more, &err);  // the end
                     status |= input->rewind(input->handle, &err);
                     status |= input->nextRecord(input->handle, &more, &err);
                     for (size_t group = 0; group < sizes.size() && status == 0; ++group) {
                         status |= lock->lock(lock->handle, &err);
                         readKey();  // the task document
                         CFRecordSet* set = nullptr;
                         status |= context.createRecordSet(&set, &err, "");
                         status |= set->addRecord(set->handle, input, &err);
                         readKey();  // the group's key
                         status |= input->nextRecord(input->handle, &more, &err);
                         for (size_t i = 1; i < sizes[group] && status == 0; ++i) {
                             readKey();
                             status |= set->addRecord(set->handle, input, &err);
                             status |= input->nextRecord(input->handle, &more, &err);
                         }
                         if (group + 1 < sizes.size()) readKey();  // the next group's first record
                         status |= lock->unlock(lock->handle, &err);
                     }
                     context.destroyLock(lock, &err);
                     benchmark::DoNotOptimize(seen);
                     return status;
                 });
}
BENCHMARK(BM_DistributeCalls)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

// Throughput of a whole split run through the module, against a plain scan of
// the same table, and the cost of fitting one group's model.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>
#include <string>

#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/run.h"
#include "refhost/table.h"
#include "splitmodels/group_model.h"

namespace {

constexpr size_t kRecords = 20000;

refhost::Table makeTable(size_t groupSize) {
    // The split field is an integer measured continuous, so the data model lists
    // no categories for it: each group's StatXML copies the split field's data
    // model entry, which would otherwise grow with the number of groups.
    refhost::Table table({{"g", 1, 1}, {"name", 3, 0}, {"x", 2, 1}, {"y", 2, 1}});
    for (size_t i = 0; i < kRecords; ++i) {
        auto g = static_cast<int64_t>(i / groupSize);
        double x = static_cast<double>(i % 97);
        table.addRow({refhost::Cell::integer(g), refhost::Cell::text("group-" + std::to_string(g)),
                      refhost::Cell::real(x), refhost::Cell::real(2.0 * x + 1.0)});
    }
    return table;
}

refhost::WorkerOutput trivialWorker(const refhost::WorkerJob& job) {
    char id[32];
    std::snprintf(id, sizeof id, "model-%04zu", job.groupIndex + 1);
    refhost::WorkerOutput out;
    out.statXml = std::string("<StatXML><PMMLModel modelID=\"") + id +
                  "\" modelType=\"RegressionModel\" isActive=\"true\">"
                  "<PredictiveSummary recordCount=\"" + std::to_string(job.records.rowCount()) +
                  "\"/></PMMLModel></StatXML>";
    out.pmml = "<PMML xmlns=\"http://www.dmg.org/PMML-4_4\" version=\"4.4\"><DataDictionary/></PMML>";
    return out;
}

// Records per second through distribution, trivial workers and collection.
void BM_SplitRun(benchmark::State& state) {
    const auto groupSize = static_cast<size_t>(state.range(0));
    refhost::Module module;
    refhost::Host host;
    refhost::RunConfig config;
    config.input = makeTable(groupSize);
    config.splitFields = {"g"};
    config.worker = trivialWorker;
    config.threads = static_cast<size_t>(state.range(1));
    for (auto _ : state) {
        auto result = refhost::runSplit(module, host, config);
        if (!result.ok()) state.SkipWithError("run failed");
        benchmark::DoNotOptimize(result.groups.size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecords));
}
BENCHMARK(BM_SplitRun)->Args({1000, 1})->Args({100, 1})->Args({10, 1})->Args({1, 1})->Args({100, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: reading every cell of the same table once.
void BM_TableScan(benchmark::State& state) {
    auto table = makeTable(100);
    for (auto _ : state) {
        size_t bytes = 0;
        for (size_t r = 0; r < table.rowCount(); ++r)
            for (size_t c = 0; c < table.columnCount(); ++c) bytes += table.at(r, c).length();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecords));
}
BENCHMARK(BM_TableScan)->Unit(benchmark::kMillisecond)->UseRealTime();

// One least-squares group model (fit, PMML and StatXML) by group size.
void BM_LinearGroupModel(benchmark::State& state) {
    splitmodels::GroupData data;
    data.fields = {{"x1", 2, 1, {}, ""}, {"x2", 2, 1, {}, ""}, {"c", 3, 3, {"a", "b", "c"}, ""},
                   {"y", 2, 1, {}, ""}};
    const auto n = static_cast<size_t>(state.range(0));
    for (size_t i = 0; i < n; ++i) {
        double x1 = static_cast<double>(i % 13), x2 = static_cast<double>((i * 7) % 11);
        std::string c = i % 3 == 0 ? "a" : (i % 3 == 1 ? "b" : "c");
        double y = 1.0 + 2.0 * x1 - 0.5 * x2 + (c == "b" ? 3.0 : 0.0) + 0.01 * static_cast<double>(i % 5);
        data.rows.push_back({{false, x1, ""}, {false, x2, ""}, {false, 0, c}, {false, y, ""}});
    }
    splitmodels::ModelSpec request;
    request.target = "y";
    request.inputs = {"x1", "x2", "c"};
    request.modelId = "model-0001";
    for (auto _ : state) {
        auto model = splitmodels::buildGroupModel(data, request);
        if (!model.ok) state.SkipWithError(model.reason.c_str());
        benchmark::DoNotOptimize(model.pmml.size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_LinearGroupModel)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// One logistic group model of the shape of a large imbalanced file (3,000
// records, five inputs, about 95% events): a thousand of these are the
// fitting work of a 3M-record, 1,000-group build.
void BM_LogisticGroupModel(benchmark::State& state) {
    splitmodels::GroupData data;
    for (int k = 1; k <= 5; ++k) data.fields.push_back({"x" + std::to_string(k), 2, 1, {}, ""});
    data.fields.push_back({"b", 1, 5, {"0", "1"}, ""});
    const auto n = static_cast<size_t>(state.range(0));
    uint64_t state64 = 20261206;
    const auto uniform = [&state64] {  // splitmix64
        uint64_t z = (state64 += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
    };
    const double slope[] = {0.5, -0.3, 0.2, 0.1, -0.2};
    for (size_t i = 0; i < n; ++i) {
        std::vector<splitmodels::Cell> row;
        double eta = 3.0;
        for (double beta : slope) {
            const double x = 4.0 * uniform() - 2.0;
            eta += beta * x;
            row.push_back({false, x, ""});
        }
        row.push_back({false, uniform() < 1.0 / (1.0 + std::exp(-eta)) ? 1.0 : 0.0, ""});
        data.rows.push_back(std::move(row));
    }
    splitmodels::ModelSpec request;
    request.kind = splitmodels::ModelKind::Logistic;
    request.target = "b";
    request.inputs = {"x1", "x2", "x3", "x4", "x5"};
    request.modelId = "model-0001";
    for (auto _ : state) {
        auto model = splitmodels::buildGroupModel(data, request);
        if (!model.ok) state.SkipWithError(model.reason.c_str());
        benchmark::DoNotOptimize(model.pmml.size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_LogisticGroupModel)->Arg(3000)->Unit(benchmark::kMicrosecond);

}  // namespace

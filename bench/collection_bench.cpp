// Collection scaling: cf_collect_completedWorkerTask for many groups keyed
// by one string split field, with the data model split-run infers for such
// data, each worker handing back the StatXML and PMML of a regression model
// fitted to the group's 5 records, then end of execution. Neither the time
// nor the output per group may grow with the number of groups.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_data.h"
#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/table.h"
#include "refhost/worker.h"
#include "splitmodels/data_model.h"
#include "splitmodels/group_model.h"

namespace {

constexpr size_t kInputs = 1;
constexpr size_t kRecordsPerGroup = 5;
// Stands for the model ID in the worker texts; replaced per group by an ID
// of the same length.
const std::string kIdMark = "model-0000000";

std::vector<std::string> inputNames() {
    std::vector<std::string> names;
    for (size_t i = 1; i <= kInputs; ++i) names.push_back("x" + std::to_string(i));
    return names;
}

std::string groupKey(size_t group) {
    char key[32];
    std::snprintf(key, sizeof key, "s%06zu", group);
    return key;
}

// The component's input data model as split-run infers it for a file
// `k,x1,y` with one distinct string k per group: k nominal with role split
// (its categories listed only up to the host's cap), x1 and y continuous.
std::string collectDataModel(size_t groups) {
    refhost::Table table({{"k", 3, 3}});
    for (const std::string& name : inputNames()) table.addColumn({name, 2, 1});
    table.addColumn({"y", 2, 1});
    for (size_t g = 0; g < groups; ++g) {
        std::vector<refhost::Cell> row{refhost::Cell::text(groupKey(g))};
        for (size_t i = 0; i <= kInputs; ++i) row.push_back(refhost::Cell::real(1.0));
        table.addRow(row);
    }
    refhost::DataModelOptions options;
    options.roles = {{"k", "split"}, {"y", "target"}};
    for (const std::string& name : inputNames()) options.roles[name] = "input";
    options.recordCounts = true;
    return refhost::dataModelXml(table, options);
}

// What a worker hands back: a least-squares model of y on x1 fitted to the
// group's records, with its PMML and StatXML.
struct WorkerTexts {
    std::string statXml;
    std::string pmml;
};

WorkerTexts workerTexts(const std::string& dataModel) {
    splitmodels::GroupData data;
    for (const std::string& name : inputNames()) data.fields.push_back({name, 2, 1, {}, "input"});
    data.fields.push_back({"y", 2, 1, {}, "target"});
    uint64_t state = 7;
    auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    for (size_t r = 0; r < kRecordsPerGroup; ++r) {
        std::vector<splitmodels::Cell> row;
        double y = 1.0;
        for (size_t i = 0; i < kInputs; ++i) {
            const double x = 10 * uniform();
            y += static_cast<double>(i + 1) * x;
            row.push_back({false, x, ""});
        }
        row.push_back({false, y + uniform(), ""});
        data.rows.push_back(std::move(row));
    }
    splitmodels::ModelSpec request;
    request.target = "y";
    request.inputs = inputNames();
    request.modelId = kIdMark;
    std::vector<std::string> copied = request.inputs;
    copied.push_back(request.target);
    request.dataModel = std::make_shared<const splitmodels::DataModel>(dataModel, copied);
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(data, request);
    if (!model.ok) return {};
    return {model.statXML, model.pmml};
}

// The texts with every model ID mark replaced by this group's ID.
std::string withId(std::string text, const std::string& id) {
    for (size_t at = text.find(kIdMark); at != std::string::npos; at = text.find(kIdMark, at))
        text.replace(at, kIdMark.size(), id);
    return text;
}

std::string taskDocument(size_t group) {
    return "<SplitFields><SplitField name=\"k\" value=\"" + groupKey(group) +
           "\" isNull=\"false\"/></SplitFields>";
}

// The process's peak resident set so far, in MiB.
double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_CollectGroups(benchmark::State& state) {
    const auto groups = static_cast<size_t>(state.range(0));
    const std::string dataModel = collectDataModel(groups);
    const WorkerTexts texts = workerTexts(dataModel);
    if (texts.statXml.empty()) {
        state.SkipWithError("the worker model did not build");
        return;
    }
    refhost::Module module(SPLIT_MODULE_PATH);
    refhost::Host host;
    module.initialise(host);
    double wall = 0;
    double cpu = 0;
    double ending = 0;
    double outputBytes = 0;
    double peakRss = 0;
    for (auto _ : state) {
        refhost::Context context(host);
        context.setDataModel(dataModel);
        context.setParameter("TargetFieldList", {"y"});
        context.setParameter("InputFieldList", inputNames());
        refhost::Component component(module, context, "split_collect");
        if (component.configure() != 0 || component.beginExecution() != 0) {
            state.SkipWithError("collect did not begin");
            break;
        }
        bench::Stopwatch intake;
        bool ok = true;
        char id[32];
        for (size_t g = 0; g < groups && ok; ++g) {
            // The worker is set up outside the timed call, as a host does it
            // before the worker runs.
            refhost::Worker worker(static_cast<int64_t>(g));
            std::snprintf(id, sizeof id, "model-%07zu", g + 1);
            worker.setTask("", taskDocument(g));
            worker.container("WorkerStatXML").setDefaultEntry(withId(texts.statXml, id));
            worker.container("WorkerPMML").setDefaultEntry(withId(texts.pmml, id));
            intake.start();
            ok = component.completedWorkerTask(worker, 0) == 0;
            intake.stop();
        }
        bench::Stopwatch end;
        end.start();
        ok = ok && component.endExecution() == 0;
        end.stop();
        state.SetIterationTime(intake.wall() + end.wall());
        wall += intake.wall() + end.wall();
        cpu += intake.cpu() + end.cpu();
        ending += end.wall();
        // One entry per group, and the combined document.
        const size_t stored = context.container("StatXML").entryCount();
        // Every entry the component wrote, the root documents included, as
        // the host's containers hold them (without reading them back).
        peakRss = peakRssMiB();
        outputBytes = static_cast<double>(context.container("StatXML").spooledBytes() +
                                          context.container("PMML").spooledBytes());
        if (!ok || stored != groups + 1) {
            std::fprintf(stderr, "ok %d, %zu StatXML entries for %zu groups\n", ok, stored, groups);
            for (const refhost::Message& m : component.messages())
                std::fprintf(stderr, "%s\n", refhost::Host::describe(m).c_str());
            state.SkipWithError("a group was not collected");
        }
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["groups"] = static_cast<double>(groups);
    state.counters["us_per_group"] = wall / runs / static_cast<double>(groups) * 1e6;
    state.counters["cpu_us_per_group"] = cpu / runs / static_cast<double>(groups) * 1e6;
    state.counters["end_ms"] = ending / runs * 1e3;
    state.counters["statxml_bytes"] = static_cast<double>(texts.statXml.size());
    state.counters["pmml_bytes"] = static_cast<double>(texts.pmml.size());
    // What the collect component stored per group, and the process's peak
    // resident set at the end of execution (each size runs in a process of
    // its own).
    state.counters["output_bytes_per_group"] = outputBytes / static_cast<double>(groups);
    state.counters["peak_rss_mib"] = peakRss;
}
BENCHMARK(BM_CollectGroups)
    ->Arg(1000)->Arg(10000)->Arg(100000)
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

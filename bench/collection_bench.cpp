// Collection scaling: cf_collect_completedWorkerTask for many groups, each
// worker handing back the StatXML and PMML of a regression model with ten
// inputs, then end of execution. The time per group must not grow with the
// number of groups.
#include <benchmark/benchmark.h>

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
#include "splitmodels/group_model.h"

namespace {

constexpr size_t kInputs = 10;
// Stands for the model ID in the worker texts; replaced per group by an ID
// of the same length.
const std::string kIdMark = "model-0000000";

std::vector<std::string> inputNames() {
    std::vector<std::string> names;
    for (size_t i = 1; i <= kInputs; ++i) names.push_back("x" + std::to_string(i));
    return names;
}

// The component's input data model: split fields grp (string) and sub
// (integer), ten real inputs and a real target. No category lists: each
// group's StatXML copies its split fields' entries, so their length would
// add a per-group cost of its own.
std::string collectDataModel() {
    refhost::Table shape({{"grp", 3, 3}, {"sub", 1, 1}});
    for (const std::string& name : inputNames()) shape.addColumn({name, 2, 1});
    shape.addColumn({"y", 2, 1});
    refhost::DataModelOptions options;
    options.categories = false;
    options.roles = {{"grp", "split"}, {"sub", "split"}, {"y", "target"}};
    for (const std::string& name : inputNames()) options.roles[name] = "input";
    return refhost::dataModelXml(shape, options);
}

// What a worker hands back: a least-squares model of y on x1..x10 fitted to
// 200 records, with its PMML and StatXML.
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
    for (size_t r = 0; r < 200; ++r) {
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
    request.dataModelXml = dataModel;
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
    char text[160];
    std::snprintf(text, sizeof text,
                  "<SplitFields><SplitField name=\"grp\" value=\"g%04zu\" isNull=\"false\"/>"
                  "<SplitField name=\"sub\" value=\"%zu\" isNull=\"false\"/></SplitFields>",
                  group / 10, group % 10);
    return text;
}

void BM_CollectGroups(benchmark::State& state) {
    const auto groups = static_cast<size_t>(state.range(0));
    const std::string dataModel = collectDataModel();
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
        const size_t stored = context.container("StatXML").entries().size();
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
}
BENCHMARK(BM_CollectGroups)
    ->Arg(1000)->Arg(10000)->Arg(100000)
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

// Both components under load: several executions, each handing out and collecting every group from sixteen
// threads at once, with and without thread services.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "cf_cpp_helper.h"
#include "common/small_stack.h"
#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/table.h"

namespace {

using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;
using refhost::Cell;

// ThreadSanitizer slows every call some thirtyfold: fewer groups there.
constexpr size_t kGroups = smallstack::kUnderTsan ? 2000 : 10000;
constexpr size_t kThreads = 16;
constexpr int kExecutions = 3;

// Group g has 1 + g % 3 records; its "tag" is missing when g % 11 == 0,
// else "t" followed by g % 7. Groups with g % 50 == 49 fail in their worker.
size_t RecordsOf(size_t g) { return 1 + g % 3; }
int64_t FirstSeq(size_t g) { return static_cast<int64_t>(6 * (g / 3) + (g % 3 == 2 ? 3 : g % 3)); }
std::string TagOf(size_t g) { return g % 11 == 0 ? "null" : "t" + std::to_string(g % 7); }
Cell TagCell(size_t g) { return g % 11 == 0 ? Cell::missing() : Cell::text(TagOf(g)); }
bool WorkerFails(size_t g) { return g % 50 == 49; }
std::string ExpectedValues(size_t g) { return "g=" + std::to_string(g) + " tag=" + TagOf(g); }

// Split fields g and tag, then seq (the record's position in the input).
refhost::Table GroupedInput() {
    refhost::Table table({{"g", 1, 3}, {"tag", 3, 3}, {"seq", 1, 1}, {"x", 2, 1}, {"y", 2, 1}});
    int64_t seq = 0;
    for (size_t g = 0; g < kGroups; ++g)
        for (size_t r = 0; r < RecordsOf(g); ++r, ++seq)
            table.addRow({Cell::integer(static_cast<int64_t>(g)), TagCell(g), Cell::integer(seq), Cell::real(0.5 * seq),
                          Cell::real(static_cast<double>(r))});
    return table;
}

XMLDocument Parse(const std::string& text) { return CfCppHelperV1::HostHelper(nullptr).createFromContents(text); }

// "g=<value> tag=<value or null>" of the SplitField children of a SplitGroup,
// or of the DataField children of a split-info extension; with the group number.
std::string SplitValues(const XMLElement& parent, long long* g = nullptr) {
    std::string text;
    for (auto it = parent.getElementsDirect(""); it.hasMore();) {
        const XMLElement field = it.next();
        const bool split = field.getName() == "SplitField";
        if (!split && field.getName() != "DataField") continue;
        auto values = field.getElementsDirect("Value");
        const std::string value = split ? (field.getAttribute("isNull") == "true" ? "null" : field.getAttribute("value"))
                                        : values.hasMore() ? values.next().getAttribute("value") : "null";
        text += (text.empty() ? "" : " ") + field.getAttribute("name") + "=" + value;
    }
    if (g) *g = text.rfind("g=", 0) == 0 ? std::stoll(text.substr(2)) : -1;
    return text;
}

// Both components on contexts of their own; without thread services they have no lock, so calls are serialised.
struct StressHost {
    explicit StressHost(bool threadServices) : input(GroupedInput()), serialise(!threadServices) {
        refhost::DataModelOptions options;
        options.categories = false;  // one per group would grow every annotated document
        options.roles = {{"x", "input"}, {"y", "target"}};
        dataModel = refhost::dataModelXml(input, options);
        distribute.setInput(input);
        distribute.setDataModel(dataModel);
        distribute.setParameter("split_fields", {"g", "tag"});
        collect.setDataModel(dataModel);
        collect.setParameter("TargetFieldList", {"y"});
        collect.setParameter("InputFieldList", {"x"});
        for (refhost::Context* context : {&distribute, &collect}) context->setThreadServices(threadServices);
        EXPECT_EQ(module.initialise(host), 0u);
        distributor = std::make_unique<refhost::Component>(module, distribute, "split_distribute");
        collector = std::make_unique<refhost::Component>(module, collect, "split_collect");
    }
    template <class Call>
    cf_status Gate(Call&& call) {
        const std::unique_lock<std::mutex> guard = serialise ? std::unique_lock(mutex) : std::unique_lock<std::mutex>();
        return call();
    }
    refhost::Table input;
    bool serialise;
    std::mutex mutex;
    std::string dataModel;
    refhost::Host host;
    refhost::Module module{SPLIT_MODULE_PATH};
    refhost::Context distribute{host}, collect{host};
    std::unique_ptr<refhost::Component> distributor, collector;
};

// One worker as a host serves it, distributor then collector: the group its task named and the first fault met.
std::pair<long long, std::string> Serve(StressHost& run, refhost::Worker& worker) {
    long long g = -1;
    std::string problem, first, task, model;
    int err = 0;
    auto call = [&](const char* name, auto&& body) {
        const cf_status status = run.Gate(body);
        if (status != 0 && problem.empty()) problem = name + (" " + std::to_string(status));
        return status == 0;
    };
    if (!call("task", [&] { return run.distributor->getWorkerTask(worker, &first, &task, &err); })) return {g, problem};
    worker.setTask(first, task);
    try {
        XMLDocument document = Parse(task);
        const std::string values = SplitValues(document, &g);
        if (g < 0 || static_cast<size_t>(g) >= kGroups || values != ExpectedValues(g)) problem = "task names " + values;
        document.dispose();
    } catch (const CfCppHelperV1::XMLException&) { problem = "task does not parse"; }
    CFIterator* iterator = nullptr;
    if (!problem.empty() || !call("iterator", [&] { return run.distributor->getIterator(&worker, 0, &iterator, &err); }))
        return {g, problem};
    cf_status read = 0;
    const refhost::TableRows records = refhost::readTable(iterator, run.input.columns(), &read);
    std::vector<int64_t> seqs, expected;
    for (const auto& row : records.rows()) {
        if (row[0] != Cell::integer(g) || row[1] != TagCell(g)) problem = "a record of another group";
        seqs.push_back(row[2].asInteger());
    }
    for (size_t r = 0; r < RecordsOf(g); ++r) expected.push_back(FirstSeq(g) + static_cast<int64_t>(r));
    if (read != 0 || seqs != expected) problem = "records unreadable, missing or out of order";
    call("data model", [&] { return run.distributor->getDataModel(&worker, 0, &model, &err); });
    if (model != run.dataModel) problem = "another data model";
    call("started", [&] { return run.collector->startedWorkerTask(worker, &err); });
    const std::string n = std::to_string(g);
    if (!WorkerFails(g)) {
        worker.container("WorkerStatXML").setDefaultEntry("<StatXML version=\"1.0\"><BuildSettings algorithm=\"linear\"/>"
            "<PMMLModel modelID=\"m" + n + "\" modelType=\"RegressionModel\" isActive=\"true\"><PredictiveSummary "
            "name=\"records\" value=\"" + std::to_string(records.rowCount()) + "\"/></PMMLModel></StatXML>");
        worker.container("WorkerPMML").setDefaultEntry("<PMML version=\"4.4\"><Header/><DataDictionary numberOfFields="
            "\"0\"/><RegressionModel modelName=\"r" + n + "\" functionName=\"regression\"/></PMML>");
    }
    call("completed", [&] { return run.collector->completedWorkerTask(worker, WorkerFails(g), &err); });
    return {g, problem};
}

// Per container one whole entry m<g> per modelled group naming its own split values (and PMML model), then the
// same root: one data model, one section per group, a summary per modelled group and a failure per failed one.
void ExpectCollected(refhost::Context& collect) {
    const size_t modelled = kGroups - kGroups / 50;
    for (const std::string name : {"StatXML", "PMML"}) {
        const std::vector<refhost::Entry> entries = collect.container(name).entries();
        ASSERT_EQ(entries.size(), modelled + 1) << name;
        EXPECT_EQ(entries.back().key, "root" + name);
        std::set<long long> seen;
        for (size_t e = 0; e + 1 < entries.size(); ++e) {
            ASSERT_TRUE(entries[e].complete) << name << " " << entries[e].key;
            XMLDocument document = Parse(entries[e].data);
            XMLElement marks = document.getElementsDirect(name == "PMML" ? "MiningBuildTask" : "SplitGroup").next();
            if (name == "PMML") marks = marks.getElementsDirect("Extension").next();
            long long g = -1;
            const std::string values = SplitValues(marks, &g);
            EXPECT_TRUE(entries[e].key == "m" + std::to_string(g) && values == ExpectedValues(g)) << name << " " << values;
            EXPECT_TRUE(name != "PMML" || document.getElementsDirect("RegressionModel").next().getAttribute("modelName") ==
                                              "r" + std::to_string(g)) << entries[e].key;
            seen.insert(g);
            document.dispose();
        }
        EXPECT_EQ(seen.size(), modelled) << name;
    }
    const std::string root = collect.container("StatXML").entries().back().data;
    EXPECT_EQ(root, collect.container("PMML").entries().back().data);
    XMLDocument document = Parse(root);
    for (const char* once : {"BuildSettings", "DataModel"}) EXPECT_EQ(document.getElementsDirect(once).count(), 1u) << once;
    std::vector<int> sections(kGroups, 0);
    for (auto it = document.getElementsDirect("SplitGroup"); it.hasMore();) {
        const XMLElement group = it.next();
        long long g = -1;
        const std::string values = SplitValues(group, &g);
        ASSERT_TRUE(g >= 0 && static_cast<size_t>(g) < kGroups && values == ExpectedValues(g)) << values;
        ++sections[g];
        auto summary = group.getElementsDirect("ModelSummary");
        EXPECT_EQ(group.getElementsDirect("Message").count(), WorkerFails(g) ? 1u : 0u) << g;
        ASSERT_EQ(summary.hasMore(), !WorkerFails(g)) << g;
        if (WorkerFails(g)) continue;
        const XMLElement model = summary.next();
        EXPECT_EQ(model.getAttribute("modelID") + " " + model.getElementsDirect("PredictiveSummary").next().getAttribute("value"),
                  "m" + std::to_string(g) + " " + std::to_string(RecordsOf(g)));
    }
    EXPECT_EQ(sections, std::vector<int>(kGroups, 1));
    document.dispose();
}

class Stress : public ::testing::TestWithParam<bool> {};

TEST_P(Stress, SixteenThreadsServeAndCollectEveryGroupOfEachExecution) {
    const bool threadServices = GetParam();
    StressHost run(threadServices);
    int err = 0;
    ASSERT_EQ(run.distributor->configure(&err) + run.collector->configure(&err), 0u);
    for (int execution = 1; execution <= kExecutions; ++execution) {
        SCOPED_TRACE("execution " + std::to_string(execution));
        const size_t before = run.distribute.workers().size();
        ASSERT_EQ(run.distributor->beginExecution(&err) + run.collector->beginExecution(&err), 0u);
        const std::vector<refhost::Worker*> all = run.distribute.workers();
        ASSERT_EQ(all.size() - before, kGroups);
        std::vector<std::pair<long long, std::string>> served(kGroups);
        std::atomic<size_t> next{0};
        std::vector<std::thread> threads;
        for (size_t t = 0; t < kThreads; ++t)
            threads.emplace_back([&] { for (size_t i = next++; i < kGroups; i = next++) served[i] = Serve(run, *all[before + i]); });
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(run.distributor->endExecution(&err), 0u);
        ASSERT_EQ(run.collector->endExecution(&err), 0u);

        size_t faults = 0;  // every group served without a fault; once each is checked on the combined document
        for (const auto& [g, problem] : served)
            if (!problem.empty() && ++faults <= 5) ADD_FAILURE() << "group " << g << ": " << problem;
        EXPECT_EQ(faults, 0u);
        EXPECT_EQ(run.distribute.liveRecordSets() + run.distribute.badReleases(), 0u);
        ExpectCollected(run.collect);
        for (refhost::Component* component : {run.distributor.get(), run.collector.get()})
            for (const refhost::Message& message : component->messages())
                EXPECT_NE(message.type, 3) << component->name() << ": " << refhost::Host::describe(message);
        for (refhost::Context* context : {&run.distribute, &run.collect}) {
            const refhost::LockStats l = context->lockStats();
            EXPECT_TRUE(l.held + l.misuses == 0 && l.taken == l.released && (l.taken > 0) == threadServices) << l.taken;
        }
    }
    // One lock per component, taken at least once per hand-out, and destroyed with the component.
    EXPECT_GE(run.distribute.lockStats().taken, threadServices ? kGroups * kExecutions : 0u);
    EXPECT_EQ(run.distributor->destroy(&err) + run.collector->destroy(&err), 0u);
    for (refhost::Context* context : {&run.distribute, &run.collect}) {
        const refhost::LockStats locks = context->lockStats();
        EXPECT_EQ(locks.created, threadServices ? 1u : 0u);
        EXPECT_TRUE(locks.destroyed == locks.created && locks.misuses == 0u) << locks.destroyed;
    }
}

INSTANTIATE_TEST_SUITE_P(ThreadServices, Stress, ::testing::Bool());

}  // namespace

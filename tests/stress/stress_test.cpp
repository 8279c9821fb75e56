// Both components under load: several executions on the same two
// components, each handing out and collecting every group from sixteen
// threads at once, with and without thread services on the contexts.
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
bool TagMissing(size_t g) { return g % 11 == 0; }
std::string TagOf(size_t g) { return TagMissing(g) ? "" : "t" + std::to_string(g % 7); }
bool WorkerFails(size_t g) { return g % 50 == 49; }
std::string ExpectedValues(size_t g) { return "g=" + std::to_string(g) + " tag=" + (TagMissing(g) ? "null" : TagOf(g)); }

// Split fields g and tag, then seq (the record's position in the input).
refhost::Table GroupedInput() {
    refhost::Table table({{"g", 1, 3}, {"tag", 3, 3}, {"seq", 1, 1}, {"x", 2, 1}, {"y", 2, 1}});
    int64_t seq = 0;
    for (size_t g = 0; g < kGroups; ++g) {
        const Cell tag = TagMissing(g) ? Cell::missing() : Cell::text(TagOf(g));
        for (size_t r = 0; r < RecordsOf(g); ++r, ++seq)
            table.addRow({Cell::integer(static_cast<int64_t>(g)), tag, Cell::integer(seq), Cell::real(0.5 * seq),
                          Cell::real(static_cast<double>(r))});
    }
    return table;
}

XMLDocument Parse(const std::string& text) { return CfCppHelperV1::HostHelper(nullptr).createFromContents(text); }

// "g=<value> tag=<value or null>" of the SplitField children of a SplitGroup,
// or of the DataField children of a split-info extension.
std::string SplitValues(const XMLElement& parent) {
    std::string text;
    for (auto it = parent.getElementsDirect(""); it.hasMore();) {
        const XMLElement field = it.next();
        std::string value = "null";
        if (field.getName() == "SplitField" && field.getAttribute("isNull") != "true") {
            value = field.getAttribute("value");
        } else if (field.getName() == "DataField" && field.getElementsDirect("Value").hasMore()) {
            value = field.getElementsDirect("Value").next().getAttribute("value");
        } else if (field.getName() != "SplitField" && field.getName() != "DataField") {
            continue;
        }
        text += (text.empty() ? "" : " ") + field.getAttribute("name") + "=" + value;
    }
    return text;
}
long long GroupNumber(const XMLElement& parent) {
    const std::string values = SplitValues(parent);
    return values.rfind("g=", 0) == 0 ? std::stoll(values.substr(2)) : -1;
}

// The host: both components on contexts of their own. Without thread
// services a component has no lock, so the host makes its calls one at a time.
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
        distribute.setThreadServices(threadServices);
        collect.setThreadServices(threadServices);
        EXPECT_EQ(module.initialise(host), 0u);
        distributor = std::make_unique<refhost::Component>(module, distribute, "split_distribute");
        collector = std::make_unique<refhost::Component>(module, collect, "split_collect");
    }
    template <class Call>
    cf_status Gate(Call&& call) {
        std::unique_lock<std::mutex> guard(mutex, std::defer_lock);
        if (serialise) guard.lock();
        return call();
    }

    refhost::Table input;
    bool serialise;
    std::mutex mutex;
    std::string dataModel;
    refhost::Host host;
    refhost::Module module{SPLIT_MODULE_PATH};
    refhost::Context distribute{host};
    refhost::Context collect{host};
    std::unique_ptr<refhost::Component> distributor, collector;
};

// What one worker thread saw while serving one worker.
struct Served {
    cf_status task = 99, iterator = 99, dataModel = 99, started = 99, completed = 99;
    long long g = -1;     // the group its task named
    std::string problem;  // the first mismatch met
    std::vector<int64_t> seqs;
};

// One worker as a host serves it: task, records and data model from the
// distributor, then its outputs and the hand-in to the collector.
Served Serve(StressHost& run, refhost::Worker& worker) {
    Served s;
    std::string first, task;
    int err = 0;
    s.task = run.Gate([&] { return run.distributor->getWorkerTask(worker, &first, &task, &err); });
    if (s.task != 0) return s;
    worker.setTask(first, task);
    try {
        XMLDocument document = Parse(task);
        s.g = GroupNumber(document);
        if (s.g < 0 || SplitValues(document) != ExpectedValues(s.g)) s.problem = "task names " + SplitValues(document);
        document.dispose();
    } catch (const CfCppHelperV1::XMLException&) {
        s.problem = "task does not parse";
    }
    if (!s.problem.empty()) return s;

    CFIterator* iterator = nullptr;
    s.iterator = run.Gate([&] { return run.distributor->getIterator(&worker, 0, &iterator, &err); });
    if (s.iterator != 0) return s;
    cf_status read = 0;
    const refhost::Table records = refhost::readTable(iterator, run.input.columns(), &read);
    const Cell tag = TagMissing(s.g) ? Cell::missing() : Cell::text(TagOf(s.g));
    for (const auto& row : records.rows()) {
        if (row[0] != Cell::integer(s.g) || row[1] != tag) s.problem = "a record of another group";
        s.seqs.push_back(row[2].asInteger());
    }
    if (read != 0) s.problem = "records unreadable";
    std::string model;
    s.dataModel = run.Gate([&] { return run.distributor->getDataModel(&worker, 0, &model, &err); });
    if (model != run.dataModel) s.problem = "another data model";
    s.started = run.Gate([&] { return run.collector->startedWorkerTask(worker, &err); });

    const std::string g = std::to_string(s.g);
    if (!WorkerFails(s.g)) {
        worker.container("WorkerStatXML").setDefaultEntry(
            "<StatXML version=\"1.0\"><BuildSettings algorithm=\"linear\"/><PMMLModel modelID=\"m" + g +
            "\" modelType=\"RegressionModel\" isActive=\"true\"><PredictiveSummary name=\"records\" value=\"" +
            std::to_string(records.rowCount()) + "\"/></PMMLModel></StatXML>");
        worker.container("WorkerPMML").setDefaultEntry(
            "<PMML version=\"4.4\"><Header/><DataDictionary numberOfFields=\"0\"/><RegressionModel modelName=\"r" +
            g + "\" functionName=\"regression\"/></PMML>");
    }
    s.completed = run.Gate([&] { return run.collector->completedWorkerTask(worker, WorkerFails(s.g), &err); });
    return s;
}

// Every group was handed out once, with exactly its records in input order,
// and every call succeeded.
void ExpectEveryGroupOnce(const std::vector<Served>& served) {
    std::vector<int64_t> firstSeq(kGroups);
    for (size_t g = 1; g < kGroups; ++g) firstSeq[g] = firstSeq[g - 1] + static_cast<int64_t>(RecordsOf(g - 1));
    std::vector<int> times(kGroups, 0);
    size_t bad = 0;
    for (const Served& s : served) {
        if (s.task + s.iterator + s.dataModel + s.started + s.completed != 0 || !s.problem.empty() ||
            s.g < 0 || static_cast<size_t>(s.g) >= kGroups) {
            if (++bad <= 5)
                ADD_FAILURE() << "group " << s.g << ": statuses " << s.task << " " << s.iterator << " "
                              << s.dataModel << " " << s.started << " " << s.completed << " " << s.problem;
            continue;
        }
        ++times[s.g];
        std::vector<int64_t> expected(RecordsOf(s.g));
        for (size_t r = 0; r < expected.size(); ++r) expected[r] = firstSeq[s.g] + static_cast<int64_t>(r);
        EXPECT_EQ(s.seqs, expected) << "group " << s.g;
    }
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(times, std::vector<int>(kGroups, 1));
}

// One whole entry under m<g> per modelled group naming its own split values
// (and, in PMML, its own model), then the root entry.
void ExpectGroupEntries(refhost::Context& collect, const std::string& name) {
    const std::vector<refhost::Entry> entries = collect.container(name).entries();
    size_t modelled = 0;
    for (size_t g = 0; g < kGroups; ++g) modelled += WorkerFails(g) ? 0 : 1;
    ASSERT_EQ(entries.size(), modelled + 1) << name;
    EXPECT_EQ(entries.back().key, "root" + name);
    std::set<long long> seen;
    for (size_t e = 0; e + 1 < entries.size(); ++e) {
        ASSERT_TRUE(entries[e].complete) << name << " " << entries[e].key;
        XMLDocument document = Parse(entries[e].data);
        XMLElement marks = document.getElementsDirect("SplitGroup").next();
        if (name == "PMML") {
            marks = document.getElementsDirect("MiningBuildTask").next().getElementsDirect("Extension").next();
            EXPECT_EQ(document.getElementsDirect("RegressionModel").next().getAttribute("modelName"),
                      "r" + entries[e].key.substr(1));
        }
        const long long g = GroupNumber(marks);
        EXPECT_EQ(entries[e].key, "m" + std::to_string(g));
        if (g >= 0) {
            EXPECT_EQ(SplitValues(marks), ExpectedValues(g)) << name << " " << entries[e].key;
        }
        seen.insert(g);
        document.dispose();
    }
    EXPECT_EQ(seen.size(), modelled) << name;
}

// The combined document: one data model section and one section per group,
// a model summary for each modelled group and a failure for each failed one.
void ExpectCombinedDocument(refhost::Context& collect) {
    const std::string root = collect.container("StatXML").entries().back().data;
    EXPECT_EQ(root, collect.container("PMML").entries().back().data);
    XMLDocument document = Parse(root);
    EXPECT_EQ(document.getElementsDirect("BuildSettings").count(), 1u);
    EXPECT_EQ(document.getElementsDirect("DataModel").count(), 1u);
    std::vector<int> sections(kGroups, 0);
    for (auto it = document.getElementsDirect("SplitGroup"); it.hasMore();) {
        const XMLElement group = it.next();
        const long long g = GroupNumber(group);
        ASSERT_TRUE(g >= 0 && static_cast<size_t>(g) < kGroups) << SplitValues(group);
        ++sections[g];
        EXPECT_EQ(SplitValues(group), ExpectedValues(g));
        auto summary = group.getElementsDirect("ModelSummary");
        EXPECT_EQ(group.getElementsDirect("Message").count(), WorkerFails(g) ? 1u : 0u) << g;
        ASSERT_EQ(summary.hasMore(), !WorkerFails(g)) << g;
        if (WorkerFails(g)) continue;
        const XMLElement model = summary.next();
        EXPECT_EQ(model.getAttribute("modelID"), "m" + std::to_string(g));
        EXPECT_EQ(model.getElementsDirect("PredictiveSummary").next().getAttribute("value"),
                  std::to_string(RecordsOf(g)));
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
        std::vector<Served> served(kGroups);
        std::atomic<size_t> next{0};
        std::vector<std::thread> threads;
        for (size_t t = 0; t < kThreads; ++t)
            threads.emplace_back([&] {
                for (size_t i = next++; i < kGroups; i = next++) served[i] = Serve(run, *all[before + i]);
            });
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(run.distributor->endExecution(&err), 0u);
        ASSERT_EQ(run.collector->endExecution(&err), 0u);

        ExpectEveryGroupOnce(served);
        EXPECT_EQ(run.distribute.liveRecordSets() + run.distribute.badReleases(), 0u);
        ExpectGroupEntries(run.collect, "StatXML");
        ExpectGroupEntries(run.collect, "PMML");
        ExpectCombinedDocument(run.collect);
        for (refhost::Component* component : {run.distributor.get(), run.collector.get()})
            for (const refhost::Message& message : component->messages())
                EXPECT_NE(message.type, 3) << component->name() << ": " << refhost::Host::describe(message);
        for (refhost::Context* context : {&run.distribute, &run.collect}) {
            const refhost::LockStats locks = context->lockStats();
            EXPECT_EQ(locks.held + locks.misuses, 0u);
            EXPECT_EQ(locks.taken, locks.released);
            EXPECT_EQ(locks.taken > 0, threadServices);
        }
    }
    // One lock per component, taken at least once per hand-out, and
    // destroyed with the component.
    EXPECT_GE(run.distribute.lockStats().taken, threadServices ? kGroups * kExecutions : 0u);
    EXPECT_EQ(run.distributor->destroy(&err) + run.collector->destroy(&err), 0u);
    for (refhost::Context* context : {&run.distribute, &run.collect}) {
        const refhost::LockStats locks = context->lockStats();
        EXPECT_EQ(locks.created, threadServices ? 1u : 0u);
        EXPECT_EQ(locks.destroyed, locks.created);
        EXPECT_EQ(locks.misuses, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(ThreadServices, Stress, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "offered" : "withdrawn"); });

}  // namespace

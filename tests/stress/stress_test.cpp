// Both components under load: several executions on the same two
// components, each handing out and collecting every group from sixteen
// threads at once, with and without thread services on the contexts.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

#include "stress/stress_harness.h"

namespace stresstest {
namespace {

using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;

// ThreadSanitizer slows every call some thirtyfold; it runs the same threads
// and executions over fewer groups so the test ends within a minute.
#if defined(__SANITIZE_THREAD__)
#define STRESS_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define STRESS_UNDER_TSAN 1
#endif
#endif
#ifdef STRESS_UNDER_TSAN
constexpr size_t kGroups = 2000;
#else
constexpr size_t kGroups = 10000;
#endif
constexpr size_t kThreads = 16;
constexpr int kExecutions = 3;

// What one worker thread saw while serving one worker.
struct Served {
    cf_status task = 99, iterator = 99, dataModel = 99, started = 99, completed = 99;
    long long g = -1;         // the group its task named
    std::string problem;      // the first mismatch met, empty when none
    std::vector<int64_t> seqs;
};

XMLDocument Parse(const std::string& text) { return CfCppHelperV1::HostHelper(nullptr).createFromContents(text); }

// The number of the group whose split values an element lists (its first
// SplitField or split-info DataField is g).
long long GroupNumber(const XMLElement& parent) {
    const std::string values = SplitValues(parent);
    return values.rfind("g=", 0) == 0 ? std::stoll(values.substr(2)) : -1;
}

// One worker, as a host serves it: its task, records and data model from the
// distributor, then its outputs, then the hand-in to the collector.
Served Serve(StressHost& run, HostGate& gate, refhost::Worker& worker) {
    Served s;
    std::string first, task;
    int err = 0;
    s.task = gate([&] { return run.distributor->getWorkerTask(worker, &first, &task, &err); });
    if (s.task != 0) return s;
    worker.setTask(first, task);
    XMLDocument document;
    try {
        document = Parse(task);
    } catch (const CfCppHelperV1::XMLException&) {
        s.problem = "task does not parse";
        return s;
    }
    s.g = GroupNumber(document);
    if (SplitValues(document) != ExpectedValues(static_cast<size_t>(s.g)))
        s.problem = "task names " + SplitValues(document);
    document.dispose();

    CFIterator* iterator = nullptr;
    s.iterator = gate([&] { return run.distributor->getIterator(&worker, 0, &iterator, &err); });
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
    s.dataModel = gate([&] { return run.distributor->getDataModel(&worker, 0, &model, &err); });
    if (model != run.dataModel) s.problem = "another data model";
    s.started = gate([&] { return run.collector->startedWorkerTask(worker, &err); });

    const std::string g = std::to_string(s.g);
    const bool fails = WorkerFails(s.g);
    if (!fails) {
        worker.container("WorkerStatXML").setDefaultEntry(WorkerStatXML(g, records.rowCount()));
        worker.container("WorkerPMML").setDefaultEntry(WorkerPMML(g));
    }
    s.completed = gate([&] { return run.collector->completedWorkerTask(worker, fails ? 1 : 0, &err); });
    return s;
}

// Every group was handed out exactly once, with exactly its records in input
// order, and every call succeeded.
void ExpectEveryGroupOnce(const std::vector<Served>& served, const std::vector<int64_t>& firstSeq) {
    std::vector<int> times(firstSeq.size(), 0);
    size_t bad = 0;
    for (const Served& s : served) {
        const bool ok = s.task == 0 && s.iterator == 0 && s.dataModel == 0 && s.started == 0 &&
                        s.completed == 0 && s.problem.empty() && s.g >= 0 &&
                        static_cast<size_t>(s.g) < firstSeq.size();
        if (!ok) {
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
    EXPECT_EQ(times, std::vector<int>(firstSeq.size(), 1));
}

// The keyed entries of one output container of the latest execution: one
// whole entry under m<g> per modelled group that names the group's own split
// values, then the root entry.
void ExpectGroupEntries(refhost::Context& collect, const char* name, const char* rootKey, size_t groups) {
    const std::vector<refhost::Entry> entries = collect.container(name).entries();
    size_t modelled = 0;
    for (size_t g = 0; g < groups; ++g) modelled += WorkerFails(g) ? 0 : 1;
    ASSERT_EQ(entries.size(), modelled + 1) << name;
    EXPECT_EQ(entries.back().key, rootKey);
    std::set<long long> seen;
    for (size_t e = 0; e + 1 < entries.size(); ++e) {
        const refhost::Entry& entry = entries[e];
        ASSERT_TRUE(entry.complete) << name << " " << entry.key;
        XMLDocument document = Parse(entry.data);
        XMLElement marks = document;
        if (std::string(name) == "StatXML") {
            marks = document.getElementsDirect("SplitGroup").next();
        } else {
            marks = document.getElementsDirect("MiningBuildTask").next().getElementsDirect("Extension").next();
            EXPECT_EQ(document.getElementsDirect("RegressionModel").next().getAttribute("modelName"),
                      "r" + entry.key.substr(1));
        }
        const long long g = GroupNumber(marks);
        EXPECT_EQ(entry.key, "m" + std::to_string(g));
        if (g >= 0) {
            EXPECT_EQ(SplitValues(marks), ExpectedValues(g)) << name << " " << entry.key;
        }
        seen.insert(g);
        document.dispose();
    }
    EXPECT_EQ(seen.size(), modelled) << name;
}

// The combined document: the data model section and one section per group,
// a model summary for each modelled group and a failure section for each
// failed one.
void ExpectCombinedDocument(refhost::Context& collect, size_t groups) {
    const std::string root = collect.container("StatXML").entries().back().data;
    EXPECT_EQ(root, collect.container("PMML").entries().back().data);
    XMLDocument document = Parse(root);
    EXPECT_EQ(document.getElementsDirect("BuildSettings").count(), 1u);
    EXPECT_EQ(document.getElementsDirect("DataModel").count(), 1u);
    std::vector<int> sections(groups, 0);
    for (auto it = document.getElementsDirect("SplitGroup"); it.hasMore();) {
        const XMLElement group = it.next();
        const long long g = GroupNumber(group);
        ASSERT_TRUE(g >= 0 && static_cast<size_t>(g) < groups) << SplitValues(group);
        ++sections[g];
        EXPECT_EQ(SplitValues(group), ExpectedValues(g));
        auto summary = group.getElementsDirect("ModelSummary");
        if (WorkerFails(g)) {
            EXPECT_FALSE(summary.hasMore()) << g;
            EXPECT_EQ(group.getElementsDirect("Message").count(), 1u) << g;
        } else {
            ASSERT_TRUE(summary.hasMore()) << g;
            const XMLElement model = summary.next();
            EXPECT_EQ(model.getAttribute("modelID"), "m" + std::to_string(g));
            EXPECT_EQ(model.getElementsDirect("PredictiveSummary").next().getAttribute("value"),
                      std::to_string(RecordsOf(g)));
        }
    }
    EXPECT_EQ(sections, std::vector<int>(groups, 1));
    document.dispose();
}

void ExpectNoErrors(refhost::Component& component) {
    cf_status status = 0;
    for (const refhost::Message& message : component.messages(&status))
        EXPECT_NE(message.type, 3) << component.name() << ": " << refhost::Host::describe(message);
    EXPECT_EQ(status, 0u);
}

struct Variant {
    const char* name;
    bool threadServices;
};

class Stress : public ::testing::TestWithParam<Variant> {};

TEST_P(Stress, SixteenThreadsServeAndCollectEveryGroupOfEachExecution) {
    const refhost::Table input = GroupedInput(kGroups);
    std::vector<int64_t> firstSeq(kGroups);
    for (size_t g = 1; g < kGroups; ++g) firstSeq[g] = firstSeq[g - 1] + static_cast<int64_t>(RecordsOf(g - 1));

    StressHost run(input, GetParam().threadServices);
    HostGate gate(!GetParam().threadServices);
    int err = 0;
    ASSERT_EQ(run.distributor->configure(&err), 0u);
    ASSERT_EQ(run.collector->configure(&err), 0u);

    for (int execution = 1; execution <= kExecutions; ++execution) {
        SCOPED_TRACE("execution " + std::to_string(execution));
        const auto start = std::chrono::steady_clock::now();
        const size_t before = run.distribute.workers().size();
        ASSERT_EQ(run.distributor->beginExecution(&err), 0u);
        ASSERT_EQ(run.collector->beginExecution(&err), 0u);
        const std::vector<refhost::Worker*> all = run.distribute.workers();
        ASSERT_EQ(all.size() - before, kGroups);

        std::vector<Served> served(kGroups);
        std::atomic<size_t> next{0};
        std::vector<std::thread> threads;
        for (size_t t = 0; t < kThreads; ++t)
            threads.emplace_back([&] {
                for (size_t i = next++; i < kGroups; i = next++) served[i] = Serve(run, gate, *all[before + i]);
            });
        for (std::thread& thread : threads) thread.join();

        EXPECT_EQ(run.distributor->endExecution(&err), 0u);
        ASSERT_EQ(run.collector->endExecution(&err), 0u);
        std::printf("[ stress   ] %s, execution %d: %zu groups on %zu threads in %.2f s, up to %zu calls at once\n",
                    GetParam().name, execution, kGroups, kThreads,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    gate.mostAtOnce());

        ExpectEveryGroupOnce(served, firstSeq);
        EXPECT_EQ(run.distribute.liveRecordSets(), 0u);
        EXPECT_EQ(run.distribute.badReleases(), 0u);
        ExpectGroupEntries(run.collect, "StatXML", "rootStatXML", kGroups);
        ExpectGroupEntries(run.collect, "PMML", "rootPMML", kGroups);
        ExpectCombinedDocument(run.collect, kGroups);
        ExpectNoErrors(*run.distributor);
        ExpectNoErrors(*run.collector);
        for (refhost::Context* context : {&run.distribute, &run.collect}) {
            const refhost::LockStats locks = context->lockStats();
            EXPECT_EQ(locks.held, 0u);
            EXPECT_EQ(locks.misuses, 0u);
            EXPECT_EQ(locks.taken, locks.released);
            EXPECT_EQ(locks.taken > 0, GetParam().threadServices);
        }
    }

    EXPECT_EQ(run.distributor->destroy(&err), 0u);
    EXPECT_EQ(run.collector->destroy(&err), 0u);
    for (refhost::Context* context : {&run.distribute, &run.collect}) {
        const refhost::LockStats locks = context->lockStats();
        EXPECT_EQ(locks.created, GetParam().threadServices ? 1u : 0u);
        EXPECT_EQ(locks.destroyed, locks.created);
        EXPECT_EQ(locks.misuses, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(ThreadServices, Stress,
                         ::testing::Values(Variant{"offered", true}, Variant{"withdrawn", false}),
                         [](const ::testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace stresstest

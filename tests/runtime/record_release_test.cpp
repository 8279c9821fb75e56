// A run hands several tasks to each worker, so the distribute component
// gives back each group's record set as the run goes instead of holding
// every group until the end; each worker still reads its own group whole,
// and the output does not depend on the thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/run.h"
#include "refhost/table.h"

namespace refhost {
namespace {

constexpr size_t kGroups = 400;

size_t groupSize(size_t g) { return 1 + g % 7; }

// Every record of group g carries g in x; a worker that read another
// group's records, or a set released under it, fails its group.
WorkerOutput checkingWorker(const WorkerJob& job) {
    const size_t g = job.groupIndex;
    WorkerOutput out;
    if (job.records.rowCount() != groupSize(g)) return {1, "wrong record count", "", "", ""};
    for (size_t r = 0; r < job.records.rowCount(); ++r)
        if (job.records.at(r, 1).asReal() != static_cast<double>(g))
            return {1, "another group's record", "", "", ""};
    char id[32];
    std::snprintf(id, sizeof id, "model-%04zu", g + 1);
    out.statXml = std::string("<StatXML><PMMLModel modelID=\"") + id +
                  "\" modelType=\"RegressionModel\" isActive=\"true\"><PredictiveSummary recordCount=\"" +
                  std::to_string(job.records.rowCount()) + "\"/></PMMLModel></StatXML>";
    out.pmml = "<PMML xmlns=\"http://www.dmg.org/PMML-4_4\" version=\"4.4\"><DataDictionary/>"
               "<Header description=\"" + std::string(id) + "\"/></PMML>";
    return out;
}

struct Released {
    RunResult result;
    size_t peakLive = 0;
    size_t created = 0;
};

Released runWith(size_t threads) {
    Table input({{"k", 3, 3}, {"x", 2, 1}});
    for (size_t g = 0; g < kGroups; ++g)
        for (size_t r = 0; r < groupSize(g); ++r)
            input.addRow({Cell::text("s" + std::to_string(1000 + g)), Cell::real(static_cast<double>(g))});
    Module module(SPLIT_MODULE_PATH);
    Host host;
    Context* distribute = nullptr;
    std::atomic<size_t> peak{0};
    std::atomic<size_t> created{0};
    RunConfig config;
    config.input = input;
    config.splitFields = {"k"};
    config.targetFields = {"x"};
    config.threads = threads;
    config.prepare = [&distribute](Context& d, Context&) { distribute = &d; };
    // The distribute context goes with the run: its counts are read while
    // the workers run, the last worker seeing every set created.
    config.worker = [&](const WorkerJob& job) {
        size_t seen = distribute->peakLiveRecordSets();
        for (size_t p = peak.load(); p < seen && !peak.compare_exchange_weak(p, seen);) {
        }
        seen = distribute->recordSetsCreated();
        for (size_t c = created.load(); c < seen && !created.compare_exchange_weak(c, seen);) {
        }
        return checkingWorker(job);
    };
    Released out{runSplit(module, host, config), 0, 0};
    out.peakLive = peak.load();
    out.created = created.load();
    return out;
}

TEST(RecordRelease, SetsGoBackAsTheRunGoesWithTheSameOutput) {
    const Released single = runWith(1);
    ASSERT_TRUE(single.result.ok());
    ASSERT_EQ(single.result.groups.size(), kGroups);
    EXPECT_EQ(single.created, kGroups);
    // One thread: one worker takes every task and gives its set back first.
    EXPECT_EQ(single.peakLive, 1u);

    for (size_t threads : {2u, 5u}) {
        SCOPED_TRACE(threads);
        const Released many = runWith(threads);
        ASSERT_TRUE(many.result.ok());
        EXPECT_EQ(many.created, kGroups);
        // Sets live at once are the tasks in flight and those waiting for
        // the groups before them: far fewer than the groups.
        EXPECT_GE(many.peakLive, 1u);
        EXPECT_LT(many.peakLive, kGroups / 4);
        for (size_t g = 0; g < kGroups; ++g) EXPECT_EQ(many.result.groups[g].index, g);
        for (const char* name : {"StatXML", "PMML"}) {
            const std::vector<Entry> expected = single.result.outputs.entries(name);
            const std::vector<Entry> got = many.result.outputs.entries(name);
            ASSERT_EQ(got.size(), expected.size()) << name;
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].key, expected[i].key);
                EXPECT_TRUE(got[i].data == expected[i].data) << name << " entry " << i;
            }
        }
    }
}

}  // namespace
}  // namespace refhost

// A run gives each group's record set back as it goes, each worker still reading its own group whole
// (a view of the input's rows); the outputs, read back from the spool, do not depend on the thread count.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <tuple>

#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/run.h"

namespace refhost {
namespace {

constexpr size_t kGroups = 400;

size_t groupSize(size_t g) { return 1 + g % 7; }

std::string modelId(size_t g) { return "model-" + std::to_string(10001 + g).substr(1); }

// Every record of group g carries g in x; another group's records, or a set released under it, fail.
WorkerOutput checkingWorker(const WorkerJob& job) {
    const size_t g = job.groupIndex, n = job.records.rowCount();
    if (n != groupSize(g)) return {1, "wrong record count", "", "", ""};
    if (!job.records.isView()) return {1, "a copy of the input's rows", "", "", ""};
    for (size_t r = 0; r < n; ++r)
        if (job.records.at(r, 1).asReal() != static_cast<double>(g)) return {1, "another group's record", "", "", ""};
    return {0, "",
            "<StatXML><PMMLModel modelID=\"" + modelId(g) + "\" modelType=\"RegressionModel\" isActive=\"true\">"
            "<PredictiveSummary recordCount=\"" + std::to_string(n) + "\"/></PMMLModel></StatXML>",
            "<PMML xmlns=\"http://www.dmg.org/PMML-4_4\" version=\"4.4\"><DataDictionary/><Header description=\"" +
                modelId(g) + "\"/></PMML>",
            ""};
}

// The run's result, the most record sets live at once, and those created, as the workers saw them.
std::tuple<RunResult, size_t, size_t> runWith(size_t threads) {
    RunConfig config;
    config.input = Table({{"k", 3, 3}, {"x", 2, 1}});
    for (size_t g = 0; g < kGroups; ++g)
        for (size_t r = 0; r < groupSize(g); ++r)
            config.input.addRow({Cell::text("s" + std::to_string(1000 + g)), Cell::real(static_cast<double>(g))});
    config.splitFields = {"k"};
    config.targetFields = {"x"};
    config.threads = threads;
    Context* distribute = nullptr;
    std::atomic<size_t> peak{0}, created{0};
    config.prepare = [&distribute](Context& d, Context&) { distribute = &d; };
    config.worker = [&](const WorkerJob& job) {
        for (auto [most, now] : {std::pair{&peak, distribute->peakLiveRecordSets()},
                                 std::pair{&created, distribute->recordSetsCreated()}})
            for (size_t seen = most->load(); seen < now && !most->compare_exchange_weak(seen, now);) {
            }
        return checkingWorker(job);
    };
    Module module(SPLIT_MODULE_PATH);
    Host host;
    RunResult result = runSplit(module, host, config);
    return {std::move(result), peak.load(), created.load()};
}

TEST(RecordRelease, SetsGoBackAsTheRunGoesAndOutputsAreTheSameReadBackFromTheSpool) {
    const auto [single, singlePeak, singleCreated] = runWith(1);
    ASSERT_TRUE(single.ok());
    EXPECT_EQ(singleCreated, kGroups);
    EXPECT_EQ(singlePeak, 1u);  // one worker gives each set back before the next
    for (size_t threads : {2u, 5u}) {
        SCOPED_TRACE(threads);
        const auto [many, peak, created] = runWith(threads);
        ASSERT_TRUE(many.ok());
        EXPECT_EQ(created, kGroups);
        // Live at once: the tasks in flight and those waiting for earlier groups.
        EXPECT_TRUE(peak >= 1 && peak < kGroups / 4) << peak;
        for (const char* name : {"StatXML", "PMML"}) {
            SCOPED_TRACE(name);
            const std::vector<Entry> entries = many.outputs.entries(name), expected = single.outputs.entries(name);
            ASSERT_EQ(entries.size(), kGroups + 1);
            ASSERT_EQ(many.outputs.count(name), kGroups + 1);
            for (size_t g = 0; g <= kGroups; ++g) {
                EXPECT_EQ(entries[g].key, g < kGroups ? modelId(g) : "root" + std::string(name));
                EXPECT_TRUE(entries[g].data == expected[g].data && entries[g].complete) << g;
                EXPECT_EQ(many.outputs.entry(name, g).data, entries[g].data);
                if (g < kGroups) { EXPECT_EQ(many.outputs.find(name, modelId(g)), std::optional<size_t>(g)); }
            }
            EXPECT_GT(entries[kGroups].data.size(), kGroups * 100);
            EXPECT_THROW(many.outputs.entry(name, kGroups + 1), std::out_of_range);
        }
        EXPECT_TRUE(many.outputs.entry("StatXML", kGroups).data == many.outputs.entry("PMML", kGroups).data);
    }
}

}  // namespace
}  // namespace refhost

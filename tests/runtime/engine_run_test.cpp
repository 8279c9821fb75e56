// A run hands every group's job to its engine and uses what the engine
// returns, not the local worker function: outputs (with attachments seen by
// the received hook), failed groups and engine failures all arrive in group
// order as from a threaded run.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>

#include "refhost/engine.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/run.h"

namespace {

refhost::WorkerOutput groupOutput(const refhost::WorkerJob& job) {
    char id[32];
    std::snprintf(id, sizeof id, "model-%04zu", job.groupIndex + 1);
    refhost::WorkerOutput out;
    out.statXml = std::string("<StatXML><PMMLModel modelID=\"") + id +
                  "\" modelType=\"RegressionModel\" isActive=\"true\">"
                  "<PredictiveSummary recordCount=\"" + std::to_string(job.records.rowCount()) +
                  "\"/></PMMLModel></StatXML>";
    out.pmml = "<PMML xmlns=\"http://www.dmg.org/PMML-4_4\" version=\"4.4\"><DataDictionary/></PMML>";
    out.attachment = "group " + std::to_string(job.groupIndex);
    return out;
}

// Runs jobs as if elsewhere: group 2 fails to fit, group 4's process is lost.
class RemoteLikeEngine : public refhost::Engine {
public:
    size_t concurrency() const override { return 3; }
    refhost::WorkerOutput run(const refhost::WorkerJob& job, const refhost::WorkerFunction&) override {
        ++calls;
        if (job.groupIndex == 4) throw refhost::EngineFailure("rank 2 lost");
        if (job.groupIndex == 2) return {1, "too few records", "", "", ""};
        return groupOutput(job);
    }
    std::atomic<int> calls{0};
};

TEST(EngineRun, GroupsRunOnTheEngineAndArriveInOrder) {
    refhost::Table table({{"g", 1, 1}, {"x", 2, 1}});
    for (int64_t i = 0; i < 60; ++i) table.addRow({refhost::Cell::integer(i / 10), refhost::Cell::real(i * 0.5)});
    refhost::Module module;
    refhost::Host host;
    RemoteLikeEngine engine;
    std::atomic<int> localCalls{0};
    std::mutex mutex;
    std::set<std::string> attachments;
    refhost::RunConfig config;
    config.input = table;
    config.splitFields = {"g"};
    config.threads = 1;
    config.engine = &engine;
    config.worker = [&localCalls](const refhost::WorkerJob& job) {
        ++localCalls;
        return groupOutput(job);
    };
    config.received = [&](const refhost::WorkerJob&, refhost::WorkerOutput& output) {
        std::lock_guard<std::mutex> guard(mutex);
        attachments.insert(output.attachment);
    };
    const refhost::RunResult result = refhost::runSplit(module, host, config);

    EXPECT_EQ(localCalls.load(), 0);
    EXPECT_EQ(engine.calls.load(), 6);
    ASSERT_EQ(result.groups.size(), 6u);
    for (size_t i = 0; i < result.groups.size(); ++i) {
        const refhost::GroupReport& group = result.groups[i];
        EXPECT_EQ(group.index, i);
        EXPECT_EQ(group.records, 10u);
        EXPECT_EQ(group.outcome, i == 2 || i == 4 ? 1 : 0) << i;
        EXPECT_EQ(group.collectStatus, 0) << i;
    }
    EXPECT_EQ(result.groups[2].reason, "too few records");
    EXPECT_EQ(result.groups[4].reason, "rank 2 lost");
    // The hook sees outputs the engine returned, failed fits included, but
    // not a job the engine lost.
    EXPECT_EQ(attachments, (std::set<std::string>{"", "group 0", "group 1", "group 3", "group 5"}));
}

}  // namespace

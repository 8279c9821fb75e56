// The run driver against the built module: groups reach the workers and the
// collect component in group order whatever the thread count, and host
// refusals do not stall the run.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "refhost/run.h"

namespace refhost {
namespace {

Table groupedInput() {
    Table t({{"region", 3, 3}, {"x", 2, 1}});
    const std::pair<const char*, double> rows[] = {
        {"A", 1}, {"A", 2}, {"B", 3}, {"B", 4}, {"B", 5}, {"C", 6}};
    for (const auto& [region, x] : rows) t.addRow({Cell::text(region), Cell::real(x)});
    return t;
}

// Workers that report failure need no model texts, so the collect side only
// records failed groups; earlier groups take longer, so they finish last.
RunConfig failingWorkers(size_t threads, std::vector<size_t>* seen, std::mutex* m) {
    RunConfig config;
    config.input = groupedInput();
    config.splitFields = {"region"};
    config.threads = threads;
    config.worker = [seen, m](const WorkerJob& job) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * (3 - job.groupIndex)));
        std::lock_guard<std::mutex> guard(*m);
        seen->push_back(job.groupIndex);
        return WorkerOutput{1, "no model for " + std::to_string(job.records.rowCount()), "", ""};
    };
    return config;
}

TEST(RunSplit, DeliversGroupsInGroupOrderWhateverTheThreadCount) {
    std::vector<RunResult> results;
    for (size_t threads : {1, 3}) {
        Host host;
        Module module(SPLIT_MODULE_PATH);
        std::vector<size_t> seen;
        std::mutex m;
        RunConfig config = failingWorkers(threads, &seen, &m);
        std::vector<std::pair<size_t, size_t>> progress;
        config.progress = [&](size_t done, size_t total) { progress.emplace_back(done, total); };
        RunResult result = runSplit(module, host, config);

        ASSERT_EQ(3u, result.workersCreated);
        ASSERT_EQ(3u, result.groups.size());
        const size_t sizes[] = {2, 3, 1};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(i, result.groups[i].index);
            EXPECT_EQ(sizes[i], result.groups[i].records);
            EXPECT_EQ(1, result.groups[i].outcome);
            EXPECT_NE(std::string::npos,
                      result.groups[i].task.find(std::string("\"") + char('A' + i) + "\""));
        }
        EXPECT_TRUE(result.taskFailures.empty());
        EXPECT_EQ(0u, result.step("distribute.beginExecution")->status);
        EXPECT_EQ(0u, result.step("distribute.destroy")->status);
        ASSERT_EQ(3u, progress.size());
        EXPECT_EQ(std::make_pair(size_t{3}, size_t{3}), progress.back());
        results.push_back(std::move(result));
    }
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(results[0].groups[i].collectStatus, results[1].groups[i].collectStatus);
        EXPECT_EQ(results[0].groups[i].task, results[1].groups[i].task);
    }
    EXPECT_EQ(results[0].collectMessages, results[1].collectMessages);
}

TEST(RunSplit, RefusedHandOutsNeitherStallNorReorderTheRest) {
    struct Case {
        const char* op;
        uint64_t nth;
        std::vector<size_t> indexes;  // group indexes that reach the collect side
    };
    const Case cases[] = {
        // No set is made: the next call describes the same group under the
        // next sequence number.
        {"createRecordSet", 2, {0, 1}},
        // A set is made and left unfilled: its number is used up.
        {"addRecord", 3, {0, 2}},
    };
    for (const Case& c : cases) {
        Host host;
        Module module(SPLIT_MODULE_PATH);
        std::vector<size_t> seen;
        std::mutex m;
        RunConfig config = failingWorkers(3, &seen, &m);
        config.prepare = [&](Context& distribute, Context&) {
            distribute.faults().refuse(c.op, c.nth, 1);
        };
        RunResult result = runSplit(module, host, config);
        ASSERT_EQ(1u, result.taskFailures.size()) << c.op;
        EXPECT_EQ(1u, result.taskFailures[0].status);
        std::vector<size_t> indexes;
        for (const auto& g : result.groups) indexes.push_back(g.index);
        EXPECT_EQ(c.indexes, indexes) << c.op;
    }
}

TEST(RunSplit, WithoutThreadServicesTheHandOutIsSerialised) {
    Host host;
    Module module(SPLIT_MODULE_PATH);
    std::vector<size_t> seen;
    std::mutex m;
    RunConfig config = failingWorkers(3, &seen, &m);
    config.prepare = [](Context& distribute, Context& collect) {
        distribute.setThreadServices(false);
        collect.setThreadServices(false);
    };
    RunResult result = runSplit(module, host, config);
    ASSERT_EQ(3u, result.groups.size());
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(i, result.groups[i].index);
    EXPECT_TRUE(result.taskFailures.empty());
}

}  // namespace
}  // namespace refhost

// Workers served from several threads at once, and a host without threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "distribute/harness.h"

namespace splittest {
namespace {

using refhost::Cell;

constexpr int kGroups = 1000;

// kGroups runs of 1 to 3 records; the split field g numbers the run, seq
// numbers the record.
refhost::Table ManyGroups() {
    refhost::Table table({{"g", 1, 1}, {"seq", 1, 1}});
    int64_t seq = 0;
    for (int64_t g = 0; g < kGroups; ++g) {
        for (int64_t r = 0; r <= g % 3; ++r) table.addRow({Cell::integer(g), Cell::integer(seq++)});
    }
    return table;
}

// Every worker's records carry the value its task names, and together the
// groups give back the input exactly once, each in input order.
void ExpectEveryRecordOnce(std::vector<WorkerResult> results, const refhost::Table& input) {
    ASSERT_EQ(results.size(), static_cast<size_t>(kGroups));
    for (const WorkerResult& result : results) {
        ASSERT_EQ(result.status, 0u);
        ASSERT_EQ(result.task.size(), 1u);
        ASSERT_GT(result.records.rowCount(), 0u);
        for (const auto& row : result.records.rows()) {
            EXPECT_EQ(std::to_string(row[0].asInteger()), result.task[0].value);
        }
    }
    std::sort(results.begin(), results.end(), [](const WorkerResult& a, const WorkerResult& b) {
        return a.records.at(0, 1).asInteger() < b.records.at(0, 1).asInteger();
    });
    std::vector<std::string> handedOut;
    for (const WorkerResult& result : results) {
        for (const std::string& row : RowTexts(result.records)) handedOut.push_back(row);
    }
    EXPECT_EQ(handedOut, RowTexts(input));
}

TEST(Concurrency, EightThreadsShareTheHandOut) {
    const refhost::Table input = ManyGroups();
    DistributeHarness run(input, {"g"});
    run.context.setThreadCount(8);
    int err = 0;
    ASSERT_EQ(run.component->configure(&err), 0u);
    ASSERT_EQ(run.component->beginExecution(&err), 0u);
    const std::vector<refhost::Worker*> workers = run.context.workers();
    ASSERT_EQ(workers.size(), static_cast<size_t>(kGroups));

    std::vector<WorkerResult> results(workers.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (size_t i = next++; i < workers.size(); i = next++) {
                results[i] = run.Serve(*workers[i]);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    ExpectEveryRecordOnce(results, input);
    const refhost::LockStats locks = run.context.lockStats();
    EXPECT_EQ(locks.created, 1u);
    EXPECT_EQ(locks.taken, static_cast<uint64_t>(kGroups));
    EXPECT_EQ(locks.released, locks.taken);
    EXPECT_EQ(locks.misuses, 0u);
    EXPECT_EQ(run.component->endExecution(&err), 0u);
    EXPECT_EQ(run.context.liveRecordSets(), 0u);
}

TEST(Concurrency, WithoutThreadServicesServesOneAtATime) {
    const refhost::Table input = ManyGroups();
    DistributeHarness run(input, {"g"});
    // The component is created already; a second one sees no thread services.
    run.context.setThreadServices(false);
    run.component = std::make_unique<refhost::Component>(run.module, run.context, "split_distribute");
    ExpectEveryRecordOnce(run.RunOnce(), input);
    EXPECT_EQ(run.context.lockStats().created, 1u);  // only the first component's
    EXPECT_EQ(run.context.lockStats().taken, 0u);
}

}  // namespace
}  // namespace splittest

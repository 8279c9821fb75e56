// Workers served from eight threads at once, and a host without threads.
#include <algorithm>
#include <atomic>
#include <thread>

#include "distribute/harness.h"

namespace splittest {
namespace {

constexpr size_t kGroups = 1000;

// kGroups runs of 1 to 3 records; g numbers the run, seq the record.
refhost::Table ManyGroups() {
    refhost::Table table({{"g", 1, 1}, {"seq", 1, 1}});
    int64_t seq = 0;
    for (size_t g = 0; g < kGroups; ++g) {
        for (size_t r = 0; r <= g % 3; ++r) table.addRow({Cell::integer(g), Cell::integer(seq++)});
    }
    return table;
}

// Every worker's records carry the value its task names, and together the
// groups give back the input exactly once, each in input order.
void ExpectEveryRecordOnce(std::vector<WorkerResult> results, const refhost::Table& input) {
    ASSERT_EQ(results.size(), kGroups);
    for (const WorkerResult& result : results) {
        ASSERT_EQ(result.status, 0u);
        ASSERT_GT(result.records.rowCount(), 0u);
        for (const auto& row : result.records.rows()) {
            EXPECT_EQ(std::to_string(row[0].asInteger()), result.task.at(0).value);
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
    ASSERT_EQ(run.Begin(), 0u);
    ASSERT_EQ(run.context.workers().size(), kGroups);
    std::vector<WorkerResult> results(kGroups);
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (size_t i = next++; i < kGroups; i = next++) results[i] = run.Serve(run.worker(i));
        });
    }
    for (std::thread& thread : threads) thread.join();

    ExpectEveryRecordOnce(results, input);
    const refhost::LockStats locks = run.context.lockStats();
    EXPECT_EQ(locks.taken, kGroups);
    EXPECT_EQ(locks.released, kGroups);
    EXPECT_EQ(locks.misuses, 0u);
}

TEST(Concurrency, WithoutThreadServicesServesOneAtATime) {
    const refhost::Table input = ManyGroups();
    DistributeHarness run(input, {"g"});
    run.context.setThreadServices(false);  // the next component finds none
    run.component = std::make_unique<refhost::Component>(run.module, run.context, "split_distribute");
    ExpectEveryRecordOnce(run.RunOnce(), input);
    EXPECT_EQ(run.context.lockStats().taken, 0u);
}

}  // namespace
}  // namespace splittest

// Loading the built module, and the run driver against it: groups reach the
// workers and the collect component in group order whatever the thread
// count, and host refusals do not stall the run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "refhost/run.h"

namespace refhost {
namespace {

TEST(Module, NamesTheFileOrTheMissingSymbol) {
    const std::pair<const char*, const char*> cases[] = {
        {"/nonexistent/libsplit.so", "/nonexistent/libsplit.so"},
        {"libc.so.6", "cf_initialise"},  // a library without the entry points
    };
    for (const auto& [path, named] : cases) {
        try {
            Module module(path);
            ADD_FAILURE() << "loaded " << path;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find(named)) << error.what();
        }
    }
}

// Workers report failure, so they need no model texts and the collect side
// only records failed groups; earlier groups take longer, so they finish
// last. Groups: A (2 records), B (3), C (1).
TEST(RunSplit, GroupsArriveInGroupOrderDespiteThreadsRefusalsAndWithdrawnServices) {
    struct Case {
        const char* name;
        size_t threads;
        std::function<void(Context&, Context&)> prepare;
        std::vector<size_t> indexes;  // group indexes that reach the collect side
        size_t taskFailures;
    };
    const Case cases[] = {
        {"one thread", 1, nullptr, {0, 1, 2}, 0},
        {"three threads", 3, nullptr, {0, 1, 2}, 0},
        // No set is made: the next call describes the same group under the
        // next sequence number.
        {"createRecordSet refused", 3,
         [](Context& d, Context&) { d.faults().refuse("createRecordSet", 2, 1); }, {0, 1}, 1},
        // A set is made and left unfilled: its number is used up.
        {"addRecord refused", 3, [](Context& d, Context&) { d.faults().refuse("addRecord", 3, 1); },
         {0, 2}, 1},
        // Without thread services the hand-out is serialised.
        {"no thread services", 3,
         [](Context& d, Context& c) {
             d.setThreadServices(false);
             c.setThreadServices(false);
         },
         {0, 1, 2}, 0},
    };
    std::vector<RunResult> plain;  // the runs without refusals
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host;
        Module module(SPLIT_MODULE_PATH);
        RunConfig config;
        config.input = Table({{"region", 3, 3}});
        for (const char* region : {"A", "A", "B", "B", "B", "C"}) config.input.addRow({Cell::text(region)});
        config.splitFields = {"region"};
        config.threads = c.threads;
        config.worker = [](const WorkerJob& job) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * (3 - job.groupIndex)));
            return WorkerOutput{1, "no model", "", ""};
        };
        config.prepare = c.prepare;
        std::vector<std::pair<size_t, size_t>> progress;
        config.progress = [&](size_t done, size_t total) { progress.emplace_back(done, total); };
        RunResult result = runSplit(module, host, config);

        ASSERT_EQ(c.taskFailures, result.taskFailures.size());
        for (const auto& failure : result.taskFailures) EXPECT_EQ(1u, failure.status);
        std::vector<size_t> indexes;
        for (const auto& g : result.groups) indexes.push_back(g.index);
        EXPECT_EQ(c.indexes, indexes);
        if (c.prepare) continue;
        const size_t sizes[] = {2, 3, 1};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(sizes[i], result.groups[i].records);
            EXPECT_NE(std::string::npos,
                      result.groups[i].task.find(std::string("\"") + char('A' + i) + "\""));
        }
        EXPECT_EQ((std::vector<std::pair<size_t, size_t>>{{1, 3}, {2, 3}, {3, 3}}), progress);
        plain.push_back(std::move(result));
    }
    ASSERT_EQ(2u, plain.size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(plain[0].groups[i].collectStatus, plain[1].groups[i].collectStatus);
        EXPECT_EQ(plain[0].groups[i].task, plain[1].groups[i].task);
    }
    EXPECT_EQ(plain[0].collectMessages, plain[1].collectMessages);
}

}  // namespace
}  // namespace refhost

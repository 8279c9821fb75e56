// Handing tasks, records and input containers to workers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "distribute/harness.h"
#include "refhost/container.h"
#include "refhost/record_set.h"
#include "refhost/worker.h"

namespace splittest {
namespace {

using refhost::Cell;

// Three groups: a (2 records), b (1), c (2).
refhost::Table ThreeGroups() {
    return MakeTable({{"k", 3, 3}, {"seq", 1, 1}},
                     {{Cell::text("a"), Cell::integer(0)}, {Cell::text("a"), Cell::integer(1)},
                      {Cell::text("b"), Cell::integer(2)}, {Cell::text("c"), Cell::integer(3)},
                      {Cell::text("c"), Cell::integer(4)}});
}

class HandOut : public testing::Test {
protected:
    void SetUp() override {
        int err = 0;
        ASSERT_EQ(run.component->configure(&err), 0u);
        ASSERT_EQ(run.component->beginExecution(&err), 0u);
        ASSERT_EQ(run.context.workers().size(), 3u);
    }
    refhost::Worker& worker(size_t i) { return *run.context.workers()[i]; }

    DistributeHarness run{ThreeGroups(), {"k"}};
};

TEST_F(HandOut, SmallTaskBufferKeepsTheGroupForTheRetry) {
    std::string first;
    std::string second;
    size_t firstNeeded = 99;
    size_t secondNeeded = 0;
    int err = 0;
    ASSERT_EQ(run.RawTask(worker(0), first, 0, &firstNeeded, second, 0, &secondNeeded, &err), 13u);
    EXPECT_EQ(firstNeeded, 0u);
    const size_t needed = secondNeeded;
    ASSERT_GT(needed, 1u);

    firstNeeded = 99;
    EXPECT_EQ(run.RawTask(worker(0), first, 4, &firstNeeded, second, needed - 1, &secondNeeded,
                          &err),
              13u);
    EXPECT_EQ(secondNeeded, needed);
    EXPECT_EQ(second, std::string(needed - 1, 'x'));  // untouched
    EXPECT_EQ(first[0], '\0');
    EXPECT_EQ(firstNeeded, 0u);
    EXPECT_EQ(run.context.recordSetsCreated(), 0u);  // records are not collected on 13

    EXPECT_EQ(run.RawTask(worker(0), first, 4, &firstNeeded, second, needed, &secondNeeded, &err),
              0u);
    EXPECT_EQ(first[0], '\0');
    EXPECT_EQ(firstNeeded, 0u);
    EXPECT_EQ(second.back(), '\0');
    std::vector<TaskField> task = ParseTask(second.c_str());
    EXPECT_EQ(task, (std::vector<TaskField>{{"k", "a", "false"}}));
    EXPECT_EQ(run.context.recordSets().at(0)->size(), 2u);
}

TEST_F(HandOut, GroupsFollowTheOrderOfTheCallsNotTheWorkers) {
    // The worker asked first gets the first group, whichever it is.
    WorkerResult last = run.Serve(worker(2));
    WorkerResult firstCreated = run.Serve(worker(0));
    EXPECT_EQ(last.task[0].value, "a");
    EXPECT_EQ(firstCreated.task[0].value, "b");
}

TEST_F(HandOut, AskingTwiceReleasesTheFirstRecordSet) {
    WorkerResult a = run.Serve(worker(0));
    WorkerResult b = run.Serve(worker(0));
    EXPECT_EQ(a.task[0].value, "a");
    EXPECT_EQ(b.task[0].value, "b");
    ASSERT_EQ(run.context.recordSets().size(), 2u);
    EXPECT_TRUE(run.context.recordSets()[0]->released());
    EXPECT_EQ(run.context.liveRecordSets(), 1u);
    EXPECT_EQ(run.Serve(worker(1)).task[0].value, "c");
}

TEST_F(HandOut, NoTaskAfterTheLastGroup) {
    run.ServeAll();
    EXPECT_EQ(run.context.liveRecordSets(), 3u);
    std::string first;
    std::string second;
    int err = 0;
    // Asking again gives back the worker's records and finds no task.
    EXPECT_EQ(run.component->getWorkerTask(worker(1), &first, &second, &err), 30u);
    EXPECT_EQ(run.context.liveRecordSets(), 2u);
    CFIterator* iterator = nullptr;
    EXPECT_EQ(run.component->getIterator(&worker(1), 0, &iterator, &err), 1u);

    EXPECT_EQ(run.component->endExecution(&err), 0u);
    EXPECT_EQ(run.context.liveRecordSets(), 0u);
    EXPECT_EQ(run.component->getWorkerTask(worker(0), &first, &second, &err), 30u);
    EXPECT_TRUE(run.Messages().empty());
}

TEST_F(HandOut, IteratorOnlyForAWorkerThatHasItsTask) {
    CFIterator* iterator = nullptr;
    int err = 0;
    EXPECT_EQ(run.component->getIterator(&worker(0), 0, &iterator, &err), 1u);
    refhost::Worker stranger(99);
    EXPECT_EQ(run.component->getIterator(&stranger, 0, &iterator, &err), 1u);
    EXPECT_EQ(iterator, nullptr);
}

TEST(HandOutBeforeExecution, HasNoTask) {
    DistributeHarness run(ThreeGroups(), {"k"});
    int err = 0;
    ASSERT_EQ(run.component->configure(&err), 0u);
    refhost::Worker worker(0);
    std::string first;
    std::string second;
    EXPECT_EQ(run.component->getWorkerTask(worker, &first, &second, &err), 30u);
}

TEST(HandOutStranger, RecordsOfAnUnplannedWorkerAreGivenBack) {
    DistributeHarness run(ThreeGroups(), {"k"});
    int err = 0;
    ASSERT_EQ(run.component->configure(&err), 0u);
    ASSERT_EQ(run.component->beginExecution(&err), 0u);
    refhost::Worker stranger(99);
    std::string first;
    std::string second;
    // The group is consumed but its record set is not kept for anyone.
    EXPECT_EQ(run.component->getWorkerTask(stranger, &first, &second, &err), 0u);
    EXPECT_EQ(ParseTask(second)[0].value, "a");
    EXPECT_EQ(run.context.liveRecordSets(), 0u);
    EXPECT_EQ(run.Serve(*run.context.workers()[0]).task[0].value, "b");
}

// Input containers copied for workers.
class Containers : public HandOut {
protected:
    cf_status Copy(const std::string& name, CFContainerFile** out, int* err) {
        return run.component->getContainer(&worker(0), name, out, err);
    }
};

TEST_F(Containers, OnlyWorkerContainerNamesAreOffered) {
    run.context.container("InputPMML").setDefaultEntry("<PMML/>");
    for (const char* name : {"InputPMML", "InputStatXML", "workerInputPMML", "WorkerInputPMML ",
                             "WorkerPMML", ""}) {
        CFContainerFile* out = nullptr;
        int err = 0;
        EXPECT_EQ(Copy(name, &out, &err), 29u) << name;
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(run.context.containerOpens("InputPMML"), 0u);
}

TEST_F(Containers, EmptyInputCreatesNothing) {
    run.context.container("InputPMML").setDefaultEntry("");
    CFContainerFile* out = nullptr;
    int err = 0;
    EXPECT_EQ(Copy("WorkerInputPMML", &out, &err), 1u);
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(run.context.hasContainer("WorkerInputPMML"));
    EXPECT_TRUE(run.context.container("InputPMML").isClosed());
}

TEST_F(Containers, TextIsReadInChunksAndCopiedWhole) {
    struct Case {
        const char* worker;
        const char* input;
        size_t length;
        std::vector<size_t> reads;
    };
    for (const Case& c : {Case{"WorkerInputPMML", "InputPMML", 2 * 1023 + 54, {1023, 1023, 54}},
                          Case{"WorkerInputStatXML", "InputStatXML", 1023, {1023, 0}},
                          Case{"WorkerInputStatXML", "InputStatXML", 1, {1}}}) {
        std::string text;
        for (size_t i = 0; i < c.length; ++i) text += static_cast<char>('a' + i % 26);
        refhost::Container& input = run.context.container(c.input);
        input.setDefaultEntry(text);
        const size_t readsBefore = input.readSizes().size();

        CFContainerFile* out = nullptr;
        int err = 0;
        ASSERT_EQ(Copy(c.worker, &out, &err), 0u) << c.worker << " " << c.length;
        const std::vector<size_t> allReads = input.readSizes();
        std::vector<size_t> reads(allReads.begin() + readsBefore, allReads.end());
        EXPECT_EQ(reads, c.reads);
        EXPECT_TRUE(input.isClosed());

        refhost::Container* copy = refhost::Container::fromRecord(out);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy, &run.context.container(c.worker));
        EXPECT_EQ(copy->defaultText(), text);
        EXPECT_TRUE(copy->isClosed());
        EXPECT_EQ(copy->openStreams(), 0u);
    }
}

}  // namespace
}  // namespace splittest

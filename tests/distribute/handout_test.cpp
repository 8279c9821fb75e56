// Handing tasks, records and input containers to workers.
#include "distribute/harness.h"
#include "refhost/container.h"
#include "refhost/record_set.h"

namespace splittest {
namespace {

class HandOut : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(run.Begin(), 0u); }

    // The raw entry point, with buffers of the given sizes filled with 'x'.
    cf_status RawTask(size_t worker, size_t firstSize, size_t secondSize, size_t* secondNeeded) {
        first.assign(firstSize, 'x');
        second.assign(secondSize, 'x');
        firstNeeded = 99;
        return run.module.api().cf_distribute_getWorkerTask(
            run.component->handle(), run.worker(worker).record(), firstSize ? first.data() : nullptr,
            firstSize, &firstNeeded, secondSize ? second.data() : nullptr, secondSize, secondNeeded, &err);
    }

    DistributeHarness run{ThreeGroups(), {"k"}};
    std::string first, second;
    size_t firstNeeded = 0;
    int err = 0;  // the error slot of the tests' calls
};

TEST_F(HandOut, SmallTaskBufferLeavesTheGroupForTheRetry) {
    size_t needed = 0;
    ASSERT_EQ(RawTask(0, 0, 0, &needed), 13u);
    EXPECT_EQ(firstNeeded, 0u);
    size_t again = 0;
    EXPECT_EQ(RawTask(0, 4, needed - 1, &again), 13u);
    EXPECT_EQ(again, needed);
    EXPECT_EQ(second, std::string(needed - 1, 'x'));  // untouched
    EXPECT_EQ(first[0], '\0');
    EXPECT_EQ(firstNeeded, 0u);
    EXPECT_EQ(run.context.recordSetsCreated(), 0u);  // no records collected on 13

    ASSERT_EQ(RawTask(0, 4, needed, &again), 0u);
    EXPECT_EQ(first[0], '\0');
    EXPECT_EQ(firstNeeded, 0u);
    EXPECT_EQ(ParseTask(second.c_str()), (std::vector<TaskField>{{"k", "a", "false"}}));
    EXPECT_EQ(run.context.recordSets().at(0)->size(), 2u);
}

TEST_F(HandOut, EachCallTakesTheNextGroupUntilNoneIsLeft) {
    CFIterator* iterator = nullptr;
    EXPECT_EQ(run.component->getIterator(&run.worker(0), 0, &iterator, &err), 1u);  // no task yet
    // The group goes with the call, not the worker: asking twice moves on.
    EXPECT_EQ(run.Serve(run.worker(2)).task[0].value, "a");
    EXPECT_EQ(run.Serve(run.worker(2)).task[0].value, "b");
    EXPECT_TRUE(run.context.recordSets()[0]->released());
    EXPECT_EQ(run.Serve(run.worker(0)).records.rowCount(), 2u);
    EXPECT_EQ(run.context.liveRecordSets(), 2u);

    // After the last group: 30, and the worker's record set is given back.
    EXPECT_EQ(run.Task(run.worker(0), &err), 30u);
    EXPECT_EQ(run.context.liveRecordSets(), 1u);
    EXPECT_EQ(run.component->getIterator(&run.worker(0), 0, &iterator, &err), 1u);
    EXPECT_EQ(run.component->endExecution(&err), 0u);
    EXPECT_EQ(run.context.liveRecordSets(), 0u);
    EXPECT_EQ(run.Task(run.worker(1), &err), 30u);
    EXPECT_TRUE(run.Messages().empty());
    refhost::Worker stranger(0);  // before any execution too
    EXPECT_EQ(DistributeHarness(ThreeGroups(), {"k"}).Task(stranger, &err), 30u);
}

// Workers are known per execution: one planned by an earlier execution is a
// stranger to the next (its group's records are given back at once), even
// while the host still holds it.
TEST_F(HandOut, AWorkerOfAnEarlierExecutionIsAStrangerToTheNext) {
    ASSERT_EQ(run.component->endExecution(&err), 0u);
    EXPECT_EQ(run.Task(run.worker(0), &err), 30u);  // the groups left are no longer handed out
    ASSERT_EQ(run.Begin(), 0u);  // plans workers 3 to 5
    ASSERT_EQ(run.Serve(run.worker(3)).status, 0u);
    EXPECT_EQ(run.Task(run.worker(0), &err), 0u);
    ASSERT_EQ(run.context.recordSets().size(), 2u);
    EXPECT_FALSE(run.context.recordSets()[0]->released());
    EXPECT_TRUE(run.context.recordSets()[1]->released());
}

// Planning anew gives back the record sets an earlier execution still
// holds, and serves the input from its first group again, also after the
// earlier execution handed out its last group.
TEST_F(HandOut, PlanningAnewGivesBackEarlierRecordSetsAndStartsFromTheFirstGroup) {
    ASSERT_EQ(run.Serve(run.worker(0)).status, 0u);
    ASSERT_EQ(run.Begin(), 0u);  // no end in between: plans workers 3 to 5
    EXPECT_TRUE(run.context.recordSets().at(0)->released());
    for (size_t i = 3; i < 6; ++i) ASSERT_EQ(run.Serve(run.worker(i)).status, 0u);
    EXPECT_EQ(run.Task(run.worker(3), &err), 30u);  // every group handed out
    ASSERT_EQ(run.Begin(), 0u);
    const WorkerResult again = run.Serve(run.worker(6));
    ASSERT_EQ(again.status, 0u);
    EXPECT_EQ(again.task.at(0).value, "a");
}

cf_status RefusesWorker(void*, CFWorker**, int*) { return 1; }

// A host refusing the first worker of a new plan may still serve the
// workers it has: the input is ready from its first group again, also
// after the earlier execution handed out its last group.
TEST_F(HandOut, AFirstWorkerRefusedLeavesTheInputReadyFromTheFirstGroup) {
    for (size_t i = 0; i < 3; ++i) ASSERT_EQ(run.Serve(run.worker(i)).status, 0u);
    EXPECT_EQ(run.Task(run.worker(0), &err), 30u);  // every group handed out
    run.context.record()->createWorker = &RefusesWorker;
    EXPECT_NE(run.Begin(), 0u);
    EXPECT_EQ(run.context.workers().size(), 3u);  // none planned
    const WorkerResult again = run.Serve(run.worker(1));
    ASSERT_EQ(again.status, 0u);
    EXPECT_EQ(again.task.at(0).value, "a");
}

// A host answering 0 without a record set has refused it.
TEST_F(HandOut, ARecordSetAnsweredWithoutOneIsARefusal) {
    run.context.faults().refuse("createRecordSet", 1, 0);
    EXPECT_EQ(run.Task(run.worker(0), &err), 1u);
    EXPECT_EQ(run.Messages(), (std::vector<refhost::Message>{{3, 280006, {}}}));
}

// A routine the host leaves null is refused on every call, as a refusal is.
TEST_F(HandOut, ARoutineLeftNullIsRefused) {
    CFContext* context = run.context.record();
    const auto createRecordSet = context->createRecordSet;
    const auto releaseRecordSet = context->releaseRecordSet;
    context->createRecordSet = nullptr;
    EXPECT_EQ(run.Task(run.worker(0), &err), 1u);
    context->createRecordSet = createRecordSet;
    EXPECT_EQ(run.Serve(run.worker(0)).task.at(0).value, "a");  // the input did not move
    ASSERT_EQ(run.Serve(run.worker(1)).status, 0u);
    context->releaseRecordSet = nullptr;
    EXPECT_EQ(run.Task(run.worker(0), &err), 1u);  // a's records cannot be given back
    EXPECT_EQ(run.component->endExecution(&err), 1u);  // nor b's
    context->releaseRecordSet = releaseRecordSet;
    EXPECT_EQ(run.Messages(), (std::vector<refhost::Message>{{3, 280006, {}}, {3, 280009, {}}, {3, 280009, {}}}));
}

// Which names are offered, and that the copy is whole after reads of 1023-byte chunks.
TEST_F(HandOut, ContainersOfferedAreCopiedWholeAndOthersRefused) {
    // silentRead: the nth read answers 0 and reports no count, which ends the copy
    const struct { const char* worker; const char* input; size_t length; cf_status status; std::vector<size_t> reads = {};
                   uint64_t silentRead = 0; } cases[] = {
        {"WorkerInputPMML", "InputPMML", 2 * 1023 + 54, 0, {1023, 1023, 54}},
        {"WorkerInputPMML", "InputPMML", 1023 + 54, 0, {}, 2},
        {"WorkerInputStatXML", "InputStatXML", 1023, 0, {1023, 0}},  // a full last chunk needs an empty read
        {"WorkerInputPMML", "InputPMML", 200000, 0},  // the copy's buffer grows past its first 64 KiB
        {"WorkerInputStatXML", "InputStatXML", 0, 1},  // an empty input container
        {"InputPMML", "InputPMML", 10, 29}, {"workerInputPMML", "InputPMML", 10, 29},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.worker);
        std::string text;
        for (size_t i = 0; i < c.length; ++i) text += static_cast<char>('a' + i % 26);
        run.context.container(c.input).setDefaultEntry(text);
        if (c.silentRead) run.context.container(c.input).faults().refuse("readStream", c.silentRead, 0);
        const size_t opensBefore = run.context.containerOpens(c.worker);
        CFContainerFile* out = nullptr;
        EXPECT_EQ(run.component->getContainer(&run.worker(0), c.worker, &out, &err), c.status);
        if (c.status != 0) {
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(run.context.containerOpens(c.worker), opensBefore);  // nothing created
            continue;
        }
        refhost::Container* copy = refhost::Container::fromRecord(out);
        ASSERT_EQ(copy, &run.context.container(c.worker));
        EXPECT_EQ(copy->defaultText(), c.silentRead ? text.substr(0, 1023) : text);
        if (!c.reads.empty()) { EXPECT_EQ(run.context.container(c.input).readSizes(), c.reads); }
        EXPECT_TRUE(copy->isClosed() && run.context.container(c.input).isClosed());
        EXPECT_EQ(copy->openStreams(), 0u);
    }
}

}  // namespace
}  // namespace splittest

// Host refusals and unusable input: status, err and messages of each, and
// that the component serves a following execution normally.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "distribute/harness.h"

namespace splittest {
namespace {

using refhost::Cell;
using refhost::Message;

constexpr cf_status kRefused = 7;
constexpr int kHostErr = 4242;

refhost::Table ThreeGroups() {
    return MakeTable({{"k", 3, 3}, {"seq", 1, 1}},
                     {{Cell::text("a"), Cell::integer(0)}, {Cell::text("a"), Cell::integer(1)},
                      {Cell::text("b"), Cell::integer(2)}, {Cell::text("c"), Cell::integer(3)},
                      {Cell::text("c"), Cell::integer(4)}});
}

// The data model of ThreeGroups with the split field's storage unknown.
std::string UnusableStorageModel() {
    std::string model = refhost::dataModelXml(ThreeGroups());
    const std::string storage = "storage=\"string\"";
    model.replace(model.find(storage), storage.size(), "storage=\"blob\"");
    return model;
}

struct FailureCase {
    const char* name;
    // Prepares the host, makes the failing call with err and returns its status.
    std::function<cf_status(DistributeHarness&, int* err)> trigger;
    cf_status status;
    int err;
    std::vector<Message> messages;
    size_t liveRecordSets;
};

cf_status Begin(DistributeHarness& run) {
    int err = 0;
    EXPECT_EQ(run.component->configure(&err), 0u);
    return run.component->beginExecution(&err);
}

cf_status Task(DistributeHarness& run, size_t worker, int* err) {
    std::string first;
    std::string second;
    return run.component->getWorkerTask(*run.context.workers().at(worker), &first, &second, err);
}

const std::vector<FailureCase>& FailureCases() {
    static const std::vector<FailureCase> cases = {
        {"EmptyInput",
         [](DistributeHarness& run, int* err) {
             run.context.setInput(MakeTable(ThreeGroups().columns(), {}));
             run.component->configure(err);
             return run.component->beginExecution(err);
         },
         1, 280002, {{3, 280002, {}}}, 0},
        {"FirstWorkerRefused",
         [](DistributeHarness& run, int* err) {
             run.component->configure(err);
             run.RefuseNext("createWorker", kRefused, kHostErr);
             return run.component->beginExecution(err);
         },
         kRefused, kHostErr, {{3, 280003, {}}}, 0},
        {"LaterWorkerRefusedEndsPlanningQuietly",
         [](DistributeHarness& run, int* err) {
             run.component->configure(err);
             run.RefuseNext("createWorker", kRefused, kHostErr, 1);
             cf_status status = run.component->beginExecution(err);
             EXPECT_EQ(run.context.workers().size(), 1u);
             return status;
         },
         0, kHostErr, {}, 0},
        {"ReaderFailsWhilePlanning",
         [](DistributeHarness& run, int* err) {
             run.component->configure(err);
             run.RefuseNext("getRecordValue", kRefused, kHostErr);
             return run.component->beginExecution(err);
         },
         0, 280005, {{3, 280005, {}}}, 0},
        {"ReaderFailsOnTask",
         [](DistributeHarness& run, int* err) {
             Begin(run);
             run.RefuseNext("getRecordValue", kRefused, kHostErr);
             return Task(run, 0, err);
         },
         kRefused, kHostErr, {{3, 280005, {}}}, 0},
        {"RecordSetRefused",
         [](DistributeHarness& run, int* err) {
             Begin(run);
             run.RefuseNext("createRecordSet", kRefused, kHostErr);
             return Task(run, 0, err);
         },
         kRefused, kHostErr, {{3, 280006, {}}}, 0},
        {"FirstRecordRefused",
         [](DistributeHarness& run, int* err) {
             Begin(run);
             run.RefuseNext("addRecord", kRefused, kHostErr);
             return Task(run, 0, err);
         },
         kRefused, kHostErr, {{3, 280007, {}}}, 0},
        {"LaterRecordRefused",
         [](DistributeHarness& run, int* err) {
             Begin(run);
             run.RefuseNext("addRecord", kRefused, kHostErr, 1);
             return Task(run, 0, err);
         },
         kRefused, kHostErr, {{3, 280007, {}}}, 0},
        {"IteratorRefused",
         [](DistributeHarness& run, int* err) {
             Begin(run);
             EXPECT_EQ(Task(run, 0, err), 0u);
             run.RefuseNext("getIterator", kRefused, kHostErr);
             CFIterator* iterator = nullptr;
             return run.component->getIterator(run.context.workers()[0], 0, &iterator, err);
         },
         kRefused, kHostErr, {{3, 280008, {}}}, 1},
        {"ReleaseRefusedOnSecondTask",
         [](DistributeHarness& run, int* err) {
             Begin(run);
             EXPECT_EQ(Task(run, 0, err), 0u);
             run.RefuseNext("releaseRecordSet", kRefused, kHostErr);
             return Task(run, 0, err);
         },
         kRefused, kHostErr, {{3, 280009, {}}}, 1},
        {"ReleaseRefusedAtEnd",
         [](DistributeHarness& run, int* err) {
             Begin(run);
             run.ServeAll();
             run.RefuseNext("releaseRecordSet", kRefused, kHostErr, 1);
             return run.component->endExecution(err);
         },
         kRefused, kHostErr, {{3, 280009, {}}}, 1},
        {"UnusableStorage",
         [](DistributeHarness& run, int* err) {
             run.context.setDataModel(UnusableStorageModel());
             Begin(run);
             return Task(run, 0, err);
         },
         1, 280010, {{3, 280010, {"k"}}, {3, 280010, {"k"}}, {3, 280010, {"k"}}}, 0},
    };
    return cases;
}

class Failure : public testing::TestWithParam<FailureCase> {};

TEST_P(Failure, IsReportedAndTheNextExecutionWorks) {
    const FailureCase& c = GetParam();
    DistributeHarness run(ThreeGroups(), {"k"});
    int err = 0;
    EXPECT_EQ(c.trigger(run, &err), c.status);
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(run.Messages(), c.messages);
    EXPECT_EQ(run.context.liveRecordSets(), c.liveRecordSets);

    run.faults().clear();
    run.context.setInput(ThreeGroups());
    run.context.setDataModel(refhost::dataModelXml(ThreeGroups()));
    run.component->endExecution(&err);
    run.Messages();
    std::vector<WorkerResult> results = run.RunOnce();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].records.rowCount(), 2u);
    EXPECT_EQ(results[1].records.rowCount(), 1u);
    EXPECT_EQ(results[2].records.rowCount(), 2u);
    EXPECT_TRUE(run.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, Failure, testing::ValuesIn(FailureCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FailureAtDestruction, RefusedReleaseLeavesOnlyThatRecordSet) {
    DistributeHarness run(ThreeGroups(), {"k"});
    ASSERT_EQ(Begin(run), 0u);
    run.ServeAll();
    run.RefuseNext("releaseRecordSet", kRefused, kHostErr);
    int err = 0;
    EXPECT_EQ(run.component->destroy(&err), 0u);
    EXPECT_EQ(run.faults().refused("releaseRecordSet"), 1u);
    EXPECT_EQ(run.context.liveRecordSets(), 1u);
    EXPECT_EQ(run.context.lockStats().destroyed, run.context.lockStats().created);
}

}  // namespace
}  // namespace splittest

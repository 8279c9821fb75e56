// Host refusals and unusable input: status, err and messages of each, and a
// normal execution afterwards.
#include "distribute/harness.h"

namespace splittest {
namespace {

constexpr cf_status kRefused = 7;
constexpr int kHostErr = 4242;

// The call that meets the failure, after configuration.
enum class Call { Begin, FirstTask, Iterator, SecondTask, End };

struct FailureCase {
    const char* name;
    const char* refuse;  // host operation refused (null: none)
    uint64_t after;      // calls of it let through first
    bool refuseAtBegin;  // refused from begin execution on, else after it
    Call call;
    cf_status status;
    int err;
    std::vector<refhost::Message> messages;
    size_t liveRecordSets;
};

const refhost::Message k280010{3, 280010, {"k"}};

const std::vector<FailureCase> kFailures = {
    {"EmptyInput", nullptr, 0, true, Call::Begin, 1, 280002, {{3, 280002, {}}}, 0},
    {"FirstWorkerRefused", "createWorker", 0, true, Call::Begin, kRefused, kHostErr, {{3, 280003, {}}}, 0},
    {"LaterWorkerRefusedEndsPlanning", "createWorker", 1, true, Call::Begin, 0, kHostErr, {}, 0},
    {"ReaderFailsWhilePlanning", "getRecordValue", 0, true, Call::Begin, 0, 280005, {{3, 280005, {}}}, 0},
    {"ReaderFailsOnTask", "getRecordValue", 0, false, Call::FirstTask, kRefused, kHostErr, {{3, 280005, {}}}, 0},
    {"RecordSetRefused", "createRecordSet", 0, false, Call::FirstTask, kRefused, kHostErr, {{3, 280006, {}}}, 0},
    {"FirstRecordRefused", "addRecord", 0, false, Call::FirstTask, kRefused, kHostErr, {{3, 280007, {}}}, 0},
    {"LaterRecordRefused", "addRecord", 1, false, Call::FirstTask, kRefused, kHostErr, {{3, 280007, {}}}, 0},
    {"IteratorRefused", "getIterator", 0, false, Call::Iterator, kRefused, kHostErr, {{3, 280008, {}}}, 1},
    {"ReleaseRefusedOnSecondTask", "releaseRecordSet", 0, false, Call::SecondTask, kRefused, kHostErr, {{3, 280009, {}}}, 1},
    {"ReleaseRefusedAtEnd", "releaseRecordSet", 1, false, Call::End, kRefused, kHostErr, {{3, 280009, {}}}, 1},
    // Storage unknown to the data model: planning reports it for both keys.
    {"UnusableStorage", nullptr, 0, false, Call::FirstTask, 1, 280010, {k280010, k280010, k280010}, 0},
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class Failure : public testing::TestWithParam<FailureCase> {};

TEST_P(Failure, IsReportedAndTheNextExecutionWorks) {
    const FailureCase& c = GetParam();
    DistributeHarness run(ThreeGroups(), {"k"});
    if (c.call == Call::Begin && !c.refuse) run.context.setInput(MakeTable(ThreeGroups().columns(), {}));
    if (c.call != Call::Begin && !c.refuse) {
        std::string model = run.context.dataModel();
        run.context.setDataModel(model.replace(model.find("\"string\""), 8, "\"blob\""));
    }
    int err = 0;
    ASSERT_EQ(run.component->configure(&err), 0u);
    if (c.refuse && c.refuseAtBegin) run.RefuseNext(c.refuse, kRefused, kHostErr, c.after);
    cf_status status = run.component->beginExecution(&err);
    if (c.call != Call::Begin) {
        ASSERT_EQ(status, 0u);
        if (c.refuse) run.RefuseNext(c.refuse, kRefused, kHostErr, c.after);
        CFIterator* iterator = nullptr;
        switch (c.call) {
            case Call::FirstTask: status = run.Task(run.worker(0), &err); break;
            case Call::Iterator:
                EXPECT_EQ(run.Task(run.worker(0), &err), 0u);
                status = run.component->getIterator(&run.worker(0), 0, &iterator, &err);
                break;
            case Call::SecondTask:
                EXPECT_EQ(run.Task(run.worker(0), &err), 0u);
                status = run.Task(run.worker(0), &err);
                break;
            default:
                run.ServeAll();
                status = run.component->endExecution(&err);
        }
    }
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(run.Messages(), c.messages);
    EXPECT_EQ(run.context.liveRecordSets(), c.liveRecordSets);

    run.context.faults().clear();
    run.context.setInput(ThreeGroups());
    run.context.setDataModel(refhost::dataModelXml(ThreeGroups()));
    run.component->endExecution(&err);
    std::vector<size_t> sizes;
    for (const WorkerResult& result : run.RunOnce()) sizes.push_back(result.records.rowCount());
    EXPECT_EQ(sizes, (std::vector<size_t>{2, 1, 2}));
    EXPECT_TRUE(run.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, Failure, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Failure, RefusedReleaseAtDestructionLeavesOnlyThatRecordSet) {
    DistributeHarness run(ThreeGroups(), {"k"});
    ASSERT_EQ(run.Begin(), 0u);
    run.ServeAll();
    run.RefuseNext("releaseRecordSet", kRefused, kHostErr);
    EXPECT_EQ(run.component->destroy(), 0u);
    EXPECT_EQ(run.context.liveRecordSets(), 1u);
    EXPECT_EQ(run.context.lockStats().destroyed, run.context.lockStats().created);
}

}  // namespace
}  // namespace splittest

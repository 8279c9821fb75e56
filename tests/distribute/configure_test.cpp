// Configuration of split_distribute and the planning answers it gives.
#include "distribute/harness.h"

namespace splittest {
namespace {

// region has 3 categories, channel 4, amount (continuous) none.
refhost::Table Sales() {
    return MakeTable({{"region", 3, 3}, {"channel", 3, 3}, {"amount", 2, 1}},
                     {{Cell::text("n"), Cell::text("web"), Cell::real(1)},
                      {Cell::text("s"), Cell::text("shop"), Cell::real(2)},
                      {Cell::text("e"), Cell::text("mail"), Cell::real(3)},
                      {Cell::text("e"), Cell::text("fax"), Cell::real(4)}});
}

TEST(Configure, RefusesMissingOrUnknownSplitFields) {
    // dataModel: empty for the table's
    struct Case { bool set; std::vector<std::string> splitFields; int code; std::vector<std::string> args;
                  std::string dataModel = ""; };
    for (const Case& c : {Case{false, {}, 280001, {}}, Case{true, {}, 280001, {}},
                          Case{true, {"region", "zone", "nowhere"}, 280004, {"zone"}},
                          Case{true, {"Region"}, 280004, {"Region"}},
                          Case{true, {"region "}, 280004, {"region "}},
                          Case{true, {"region"}, 280004, {"region"}, "<DataModel><Fields/></DataModel>"}}) {
        DistributeHarness run(Sales(), {});
        const std::string tableModel = run.context.dataModel();
        if (!c.dataModel.empty()) run.context.setDataModel(c.dataModel);
        if (c.set) run.context.setParameter("split_fields", c.splitFields);
        int err = 0;
        EXPECT_EQ(run.component->configure(&err), 1u);
        EXPECT_EQ(err, c.code);
        EXPECT_EQ(run.Messages(), (std::vector<refhost::Message>{{3, c.code, c.args}}));
        // A corrected parameter configures the same component, with only the fields it names.
        run.context.setParameter("split_fields", {"region"});
        run.context.setDataModel(tableModel);
        EXPECT_EQ(run.RunOnce().size(), 3u);
        int64 count = 0;
        EXPECT_EQ(run.component->getWorkerTaskNumber(&count, &err), 0u);
        EXPECT_EQ(count, 3);  // region's categories alone
    }
}

TEST(Configure, WorkerTaskNumberCountsCategoryCombinations) {
    // regionCount: stated in the data model when not empty
    struct Case { std::vector<std::string> splitFields; int64 count; std::string regionCount = "", channelCount = ""; };
    auto stated = [](const std::string& region, const std::string& channel) {
        auto field = [](const char* name, const std::string& count) {
            return std::string("<Field name=\"") + name + R"(" storage="string" measure="nominal" categories=")" +
                   count + "\"/>";
        };
        return "<DataModel><Fields>" + field("region", region) + field("channel", channel) + "</Fields></DataModel>";
    };
    // The product is a signed 32-bit one: a negative count goes in as it is.
    for (const Case& c : {Case{{"region", "channel"}, 12}, Case{{"region", "amount"}, 0},
                          Case{{"channel", "region"}, -12, "-3", "4"},
                          Case{{"region", "channel"}, 65535 * 32767, "65535", "32767"}}) {
        DistributeHarness run(Sales(), c.splitFields);
        if (!c.regionCount.empty()) run.context.setDataModel(stated(c.regionCount, c.channelCount));
        int err = 0;
        ASSERT_EQ(run.component->configure(&err), 0u);
        int64 count = -1;
        err = 77;
        EXPECT_EQ(run.component->getWorkerTaskNumber(&count, &err), 0u);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(err, 0);
    }
}

TEST(Configure, BeginWithoutAProgressRecordPlansNothing) {
    DistributeHarness run(Sales(), {"region"});
    int err = 0;
    ASSERT_EQ(run.component->configure(&err), 0u);
    EXPECT_EQ(run.component->beginExecution(nullptr, &err), 8u);
    EXPECT_TRUE(run.context.workers().empty());
}

// A split field of a storage the data model does not name: reported per record compared, the task fails.
TEST(Configure, SplitFieldOfUnknownStorageFailsTheTask) {
    DistributeHarness run(ThreeGroups(), {"k"});
    std::string model = run.context.dataModel();
    run.context.setDataModel(model.replace(model.find("\"string\""), 8, "\"blob\""));
    ASSERT_EQ(run.Begin(), 0u);
    EXPECT_EQ(run.context.workers().size(), 1u);  // no key is read: one group
    int err = 0;
    EXPECT_EQ(run.Task(run.worker(0), &err), 1u);
    EXPECT_EQ(err, 280010);
    EXPECT_EQ(run.Messages(), std::vector<refhost::Message>(3, refhost::Message{3, 280010, {"k"}}));
}

// Begin after a configure that failed: the split fields resolved before the
// unknown name are kept, begin groups by them, and a task cannot be described.
TEST(Configure, FailedOnALaterNameBeginGroupsByTheEarlierOnes) {
    DistributeHarness run(ThreeGroups(), {"k", "ghost"});
    int err = 0;
    ASSERT_EQ(run.component->configure(&err), 1u);
    ASSERT_EQ(run.component->beginExecution(&err), 0u);
    EXPECT_EQ(run.context.workers().size(), 3u);  // a, b, c: grouped by k
    err = 0;
    EXPECT_EQ(run.Task(run.worker(0), &err), 1u);
    EXPECT_EQ(run.context.recordSetsCreated(), 0u);
}

}  // namespace
}  // namespace splittest

// Configuration of split_distribute and its planning answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "distribute/harness.h"

namespace splittest {
namespace {

using refhost::Cell;
using refhost::Message;

refhost::Table RegionTable() {
    return MakeTable({{"region", 3, 3}, {"channel", 3, 3}, {"amount", 2, 1}},
                     {{Cell::text("n"), Cell::text("web"), Cell::real(1)},
                      {Cell::text("s"), Cell::text("shop"), Cell::real(2)},
                      {Cell::text("e"), Cell::text("mail"), Cell::real(3)},
                      {Cell::text("e"), Cell::text("fax"), Cell::real(4)}});
}

struct ConfigureFailure {
    const char* name;
    bool setParameter;
    std::vector<std::string> splitFields;
    int code;
    std::vector<std::string> args;
};

class ConfigureFails : public testing::TestWithParam<ConfigureFailure> {};

TEST_P(ConfigureFails, WithMessageAndErr) {
    const ConfigureFailure& c = GetParam();
    DistributeHarness run(RegionTable(), {});
    if (c.setParameter) run.context.setParameter("split_fields", c.splitFields);
    int err = 0;
    EXPECT_EQ(run.component->configure(&err), 1u);
    EXPECT_EQ(err, c.code);
    EXPECT_EQ(run.Messages(), (std::vector<Message>{{3, c.code, c.args}}));

    // A corrected parameter configures the same component.
    run.context.setParameter("split_fields", {"region"});
    EXPECT_EQ(run.RunOnce().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigureFails,
    testing::Values(
        ConfigureFailure{"Missing", false, {}, 280001, {}},
        ConfigureFailure{"Empty", true, {}, 280001, {}},
        ConfigureFailure{"Unknown", true, {"region", "zone", "nowhere"}, 280004, {"zone"}},
        ConfigureFailure{"OtherCase", true, {"Region"}, 280004, {"Region"}},
        ConfigureFailure{"TrailingBlank", true, {"region "}, 280004, {"region "}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Configure, NameListedTwiceSplitsOnceAndIsReportedTwice) {
    DistributeHarness run(RegionTable(), {"region", "region"});
    std::vector<WorkerResult> results = run.RunOnce();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[2].task,
              (std::vector<TaskField>{{"region", "e", "false"}, {"region", "e", "false"}}));
}

TEST(WorkerTaskNumber, CountsCategoryCombinations) {
    struct Case {
        std::vector<std::string> splitFields;
        int64 count;
    };
    // region has 3 categories, channel 4, amount (continuous) none.
    for (const Case& c : {Case{{"region", "channel"}, 12}, Case{{"channel"}, 4},
                          Case{{"region", "amount"}, 0}}) {
        DistributeHarness run(RegionTable(), c.splitFields);
        int err = 0;
        ASSERT_EQ(run.component->configure(&err), 0u);
        int64 count = -1;
        err = 77;
        EXPECT_EQ(run.component->getWorkerTaskNumber(&count, &err), 0u);
        EXPECT_EQ(count, c.count) << c.splitFields.size() << " fields";
        EXPECT_EQ(err, 0);
    }
}

TEST(WorkerTaskNumber, IsOneBeforeConfiguration) {
    DistributeHarness run(RegionTable(), {"region"});
    int64 count = -1;
    EXPECT_EQ(run.component->getWorkerTaskNumber(&count), 0u);
    EXPECT_EQ(count, 1);
}

TEST(DataModel, EveryWorkerGetsTheInputDataModel) {
    DistributeHarness run(RegionTable(), {"region"});
    int err = 0;
    ASSERT_EQ(run.component->configure(&err), 0u);
    ASSERT_EQ(run.component->beginExecution(&err), 0u);
    for (size_t index : {0, 5}) {
        std::string text;
        EXPECT_EQ(run.component->getDataModel(run.context.workers()[0], index, &text), 0u);
        EXPECT_EQ(text, run.context.dataModel());
    }
    std::string text;
    EXPECT_EQ(run.component->getDataModel(nullptr, 3, &text), 0u);
    EXPECT_EQ(text, run.context.dataModel());
}

}  // namespace
}  // namespace splittest

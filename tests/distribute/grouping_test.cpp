// How the input is cut into split groups, and which records each worker gets.
#include <cmath>

#include "distribute/harness.h"

namespace splittest {
namespace {

struct GroupingCase {
    const char* name;
    refhost::Column key;              // the split field
    std::vector<Cell> values;         // its value in each input record
    std::vector<size_t> groupSizes;   // the expected runs, in input order
};

class Grouping : public testing::TestWithParam<GroupingCase> {};

TEST_P(Grouping, EachRunGoesToOneWorkerInInputOrder) {
    const GroupingCase& c = GetParam();
    std::vector<std::vector<Cell>> rows;
    for (size_t i = 0; i < c.values.size(); ++i) rows.push_back({c.values[i], Cell::integer(i)});
    refhost::Table input = MakeTable({c.key, {"seq", 1, 1}}, rows);
    DistributeHarness run(input, {"k"});
    std::vector<std::string> handedOut;
    std::vector<size_t> sizes;
    for (const WorkerResult& result : run.RunOnce()) {
        EXPECT_EQ(result.task.at(0).name, "k");
        sizes.push_back(result.records.rowCount());
        for (const std::string& row : RowTexts(result.records)) handedOut.push_back(row);
    }
    EXPECT_EQ(sizes, c.groupSizes);
    EXPECT_EQ(handedOut, RowTexts(input));
    EXPECT_EQ(run.context.liveRecordSets(), 0u);
}

const refhost::Column kText{"k", 3, 3}, kInteger{"k", 1, 3}, kReal{"k", 2, 1}, kDate{"k", 4, 1}, kOther{"k", 7, 3};
const std::string kZeroX("ab\0x", 4);
const std::string kLong(200, 'L'), kLongOther = std::string(199, 'L') + "M";

INSTANTIATE_TEST_SUITE_P(
    Cases, Grouping,
    testing::Values(
        GroupingCase{"OneRecord", kText, {Cell::text("A")}, {1}},
        GroupingCase{"RunsNotSets", kText,
                     {Cell::text("A"), Cell::text("A"), Cell::text("B"), Cell::text("B"), Cell::text("A")},
                     {2, 2, 1}},
        // The tolerance is 1e-15, absolute, and a difference of exactly it is equal.
        GroupingCase{"RealsAtTolerance", kReal, {Cell::real(0), Cell::real(1e-15), Cell::real(-1e-15)}, {3}},
        GroupingCase{"RealsTwiceTolerance", kReal, {Cell::real(0), Cell::real(2e-15), Cell::real(2e-15 + 1e-13)},
                     {1, 1, 1}},
        // A difference that is not a number counts as equal; the group keeps its first key.
        GroupingCase{"NaNJoinsTheGroup", kReal,
                     {Cell::real(1), Cell::real(std::nan("")), Cell::real(std::nan("")), Cell::real(2)}, {3, 1}},
        GroupingCase{"MissingAfterPresentReal", kReal, {Cell::real(0.5), Cell::missing(), Cell::real(0.5)}, {1, 1, 1}},
        // A missing integer is neither the value before it nor zero.
        GroupingCase{"MissingIntegerIsNotAValue", kInteger,
                     {Cell::integer(5), Cell::missing(), Cell::missing(), Cell::integer(0), Cell::integer(0)},
                     {1, 2, 2}},
        // Values of a storage beyond the named ones are compared by length only.
        GroupingCase{"StorageSevenByLength", kOther, {Cell::text("a"), Cell::text("b"), Cell::text("cd")}, {2, 1}},
        GroupingCase{"Dates", kDate, {Cell::real(100), Cell::real(100), Cell::real(101)}, {2, 1}},
        GroupingCase{"TextShrinksAndGrowsInPlace", kText,
                     {Cell::text("abcdef"), Cell::text("abc"), Cell::text("abc"), Cell::text("abcdef"),
                      Cell::text("abc"), Cell::text(kZeroX), Cell::text("ab")},
                     {1, 2, 1, 1, 1, 1}},
        GroupingCase{"LongTextGrowsTheKey", kText,
                     {Cell::text("s"), Cell::text(kLong), Cell::text(kLong), Cell::text(kLongOther)},
                     {1, 2, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Grouping, WithoutSplitFieldsTheWholeInputIsOneGroup) {
    DistributeHarness run(ThreeGroups(), {});
    int err = 0;
    ASSERT_EQ(run.component->beginExecution(&err), 0u);  // not configured: no split field
    std::vector<WorkerResult> results = run.ServeAll();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].task.empty());
    EXPECT_EQ(RowTexts(results[0].records), RowTexts(ThreeGroups()));
}

TEST(Grouping, SplitFieldsKeepTheirConfiguredOrder) {
    refhost::Table input = MakeTable({{"A", 3, 3}, {"B", 1, 3}},
                                     {{Cell::text("x"), Cell::integer(1)},
                                      {Cell::text("y"), Cell::integer(1)},
                                      {Cell::text("y"), Cell::integer(2)}});
    DistributeHarness run(input, {"B", "A"});
    std::vector<WorkerResult> results = run.RunOnce();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[2].task, (std::vector<TaskField>{{"B", "2", "false"}, {"A", "y", "false"}}));
}

}  // namespace
}  // namespace splittest

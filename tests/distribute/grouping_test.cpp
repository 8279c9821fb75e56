// How the input is cut into split groups, and which records each worker gets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "distribute/harness.h"

namespace splittest {
namespace {

using refhost::Cell;
using refhost::Column;

struct GroupingCase {
    const char* name;
    Column key;                        // the split field
    std::vector<Cell> values;          // its value in each input record
    std::vector<size_t> groupSizes;    // the expected runs, in input order
};

std::string CaseName(const testing::TestParamInfo<GroupingCase>& info) { return info.param.name; }

class Grouping : public testing::TestWithParam<GroupingCase> {};

TEST_P(Grouping, EachRunGoesToOneWorkerInInputOrder) {
    const GroupingCase& c = GetParam();
    std::vector<std::vector<Cell>> rows;
    for (size_t i = 0; i < c.values.size(); ++i) {
        rows.push_back({c.values[i], Cell::integer(static_cast<int64_t>(i))});
    }
    refhost::Table input = MakeTable({c.key, {"seq", 1, 1}}, rows);
    DistributeHarness run(input, {c.key.name});

    std::vector<WorkerResult> results = run.RunOnce();

    ASSERT_EQ(results.size(), c.groupSizes.size());
    std::vector<std::string> handedOut;
    for (size_t g = 0; g < results.size(); ++g) {
        EXPECT_EQ(results[g].status, 0u);
        EXPECT_EQ(results[g].records.rowCount(), c.groupSizes[g]) << "group " << g;
        ASSERT_EQ(results[g].task.size(), 1u);
        EXPECT_EQ(results[g].task[0].name, c.key.name);
        for (const std::string& row : RowTexts(results[g].records)) handedOut.push_back(row);
    }
    EXPECT_EQ(handedOut, RowTexts(input));
    EXPECT_EQ(run.context.liveRecordSets(), 0u);
}

const Column kText{"k", 3, 3};
const Column kInteger{"k", 1, 3};
const Column kReal{"k", 2, 1};
const Column kDate{"k", 4, 1};

std::string WithZero(const char* before, const char* after) {
    return std::string(before) + std::string(1, '\0') + after;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Grouping,
    testing::Values(
        GroupingCase{"OneRecord", kText, {Cell::text("A")}, {1}},
        GroupingCase{"RunsNotSets", kText,
                     {Cell::text("A"), Cell::text("A"), Cell::text("B"), Cell::text("B"),
                      Cell::text("A")},
                     {2, 2, 1}},
        GroupingCase{"RealsWithinTolerance", kReal,
                     {Cell::real(0.25), Cell::real(0.25 + 1e-16), Cell::real(0.25)}, {3}},
        GroupingCase{"RealsBeyondTolerance", kReal, {Cell::real(0.25), Cell::real(0.25 + 1e-9)},
                     {1, 1}},
        GroupingCase{"DatesByDay", kDate, {Cell::real(100), Cell::real(100), Cell::real(101)},
                     {2, 1}},
        GroupingCase{"MissingIntegersEqualZeroDiffers", kInteger,
                     {Cell::missing(), Cell::missing(), Cell::integer(0), Cell::integer(0)},
                     {2, 2}},
        GroupingCase{"Integers", kInteger,
                     {Cell::integer(5), Cell::integer(5), Cell::integer(-5),
                      Cell::integer(INT64_MIN), Cell::integer(INT64_MIN)},
                     {2, 1, 2}},
        GroupingCase{"MissingTextVersusEmptyText", kText,
                     {Cell::missing(), Cell::missing(), Cell::text(""), Cell::text(""),
                      Cell::missing()},
                     {2, 2, 1}},
        GroupingCase{"TextEqualUpToZeroByte", kText,
                     {Cell::text(WithZero("ab", "x")), Cell::text(WithZero("ab", "y"))}, {2}},
        GroupingCase{"TextOfOtherLengthDiffers", kText,
                     {Cell::text("ab"), Cell::text(WithZero("ab", ""))}, {1, 1}},
        GroupingCase{"LongTextGrowsItsBuffer", kText,
                     {Cell::text("short"), Cell::text(std::string(200, 'L')),
                      Cell::text(std::string(200, 'L')), Cell::text(std::string(199, 'L') + "M"),
                      Cell::text("short")},
                     {1, 2, 1, 1}}),
    CaseName);

TEST(Grouping, WithoutSplitFieldsTheWholeInputIsOneGroup) {
    refhost::Table input = MakeTable({{"k", 3, 3}}, {{Cell::text("A")}, {Cell::text("B")}});
    DistributeHarness run(input, {});
    int err = 0;
    // Execution begun without configuration: no split field is resolved.
    ASSERT_EQ(run.component->beginExecution(&err), 0u);
    std::vector<WorkerResult> results = run.ServeAll();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].task.empty());
    EXPECT_EQ(RowTexts(results[0].records), RowTexts(input));
}

TEST(Grouping, SplitFieldsKeepTheirConfiguredOrder) {
    refhost::Table input =
        MakeTable({{"A", 3, 3}, {"B", 1, 3}},
                  {{Cell::text("x"), Cell::integer(1)}, {Cell::text("y"), Cell::integer(1)},
                   {Cell::text("y"), Cell::integer(2)}});
    DistributeHarness run(input, {"B", "A"});
    std::vector<WorkerResult> results = run.RunOnce();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[1].task, (std::vector<TaskField>{{"B", "1", "false"}, {"A", "y", "false"}}));
    EXPECT_EQ(results[2].task, (std::vector<TaskField>{{"B", "2", "false"}, {"A", "y", "false"}}));
}

TEST(Grouping, ExecutionsRepeatWithFreshPlans) {
    refhost::Table input = MakeTable(
        {{"k", 3, 3}}, {{Cell::text("A")}, {Cell::text("B")}, {Cell::text("B")}});
    DistributeHarness run(input, {"k"});
    for (int execution = 0; execution < 2; ++execution) {
        std::vector<WorkerResult> results = run.RunOnce();
        ASSERT_EQ(results.size(), 2u);
        EXPECT_EQ(results[1].records.rowCount(), 2u);
    }
    EXPECT_EQ(run.context.workers().size(), 4u);
    EXPECT_EQ(run.context.liveRecordSets(), 0u);
}

}  // namespace
}  // namespace splittest

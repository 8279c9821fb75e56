// Least-squares group models: coefficient recovery, fit summary, skipped
// records and the failures that leave a group without a model.
#include <cmath>
#include <functional>
#include <random>

#include "model_test_support.h"

namespace {

using namespace modeltest;
using splitmodels::GroupData;
using splitmodels::ModelSpec;

double coefficient(const splitmodels::GroupModel& model, const std::string& name) {
  for (const auto& [term, value] : model.coefficients)
    if (term == name) return value;
  ADD_FAILURE() << "no coefficient " << name;
  return NAN;
}

struct RecoveryCase {
  const char* title;
  std::vector<FieldDef> inputs;
  // Fills the input cells of record i and returns its exact target value.
  std::function<double(int, std::mt19937_64&, std::vector<Cell>&)> record;
  std::vector<std::pair<std::string, double>> expected;
};

std::vector<RecoveryCase> recoveryCases() {
  return {
      {"two continuous inputs",
       {continuous("x1"), continuous("x2")},
       [](int, std::mt19937_64& rng, std::vector<Cell>& cells) {
         std::normal_distribution<double> normal(0.0, 3.0);
         const double x1 = normal(rng), x2 = normal(rng);
         cells = {number(x1), number(x2)};
         return 1.0 + 2.0 * x1 - 3.0 * x2;
       },
       {{"(intercept)", 1.0}, {"x1", 2.0}, {"x2", -3.0}}},
      {"nominal input dummy-coded against its first category",
       {nominal("channel", {"store", "online", "phone"}), continuous("x")},
       [](int i, std::mt19937_64& rng, std::vector<Cell>& cells) {
         static const char* names[] = {"store", "online", "phone"};
         std::uniform_real_distribution<double> uniform(-5.0, 5.0);
         const double x = uniform(rng);
         cells = {text(names[i % 3]), number(x)};
         return 5.0 + (i % 3 == 1 ? 1.5 : 0.0) + (i % 3 == 2 ? -2.0 : 0.0) + 0.5 * x;
       },
       {{"(intercept)", 5.0}, {"channel=online", 1.5}, {"channel=phone", -2.0}, {"x", 0.5}}},
      {"date input far from zero",
       {continuous("day", splitmodels::StorageDate)},
       [](int i, std::mt19937_64&, std::vector<Cell>& cells) {
         const double day = 19000.0 + i;
         cells = {number(day)};
         return -120.0 + 0.01 * day;
       },
       {{"(intercept)", -120.0}, {"day", 0.01}}},
      {"integer-coded categories matched by number",
       {nominal("grade", {"1", "2.0", "3"}, splitmodels::StorageInteger)},
       [](int i, std::mt19937_64&, std::vector<Cell>& cells) {
         cells = {number(1 + i % 3)};
         return i % 3 == 0 ? 10.0 : (i % 3 == 1 ? 12.0 : 7.0);
       },
       {{"(intercept)", 10.0}, {"grade=2", 2.0}, {"grade=3", -3.0}}},
  };
}

TEST(LinearModel, RecoversExactCoefficients) {
  for (const RecoveryCase& c : recoveryCases()) {
    SCOPED_TRACE(c.title);
    GroupData data;
    data.fields = c.inputs;
    data.fields.push_back(continuous("y"));
    std::mt19937_64 rng(7);
    for (int i = 0; i < 60; ++i) {
      std::vector<Cell> cells;
      const double y = c.record(i, rng, cells);
      cells.push_back(number(y));
      data.rows.push_back(cells);
    }
    ModelSpec request;
    request.target = "y";
    for (const FieldDef& field : c.inputs) request.inputs.push_back(field.name);
    const auto model = splitmodels::buildGroupModel(data, request);
    ASSERT_TRUE(model.ok) << model.reason;
    ASSERT_EQ(model.coefficients.size(), c.expected.size());
    for (std::size_t j = 0; j < c.expected.size(); ++j) {
      EXPECT_EQ(model.coefficients[j].first, c.expected[j].first);
      EXPECT_NEAR(model.coefficients[j].second, c.expected[j].second, 1e-7 * (1 + std::fabs(c.expected[j].second)));
    }
    EXPECT_EQ(model.records, 60u);
    EXPECT_NEAR(model.rSquared, 1.0, 1e-12);
    EXPECT_NEAR(model.rmse, 0.0, 1e-6);
  }
}

TEST(LinearModel, NoisyFitReportsSummaryAndSkipsIncompleteRecords) {
  GroupData data;
  data.fields = {continuous("x"), continuous("y")};
  std::mt19937_64 rng(11);
  std::normal_distribution<double> noise(0.0, 0.5);
  for (int i = 0; i < 2000; ++i) {
    const double x = i / 100.0;
    data.rows.push_back({number(x), number(3.0 - 0.25 * x + noise(rng))});
  }
  data.rows.push_back({missing(), number(1.0)});
  data.rows.push_back({number(1.0), missing()});
  ModelSpec request;
  request.target = "y";
  request.inputs = {"x"};
  const auto model = splitmodels::buildGroupModel(data, request);
  ASSERT_TRUE(model.ok) << model.reason;
  EXPECT_EQ(model.records, 2000u);
  EXPECT_EQ(model.skippedRecords, 2u);
  EXPECT_NEAR(coefficient(model, "x"), -0.25, 0.01);
  EXPECT_NEAR(model.rmse, 0.5, 0.03);
  EXPECT_GT(model.rSquared, 0.8);
  EXPECT_LT(model.adjustedRSquared, model.rSquared);
}

TEST(LinearModel, GroupsWithoutIdentifiableFitFailWithReason) {
  const FieldDef channel = nominal("channel", {"store", "online", "phone"});
  struct FailureCase {
    const char* title;
    std::vector<FieldDef> fields;
    std::vector<std::vector<Cell>> rows;
    std::vector<std::string> inputs;
    std::string reason;
  };
  const std::vector<FailureCase> cases = {
      {"fewer records than parameters",
       {continuous("a"), continuous("b"), continuous("c"), continuous("y")},
       {{number(1), number(2), number(4), number(1)},
        {number(2), number(1), number(3), number(2)},
        {number(3), number(5), number(1), number(4)},
        {missing(), number(5), number(1), number(4)}},
       {"a", "b", "c"},
       "too few records: 3 records for 4 parameters"},
      {"one input a multiple of another",
       {continuous("x1"), continuous("x2"), continuous("y")},
       {{number(1), number(2), number(1)}, {number(2), number(4), number(3)}, {number(3), number(6), number(2)},
        {number(4), number(8), number(5)}},
       {"x1", "x2"},
       "singular design: column x2 is collinear"},
      {"constant input",
       {continuous("x"), continuous("y")},
       {{number(7), number(1)}, {number(7), number(2)}, {number(7), number(4)}},
       {"x"},
       "singular design: column x is collinear"},
      {"category absent from the group",
       {channel, continuous("y")},
       {{text("store"), number(1)}, {text("online"), number(2)}, {text("store"), number(3)},
        {text("online"), number(5)}},
       {"channel"},
       "singular design: column channel=phone is collinear"},
      {"unknown input", {continuous("y")}, {{number(1)}}, {"nope"}, "unknown field: nope"},
      {"categorical target",
       {continuous("x"), nominal("y", {"a", "b"})},
       {{number(1), text("a")}, {number(2), text("b")}, {number(3), text("a")}},
       {"x"},
       "target is not continuous: y"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.title);
    ModelSpec request;
    request.target = "y";
    request.inputs = c.inputs;
    const auto model = splitmodels::buildGroupModel(GroupData{c.fields, c.rows}, request);
    EXPECT_FALSE(model.ok);
    EXPECT_EQ(model.reason, c.reason);
    EXPECT_TRUE(model.pmml.empty());
    EXPECT_TRUE(model.statXML.empty());
  }
}

}  // namespace

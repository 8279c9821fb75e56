// Least-squares group models: coefficient recovery, skipped records, failures.
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>

#include "model_test_support.h"

namespace {

using namespace modeltest;
using Coefficients = std::vector<std::pair<std::string, double>>;
constexpr double kAliased = std::numeric_limits<double>::quiet_NaN();

// Records from "1 a - | 2 b 3": numbers, "-" for missing, other words as text.
std::vector<std::vector<Cell>> records(const std::string& table) {
  std::vector<std::vector<Cell>> rows(1);
  std::istringstream in(table);
  for (std::string word; in >> word;) {
    char* end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    if (word == "|")
      rows.emplace_back();
    else
      rows.back().push_back(word == "-" ? missing() : *end == '\0' ? number(value) : text(word));
  }
  return rows;
}

TEST(LinearModel, RecoversExactCoefficients) {
  // held: the categories the records cycle through; expected: also the truth that makes the target
  struct RecoveryCase { const char* title; std::vector<FieldDef> inputs; std::vector<std::string> held; Coefficients expected; };
  const std::vector<FieldDef> channel = {nominal("channel", {"store", "online", "phone"}), continuous("x")};
  const std::vector<RecoveryCase> cases = {
      {"a continuous input and a date far from zero", {continuous("x1"), continuous("day", splitmodels::StorageDate)},
       {}, {{"(Intercept)", -120}, {"x1", -3}, {"day", 0.01}}},
      {"every category held: coded against the first", channel, {"store", "online", "phone"},
       {{"(Intercept)", 5}, {"channelonline", 1.5}, {"channelphone", -2}, {"x", 0.5}}},
      {"a middle category absent: no term for it", channel, {"phone", "store"},
       {{"(Intercept)", 5}, {"channelphone", -2}, {"x", 0.5}}},
      {"the first category absent: coded against the next held one", channel, {"phone", "online"},
       {{"(Intercept)", 6.5}, {"channelphone", -3.5}, {"x", 0.5}}},
      {"a single category held: the input is constant, its term aliased", channel, {"phone"},
       {{"(Intercept)", 3}, {"channel", kAliased}, {"x", 0.5}}},
      {"no categories listed: the values held, sorted, coded against the first",
       {nominal("channel", {}), continuous("x")}, {"store", "online", "phone"},
       {{"(Intercept)", 5}, {"channelphone", -2}, {"channelstore", 1.5}, {"x", 0.5}}},
      {"integer categories matched by number, the last one absent",
       {nominal("grade", {"1", "2.0", "3"}, splitmodels::StorageInteger)}, {"1", "2"},
       {{"(Intercept)", 10}, {"grade2", 2}}},
      {"a number without a measure is continuous",
       {FieldDef{"x", splitmodels::StorageReal, splitmodels::MeasureNone, {}, {}}}, {}, {{"(Intercept)", 2}, {"x", -1.5}}},
  };
  for (const RecoveryCase& c : cases) {
    SCOPED_TRACE(c.title);
    GroupData data{c.inputs, {}};
    data.fields.push_back(continuous("y"));
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal(0.0, 3.0);
    for (std::size_t i = 0; i < 60; ++i) {
      std::vector<Cell> cells;
      double y = c.expected[0].second;
      for (const FieldDef& field : c.inputs) {
        std::string column = field.name;
        double value = 1.0;
        if (field.measure == splitmodels::MeasureContinuous || field.measure == splitmodels::MeasureNone) {
          value = field.storage == splitmodels::StorageDate ? 19000.0 + static_cast<double>(i) : normal(rng);
          cells.push_back(number(value));
        } else {
          const std::string& held = c.held[i % c.held.size()];
          cells.push_back(field.storage == splitmodels::StorageString ? text(held) : number(std::stod(held)));
          column += held;
        }
        for (const auto& [name, beta] : c.expected)
          if (name == column) y += beta * value;
      }
      cells.push_back(number(y));
      data.rows.push_back(cells);
    }
    // Skipped: one missing an input; one missing y holding first categories (must not set the reference).
    std::vector<Cell> skipped = data.rows.front();
    skipped.front() = missing();
    data.rows.push_back(skipped);
    skipped = data.rows.front();
    for (std::size_t k = 0; k < c.inputs.size(); ++k)
      if (const auto& first = c.inputs[k].categories; !first.empty())
        skipped[k] = c.inputs[k].storage == splitmodels::StorageString ? text(first[0]) : number(std::stod(first[0]));
    skipped.back() = missing();
    data.rows.push_back(skipped);
    ModelSpec request = modelRequest(ModelKind::Linear, "y", {});
    for (const FieldDef& field : c.inputs) request.inputs.push_back(field.name);
    const auto model = splitmodels::buildGroupModel(data, request);
    ASSERT_TRUE(model.ok) << model.reason;
    ASSERT_EQ(model.terms.size(), c.expected.size());
    for (std::size_t j = 0; j < c.expected.size(); ++j) {
      EXPECT_EQ(model.terms[j].name, c.expected[j].first);
      if (std::isnan(c.expected[j].second))
        EXPECT_TRUE(std::isnan(model.terms[j].estimate)) << model.terms[j].name;
      else
        EXPECT_NEAR(model.terms[j].estimate, c.expected[j].second, 1e-7 * (1 + std::fabs(c.expected[j].second)));
    }
    EXPECT_EQ(model.records, 60u);
    EXPECT_EQ(model.skippedRecords, 2u);
  }
}

TEST(LinearModel, GroupsWithoutIdentifiableFitFailWithReason) {
  const auto numbers = [](std::vector<std::string> names) {
    std::vector<FieldDef> fields;
    for (const std::string& name : names) fields.push_back(continuous(name));
    return fields;
  };
  // fields: the target y last; reason: how the reason begins
  struct FailureCase {
    const char* title; std::vector<FieldDef> fields; std::string rows; std::vector<std::string> inputs; std::string reason;
  };
  const std::vector<FailureCase> cases = {
      {"no usable record", numbers({"a", "y"}), "- 1 | 2 -", {"a"}, "too few records: 0 records for 2 parameters"},
      {"coefficients beyond the double range", numbers({"x", "y"}), "0.001 1.7e308 | 0.002 -1.7e308", {"x"},
       "coefficients too large to represent: "},
      {"unknown reference level", {nominal("c", {"p", "q"}), continuous("y")}, "p 1 | q 2", {"c"},
       "unknown reference level: c has no category r"},
      {"unknown input", numbers({"y"}), "1", {"nope"}, "unknown field: nope"},
      {"target also an input", numbers({"y"}), "1", {"y"}, "target is also an input: y"},
      {"input listed twice", numbers({"x", "y"}), "1 1", {"x", "x"}, "input listed twice: x"},
      {"categorical target", {continuous("x"), nominal("y", {"a", "b"})}, "1 a | 2 b | 3 a", {"x"},
       "target is not continuous: y"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.title);
    const GroupData data{c.fields, records(c.rows)};
    ModelSpec request = modelRequest(ModelKind::Linear, "y", c.inputs);
    request.references = {{"c", "r"}};
    const auto model = splitmodels::buildGroupModel(data, request);
    EXPECT_FALSE(model.ok);
    EXPECT_EQ(model.reason.rfind(c.reason, 0), 0u) << model.reason;
    EXPECT_TRUE(model.pmml.empty() && model.statXML.empty());
  }
  // One record is enough: lm(y ~ a, data.frame(a = 1, y = 2)) fits the intercept 2, a aliased.
  const auto single = splitmodels::buildGroupModel(GroupData{numbers({"a", "y"}), records("1 2")},
                                                   modelRequest(ModelKind::Linear, "y", {"a"}));
  ASSERT_TRUE(single.ok) << single.reason;
  EXPECT_NEAR(single.terms.at(0).estimate, 2.0, 1e-12);
  EXPECT_TRUE(std::isnan(single.terms.at(1).estimate));
}

TEST(LinearModel, ManyHeldLevelsBeyondTheDesignLimitAreRefusedWithTheirSize) {
  std::vector<std::string> levels;
  for (int c = 0; c < 1000; ++c) levels.push_back("c" + std::to_string(c));
  GroupData data{{nominal("store", levels), continuous("y")}, {}};
  for (int i = 0; i < 9000; ++i) data.rows.push_back({text(levels[static_cast<std::size_t>(i % 1000)]), number(i % 7)});
  const auto model = splitmodels::buildGroupModel(data, modelRequest(ModelKind::Linear, "y", {"store"}));
  EXPECT_FALSE(model.ok);
  EXPECT_EQ(model.reason.rfind("design too large: 9000 records by 1000 columns would take 68 MiB", 0), 0u) << model.reason;
}

}  // namespace

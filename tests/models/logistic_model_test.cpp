// Logistic group models: event choice, unfittable groups, the area under the curve.
#include <cmath>
#include <random>

#include "fits.h"
#include "model_test_support.h"

namespace {

using namespace modeltest;

TEST(LogisticModel, UnfittableGroupsFailWithReason) {
  using Label = const char* (*)(int);
  const Label split = [](int x) { return x > 0 ? "b" : "a"; };
  // label: y of x = -10 .. 10; boundaryBoth: one more record at x = 0 with the other class
  struct FailureCase { const char* title; Label label; bool boundaryBoth; std::string event; std::string reasonStart; };
  const std::vector<FailureCase> cases = {
      {"complete separation", split, false, "", "separation: "},
      {"quasi-complete separation", [](int x) { return x >= 0 ? "b" : "a"; }, true, "", "separation: "},
      {"a single class", [](int) { return "a"; }, false, "", "single class: every record has y = a"},
      {"three classes", [](int x) { return x < -3 ? "a" : x < 3 ? "b" : "c"; }, false, "", "more than two classes: "},
      {"unknown event", split, false, "z", "event not found: z "},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.title);
    GroupData data{{continuous("x"), nominal("y", {})}, {}};
    for (int x = -10; x <= 10; ++x) data.rows.push_back({number(x), text(c.label(x))});
    if (c.boundaryBoth) data.rows.push_back({number(0), text("a")});
    const auto model = splitmodels::buildGroupModel(data, modelRequest(ModelKind::Logistic, "y", {"x"}, c.event));
    EXPECT_FALSE(model.ok);
    EXPECT_EQ(model.reason.rfind(c.reasonStart, 0), 0u) << model.reason;
  }
}

TEST(LogisticModel, OverlappingClassesAreNotMistakenForSeparationAndTheEventCanBeTheFirstValue) {
  // Strong but finite effect; modelling "0" turns the slope (2.5) round.
  GroupData data{
      {continuous("x"), FieldDef{"y", splitmodels::StorageInteger, splitmodels::MeasureFlag, {"0", "1"}, {}}}, {}};
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 4000; ++i) {
    const double x = -6.0 + 12.0 * i / 4000.0;
    data.rows.push_back({number(x), number(unit(rng) < 1.0 / (1.0 + std::exp(-2.5 * x)) ? 1 : 0)});
  }
  const auto model = splitmodels::buildGroupModel(data, modelRequest(ModelKind::Logistic, "y", {"x"}, "0.0"));
  ASSERT_TRUE(model.ok) << model.reason;
  EXPECT_NEAR(model.terms[1].estimate, -2.5, 0.3);
  EXPECT_NE(model.pmml.find("intercept=\"0\" targetCategory=\"1\""), std::string::npos);
  // Without --event the second value in sorted order is the event.
  const auto byDefault = splitmodels::buildGroupModel(data, modelRequest(ModelKind::Logistic, "y", {"x"}));
  ASSERT_TRUE(byDefault.ok) << byDefault.reason;
  EXPECT_NEAR(byDefault.terms[1].estimate, 2.5, 0.3);
  EXPECT_NE(byDefault.pmml.find("intercept=\"0\" targetCategory=\"0\""), std::string::npos);
}

// Tied scores share their average rank, as R's rank() gives them:
//   a <- function(p, y) (sum(rank(p)[y == 1]) - n1 * (n1 + 1) / 2) / (n1 * n0)
TEST(LogisticModel, AreaUnderCurveCountsTiedScoresOneHalf) {
  struct AucCase { std::vector<double> score, label; double expected; };
  const AucCase cases[] = {
      {{0.1, 0.4, 0.4, 0.8}, {0, 0, 1, 1}, 0.875}, {{0.5, 0.5, 0.5, 0.2, 0.9}, {1, 0, 1, 0, 0}, 0.5},
      {{0.8, 0.4, 0.4, 0.1}, {0, 1, 0, 1}, 0.125}, {{0.3, 0.3, 0.3}, {1, 0, 0}, 0.5},
  };
  for (const AucCase& c : cases)
    EXPECT_DOUBLE_EQ(splitmodels::detail::areaUnderCurve(Eigen::Map<const Eigen::VectorXd>(c.score.data(), static_cast<Eigen::Index>(c.score.size())),
                                                      Eigen::Map<const Eigen::VectorXd>(c.label.data(), static_cast<Eigen::Index>(c.label.size()))),
                     c.expected);
}

}  // namespace

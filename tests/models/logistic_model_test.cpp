// Logistic group models: coefficient recovery, event choice, unfittable groups.
#include <cmath>
#include <random>

#include "fits.h"
#include "model_test_support.h"

namespace {

using namespace modeltest;

// y ~ Bernoulli(sigmoid(-0.5 + 1.2 x1 - 0.8 x2 + 0.7 [online] - 0.4 [phone])).
GroupData generated(int records, unsigned seed) {
  GroupData data{{continuous("x1"), continuous("x2"), nominal("channel", {"store", "online", "phone"}),
                  nominal("bought", {"no", "yes"})},
                 {}};
  data.fields[3].measure = splitmodels::MeasureFlag;
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_real_distribution<double> uniform(-2.0, 2.0), unit(0.0, 1.0);
  static const char* channels[] = {"store", "online", "phone"};
  for (int i = 0; i < records; ++i) {
    const double x1 = normal(rng), x2 = uniform(rng);
    const int channel = i % 3;
    const double eta = -0.5 + 1.2 * x1 - 0.8 * x2 + (channel == 1 ? 0.7 : 0.0) + (channel == 2 ? -0.4 : 0.0);
    const bool event = unit(rng) < 1.0 / (1.0 + std::exp(-eta));
    data.rows.push_back({number(x1), number(x2), text(channels[channel]), text(event ? "yes" : "no")});
  }
  return data;
}

ModelSpec logisticRequest(const std::string& event = "") {
  return modelRequest(ModelKind::Logistic, "bought", {"x1", "x2", "channel"}, event);
}

TEST(LogisticModel, RecoversCoefficientsOnALargeSample) {
  const auto model = splitmodels::buildGroupModel(generated(40000, 3), logisticRequest());
  ASSERT_TRUE(model.ok) << model.reason;
  const std::vector<std::pair<std::string, double>> expected = {
      {"(Intercept)", -0.5}, {"x1", 1.2}, {"x2", -0.8}, {"channelonline", 0.7}, {"channelphone", -0.4}};
  ASSERT_EQ(model.terms.size(), expected.size());
  for (std::size_t j = 0; j < expected.size(); ++j) {
    EXPECT_EQ(model.terms[j].name, expected[j].first);
    EXPECT_NEAR(model.terms[j].estimate, expected[j].second, 0.08) << expected[j].first;
  }
  EXPECT_EQ(model.records, 40000u);
  EXPECT_GT(model.auc, 0.75);
  EXPECT_LT(model.auc, 1.0);
  EXPECT_GT(model.accuracy, 0.65);
  EXPECT_LT(model.logLikelihood, 0.0);
  // The event defaults to the second value in sorted order.
  EXPECT_NE(model.pmml.find("targetCategory=\"yes\""), std::string::npos);
}

TEST(LogisticModel, UnfittableGroupsFailWithReason) {
  using Label = const char* (*)(int);
  const Label split = [](int x) { return x > 0 ? "b" : "a"; };
  struct FailureCase {
    const char* title;
    Label label;        // y of x = -10 .. 10
    bool boundaryBoth;  // one more record at x = 0 with the other class
    std::string event;
    std::string reasonStart;
  };
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
}

// Tied scores share their average rank, as R's rank() gives them:
//   a <- function(p, y) (sum(rank(p)[y == 1]) - n1 * (n1 + 1) / 2) / (n1 * n0)
TEST(LogisticModel, AreaUnderCurveCountsTiedScoresOneHalf) {
  struct AucCase {
    std::vector<double> score, label;
    double expected;
  };
  const AucCase cases[] = {
      {{0.1, 0.4, 0.4, 0.8}, {0, 0, 1, 1}, 0.875},
      {{0.5, 0.5, 0.5, 0.2, 0.9}, {1, 0, 1, 0, 0}, 0.5},
      {{0.8, 0.4, 0.4, 0.1}, {0, 1, 0, 1}, 0.125},
      {{0.3, 0.3, 0.3}, {1, 0, 0}, 0.5},
  };
  for (const AucCase& c : cases)
    EXPECT_DOUBLE_EQ(splitmodels::detail::areaUnderCurve(Eigen::Map<const Eigen::VectorXd>(c.score.data(), static_cast<Eigen::Index>(c.score.size())),
                                                      Eigen::Map<const Eigen::VectorXd>(c.label.data(), static_cast<Eigen::Index>(c.label.size()))),
                     c.expected);
}

}  // namespace

// Logistic group models: coefficient recovery on a large sample, the choice
// of the event, and the groups that cannot be fitted.
#include <cmath>
#include <random>

#include "model_test_support.h"

namespace {

using namespace modeltest;
using splitmodels::GroupData;
using splitmodels::ModelKind;
using splitmodels::ModelSpec;

// y ~ Bernoulli(sigmoid(-0.5 + 1.2 x1 - 0.8 x2 + 0.7 [online] - 0.4 [phone])).
GroupData generated(int records, unsigned seed) {
  GroupData data;
  data.fields = {continuous("x1"), continuous("x2"), nominal("channel", {"store", "online", "phone"}),
                 nominal("bought", {"no", "yes"})};
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

ModelSpec logisticSpec(const std::string& event = "") {
  ModelSpec request;
  request.kind = ModelKind::Logistic;
  request.target = "bought";
  request.inputs = {"x1", "x2", "channel"};
  request.event = event;
  request.modelId = "g1";
  return request;
}

TEST(LogisticModel, RecoversCoefficientsOnALargeSample) {
  const auto model = splitmodels::buildGroupModel(generated(40000, 3), logisticSpec());
  ASSERT_TRUE(model.ok) << model.reason;
  const std::vector<std::pair<std::string, double>> expected = {
      {"(intercept)", -0.5}, {"x1", 1.2}, {"x2", -0.8}, {"channel=online", 0.7}, {"channel=phone", -0.4}};
  ASSERT_EQ(model.coefficients.size(), expected.size());
  for (std::size_t j = 0; j < expected.size(); ++j) {
    EXPECT_EQ(model.coefficients[j].first, expected[j].first);
    EXPECT_NEAR(model.coefficients[j].second, expected[j].second, 0.08) << expected[j].first;
  }
  EXPECT_EQ(model.records, 40000u);
  EXPECT_GT(model.auc, 0.75);
  EXPECT_LT(model.auc, 1.0);
  EXPECT_GT(model.accuracy, 0.65);
  EXPECT_LT(model.logLikelihood, 0.0);
  // The event defaults to the second value in sorted order.
  EXPECT_NE(model.pmml.find("targetCategory=\"yes\""), std::string::npos);
}

TEST(LogisticModel, NamingTheOtherValueAsEventNegatesTheFit) {
  const GroupData data = generated(3000, 5);
  const auto yes = splitmodels::buildGroupModel(data, logisticSpec("yes"));
  const auto no = splitmodels::buildGroupModel(data, logisticSpec("no"));
  ASSERT_TRUE(yes.ok && no.ok) << yes.reason << no.reason;
  for (std::size_t j = 0; j < yes.coefficients.size(); ++j)
    EXPECT_NEAR(yes.coefficients[j].second, -no.coefficients[j].second, 1e-7);
  EXPECT_NEAR(yes.logLikelihood, no.logLikelihood, 1e-7);
  EXPECT_NEAR(yes.auc, no.auc, 1e-12);
  for (std::size_t i = 0; i < yes.fitted.size(); ++i) EXPECT_NEAR(yes.fitted[i], 1.0 - no.fitted[i], 1e-9);
}

TEST(LogisticModel, UnfittableGroupsFailWithReason) {
  struct FailureCase {
    const char* title;
    std::vector<double> x;
    std::vector<const char*> y;
    std::string event;
    std::string reasonStart;
  };
  std::vector<double> xs;
  std::vector<const char*> separated, quasi, single, three;
  for (int i = -10; i <= 10; ++i) {
    xs.push_back(i);
    separated.push_back(i > 0 ? "b" : "a");
    quasi.push_back(i > 0 || i == 0 ? "b" : "a");
    single.push_back("a");
    three.push_back(i < -3 ? "a" : (i < 3 ? "b" : "c"));
  }
  std::vector<double> quasiX = xs;
  std::vector<const char*> quasiY = quasi;
  quasiX.push_back(0);  // the boundary holds both classes
  quasiY.push_back("a");
  const std::vector<FailureCase> cases = {
      {"complete separation", xs, separated, "", "separation: "},
      {"quasi-complete separation", quasiX, quasiY, "", "separation: "},
      {"a single class", xs, single, "", "single class: every record has y = a"},
      {"three classes", xs, three, "", "more than two classes: "},
      {"unknown event", xs, separated, "z", "event not found: z "},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.title);
    GroupData data;
    data.fields = {continuous("x"), nominal("y", {})};
    for (std::size_t i = 0; i < c.x.size(); ++i) data.rows.push_back({number(c.x[i]), text(c.y[i])});
    ModelSpec request;
    request.kind = ModelKind::Logistic;
    request.target = "y";
    request.inputs = {"x"};
    request.event = c.event;
    const auto model = splitmodels::buildGroupModel(data, request);
    EXPECT_FALSE(model.ok);
    EXPECT_EQ(model.reason.rfind(c.reasonStart, 0), 0u) << model.reason;
  }
}

TEST(LogisticModel, OverlappingClassesAreNotMistakenForSeparation) {
  // Strong but finite effect: extreme x values give probabilities near 0/1.
  GroupData data;
  data.fields = {continuous("x"), FieldDef{"y", splitmodels::StorageInteger, splitmodels::MeasureFlag, {"0", "1"}, {}}};
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 4000; ++i) {
    const double x = -6.0 + 12.0 * i / 4000.0;
    data.rows.push_back({number(x), number(unit(rng) < 1.0 / (1.0 + std::exp(-2.5 * x)) ? 1 : 0)});
  }
  ModelSpec request;
  request.kind = ModelKind::Logistic;
  request.target = "y";
  request.inputs = {"x"};
  const auto model = splitmodels::buildGroupModel(data, request);
  ASSERT_TRUE(model.ok) << model.reason;
  EXPECT_NEAR(model.coefficients[1].second, 2.5, 0.3);
  EXPECT_NE(model.pmml.find("targetCategory=\"1\""), std::string::npos);
}

}  // namespace

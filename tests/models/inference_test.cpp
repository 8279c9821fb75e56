// What is read off a fit besides its estimates: confidence intervals of the
// coefficients and their covariance, compared with R on its mtcars data.
//
// Reference values computed with R 4.2 and pasted with %.17g:
//   m <- lm(mpg ~ wt + hp + cyl, transform(mtcars, cyl = factor(cyl)))
//   confint(m); confint(m, level = 0.9); vcov(m)
//   g <- glm(am ~ wt + hp, binomial, mtcars)
//   confint.default(g); vcov(g)
//   vcov(lm(mpg ~ wt + wt2 + hp, transform(mtcars, wt2 = 2 * wt)), complete = FALSE)
//   qt(c(0.975, 0.995, 0.6), c(1, 3.5, 200)); qnorm(c(0.975, 1 - 1e-10))
#include <cmath>
#include <limits>

#include "model_test_support.h"

namespace {

using namespace modeltest;

TEST(StudentQuantile, MatchesR) {
  const struct {
    double p, df, expected;
  } cases[] = {{0.975, 1, 12.706204736174694},
               {0.995, 3.5, 5.0857022230912561},
               {0.6, 200, 0.25368437919014764},
               {0.025, 1, -12.706204736174707},
               {0.975, std::numeric_limits<double>::infinity(), 1.9599639845400536},
               {1 - 1e-10, std::numeric_limits<double>::infinity(), 6.3613408896974208}};
  for (const auto& c : cases)
    expectClose(splitmodels::studentQuantile(c.p, c.df), c.expected, 1e-8,
                "qt(" + std::to_string(c.p) + ", " + std::to_string(c.df) + ")");
  EXPECT_TRUE(std::isnan(splitmodels::studentQuantile(0.5, 0)));
  EXPECT_TRUE(std::isnan(splitmodels::confidenceInterval(1, kNA, 10, 0.95).low));
}

struct IntervalCase {
  const char* title;
  ModelKind kind;
  const char* target;
  std::vector<std::string> inputs;
  double level;
  double df;  // of the interval's quantile: residual df, or infinite for Wald
  std::vector<std::vector<double>> intervals;   // per term: low, high
  std::vector<std::vector<double>> covariance;  // estimated terms × estimated terms
};

std::vector<IntervalCase> intervalCases() {
  const std::vector<std::vector<double>> linearCovariance = {
      {4.1657588498606888, -1.1712468349610097, -0.01146310340200898, 0.88695864313486916, 2.9165532149333289},
      {-1.1712468349610097, 0.51782560227281715, -0.00014958628534029924, -0.42459727665921471, -0.86835312331691994},
      {-0.01146310340200898, -0.00014958628534029924, 0.00014285498943279428, -0.0055397391991833808,
       -0.017825973563615042},
      {0.88695864313486916, -0.42459727665921471, -0.0055397391991833808, 1.9646780019825301, 1.9700894309566226},
      {2.9165532149333289, -0.86835312331691994, -0.017825973563615042, 1.9700894309566226, 4.7109629831978301}};
  const double inf = std::numeric_limits<double>::infinity();
  return {
      {"linear with a factor", ModelKind::Linear, "mpg", {"wt", "hp", "cyl"}, 0.95, 27,
       {{31.658170099749743, 40.033820530625682},
        {-4.6579033425487504, -1.7049047508104815},
        {-0.047643689664266048, 0.0014040713553567265},
        {-6.2350136000074006, -0.48303619186450275},
        {-7.6393318796501521, 1.2675629896950995}},
       linearCovariance},
      {"linear at level 0.9", ModelKind::Linear, "mpg", {"wt", "hp", "cyl"}, 0.9, 27,
       {{32.369551113355996, 39.322439517019433},
        {-4.4070921191451848, -1.9557159742140473},
        {-0.043477846517251229, -0.0027617717916581033},
        {-5.7464727335260601, -0.97157705834584318},
        {-6.8828299276487384, 0.51106103769368572}},
       linearCovariance},
      {"logistic (Wald)", ModelKind::Logistic, "am", {"wt", "hp"}, 0.95, inf,
       {{4.277193002368934, 33.455404432039259},
        {-14.097967884286209, -2.0689824806030463},
        {0.0014972936304091175, 0.071013898534023984}},
       {{55.406556595646904, -22.037057580823092, 0.077817887803329502},
        {-22.037057580823092, 9.4167669494812518, -0.04183238803556439},
        {0.077817887803329502, -0.04183238803556439, 0.00031450020570909575}}},
      {"an aliased input has no covariance row", ModelKind::Linear, "mpg", {"wt", "wt2", "hp"}, 0.95, 29,
       {},
       {{2.5561215916621642, -0.73594514641847553, 0.0001484700526508522},
        {-0.73594514641847553, 0.40035167490702928, -0.0037636900190961358},
        {0.0001484700526508522, -0.0037636900190961358, 8.153565683024247e-05}}},
  };
}

TEST(Inference, IntervalsAndCovarianceMatchR) {
  const GroupData data = mtcarsColumns({"mpg", "wt", "wt2", "hp", "cyl", "am"});
  for (const IntervalCase& c : intervalCases()) {
    SCOPED_TRACE(c.title);
    const auto model = splitmodels::buildGroupModel(data, modelRequest(c.kind, c.target, c.inputs));
    ASSERT_TRUE(model.ok) << model.reason;
    std::vector<std::string> estimated;  // the covariance's terms
    for (const splitmodels::Term& term : model.terms)
      if (!std::isnan(term.estimate)) estimated.push_back(term.name);
    const std::size_t count = estimated.size();
    ASSERT_EQ(model.covariance.size(), count * count);
    for (std::size_t t = 0; t < c.intervals.size(); ++t) {
      const splitmodels::Term& term = model.terms[t];
      const auto interval = splitmodels::confidenceInterval(term.estimate, term.stdError, c.df, c.level);
      expectClose(interval.low, c.intervals[t][0], 1e-8, term.name + " low");
      expectClose(interval.high, c.intervals[t][1], 1e-8, term.name + " high");
    }
    ASSERT_EQ(c.covariance.size(), count);
    for (std::size_t a = 0; a < count; ++a)
      for (std::size_t b = 0; b < count; ++b)
        expectClose(model.covariance[a * count + b], c.covariance[a][b], 1e-8,
                    "vcov " + estimated[a] + ", " + estimated[b]);
  }
}

}  // namespace

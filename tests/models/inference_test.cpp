// What is read off a fit besides its estimates: confidence intervals of the
// coefficients and their covariance, compared with R on its mtcars data.
//
// The intervals and covariances are in tests/data/r/inference.tsv, written by
// reference.R there (the t quantiles behind them are checked with the other
// distribution functions).
#include <cmath>
#include <limits>

#include "model_test_support.h"

namespace {

using namespace modeltest;

TEST(Inference, IntervalsAndCovarianceMatchR) {
  // df: of the interval's quantile, residual df or infinite for Wald
  const struct {
    const char* title; ModelKind kind; const char* target; std::vector<std::string> inputs; double level, df;
  } cases[] = {
      {"linear with a factor", ModelKind::Linear, "mpg", {"wt", "hp", "cyl"}, 0.95, 27},
      {"linear at level 0.9", ModelKind::Linear, "mpg", {"wt", "hp", "cyl"}, 0.9, 27},
      {"logistic (Wald)", ModelKind::Logistic, "am", {"wt", "hp"}, 0.95, std::numeric_limits<double>::infinity()},
      {"an aliased input has no covariance row", ModelKind::Linear, "mpg", {"wt", "wt2", "hp"}, 0.95, 29},
  };
  const RValues values("inference");
  const GroupData data = mtcarsColumns({"mpg", "wt", "wt2", "hp", "cyl", "am"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const auto r = [&](const std::string& quantity) { return values(c.title, quantity); };
    const auto model = splitmodels::buildGroupModel(data, modelRequest(c.kind, c.target, c.inputs));
    ASSERT_TRUE(model.ok) << model.reason;
    std::vector<std::string> estimated;  // the covariance's terms
    for (const splitmodels::Term& term : model.terms)
      if (!std::isnan(term.estimate)) estimated.push_back(term.name);
    const std::size_t count = estimated.size();
    ASSERT_EQ(model.covariance.size(), count * count);
    const std::vector<std::string> intervals = values.suffixes(c.title, "low ");
    for (std::size_t t = 0; t < intervals.size(); ++t) {
      const splitmodels::Term& term = model.terms[t];
      EXPECT_EQ(term.name, intervals[t]);
      const auto interval = splitmodels::confidenceInterval(term.estimate, term.stdError, c.df, c.level);
      expectClose(interval.low, r("low " + intervals[t]), 1e-8, term.name + " low");
      expectClose(interval.high, r("high " + intervals[t]), 1e-8, term.name + " high");
    }
    ASSERT_EQ(values.suffixes(c.title, "vcov ").size(), count * count);
    for (std::size_t a = 0; a < count; ++a)
      for (std::size_t b = 0; b < count; ++b)
        expectClose(model.covariance[a * count + b], r("vcov " + estimated[a] + " " + estimated[b]), 1e-8,
                    "vcov " + estimated[a] + ", " + estimated[b]);
  }
}

}  // namespace

// Intervals read off a fit: quantiles of Student's t and the normal
// distribution, and the confidence interval of one coefficient.
#pragma once

namespace splitmodels {

// The p quantile (0 < p < 1) of Student's t with `df` degrees of freedom;
// an infinite `df` gives the standard normal quantile. NaN for df <= 0 or
// NaN arguments.
double studentQuantile(double p, double df);

struct Interval {
  double low = 0.0;
  double high = 0.0;
};

// estimate ± q · stdError with q the (1 + level) / 2 quantile of t on `df`
// degrees of freedom: R's confint for a linear model. An infinite `df`
// gives the Wald interval of confint.default. NaN bounds when the standard
// error is missing.
Interval confidenceInterval(double estimate, double stdError, double df, double level);

}  // namespace splitmodels

// Intervals read off a fit: quantiles of Student's t and the normal
// distribution, the confidence interval of one coefficient, and a glm's
// deviance residuals.
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

// The error distribution of a generalised linear model (the quasi
// families have their base one).
enum class Distribution { Normal, Binomial, Poisson, Gamma, InverseGaussian };

// R's deviance residual of one record: sign(y − μ) · √d with d the
// record's share of the deviance at prior weight `weight` (y a proportion
// for the binomial).
double devianceResidual(Distribution distribution, double y, double mu, double weight);

}  // namespace splitmodels

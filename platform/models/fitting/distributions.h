// Tail probabilities of the distributions the fits' tests use. Pure
// functions, safe from any thread.
#pragma once

namespace splitmodels::detail {

// The regularized incomplete beta function I_x(a, b) for a, b > 0 and x in
// [0, 1]; `y` must be 1 − x, passed separately so that callers can keep the
// precision of whichever of the two they computed directly.
double regularizedBeta(double a, double b, double x, double y);

// P(|T| > |t|) for Student's t with `df` > 0 degrees of freedom.
double studentTwoSided(double t, double df);
// P(F > f) for the F distribution with (df1, df2) degrees of freedom.
double fUpperTail(double f, double df1, double df2);
// P(|Z| > |z|) for the standard normal distribution.
double normalTwoSided(double z);

// log Γ(v) for v > 0. Unlike std::lgamma it does not write the global
// signgam, so fits on several threads do not race on it.
double logGamma(double v);

}  // namespace splitmodels::detail

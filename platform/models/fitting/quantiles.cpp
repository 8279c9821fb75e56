#include <cmath>
#include <limits>

#include "distributions.h"
#include "splitmodels/inference.h"

namespace splitmodels {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;

// P(T > t) for t >= 0.
double upperTail(double t, double df) {
  if (std::isinf(df)) return 0.5 * std::erfc(t / std::sqrt(2.0));
  return 0.5 * detail::studentTwoSided(t, df);
}

double logDensity(double t, double df) {
  if (std::isinf(df)) return -0.5 * t * t - 0.5 * std::log(2.0 * kPi);
  return detail::logGamma((df + 1.0) / 2.0) - detail::logGamma(df / 2.0) - 0.5 * std::log(df * kPi) -
         (df + 1.0) / 2.0 * std::log1p(t * t / df);
}

// The t >= 0 with P(T > t) = tail (0 < tail <= 1/2): the bracket is widened
// until it holds the root, then Newton steps on the tail are taken while they
// stay inside it, bisection otherwise.
double upperQuantile(double tail, double df) {
  double low = 0.0, high = 1.0;
  while (upperTail(high, df) > tail) {
    low = high;
    high *= 2.0;
    if (std::isinf(high)) return high;
  }
  double t = (low + high) / 2.0;
  for (int step = 0; step < 200; ++step) {
    const double excess = upperTail(t, df) - tail;
    if (excess > 0)
      low = t;
    else
      high = t;
    double next = t + excess / std::exp(logDensity(t, df));
    if (!(next > low && next < high)) next = (low + high) / 2.0;
    if (std::fabs(next - t) <= 1e-15 * std::fabs(next) || high - low <= 1e-15 * high) return next;
    t = next;
  }
  return t;
}

}  // namespace

double studentQuantile(double p, double df) {
  if (std::isnan(p) || std::isnan(df) || !(df > 0.0)) return kMissing;
  if (p <= 0.0) return -std::numeric_limits<double>::infinity();
  if (p >= 1.0) return std::numeric_limits<double>::infinity();
  if (p == 0.5) return 0.0;
  // Intervals ask for the same quantile for every term of a group, and most
  // groups of a run share their degrees of freedom: each thread keeps its
  // last answer rather than solving for it again.
  thread_local double lastP = kMissing, lastDf = kMissing, lastQuantile = kMissing;
  if (p == lastP && df == lastDf) return lastQuantile;
  lastQuantile = p > 0.5 ? upperQuantile(1.0 - p, df) : -upperQuantile(p, df);
  lastP = p;
  lastDf = df;
  return lastQuantile;
}

Interval confidenceInterval(double estimate, double stdError, double df, double level) {
  if (!std::isfinite(stdError)) return {kMissing, kMissing};
  const double q = -studentQuantile((1.0 - level) / 2.0, df);  // as R's confint computes it
  return {estimate - q * stdError, estimate + q * stdError};
}

}  // namespace splitmodels

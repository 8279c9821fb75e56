#include "distributions.h"

#include <math.h>

#include <cmath>
#include <limits>

namespace splitmodels::detail {

namespace {

// Continued fraction of I_x(a, b) (valid for x < (a + 1) / (a + b + 2)),
// evaluated by the modified Lentz method.
double betaFraction(double a, double b, double x) {
  constexpr double kTiny = 1e-300;
  constexpr double kEpsilon = 1e-16;
  constexpr int kMaxTerms = 100000;
  const auto guard = [](double v) { return std::fabs(v) < kTiny ? kTiny : v; };
  double c = 1.0;
  double d = 1.0 / guard(1.0 - (a + b) * x / (a + 1.0));
  double h = d;
  for (int m = 1; m <= kMaxTerms; ++m) {
    const double m2 = 2.0 * m;
    // Even step.
    double term = m * (b - m) * x / ((a + m2 - 1.0) * (a + m2));
    d = 1.0 / guard(1.0 + term * d);
    c = guard(1.0 + term / c);
    h *= d * c;
    // Odd step.
    term = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1.0));
    d = 1.0 / guard(1.0 + term * d);
    c = guard(1.0 + term / c);
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < kEpsilon) break;
  }
  return h;
}


// log(x^a y^b / B(a, b)), the prefactor of both fraction forms. The log
// gammas depend on the degrees of freedom alone, which most groups of a run
// share: each thread keeps the last pair's.
double logPrefactor(double a, double b, double x, double y) {
  thread_local double lastA = std::numeric_limits<double>::quiet_NaN(), lastB = lastA, lastLogBeta = lastA;
  if (a != lastA || b != lastB) {
    lastLogBeta = logGamma(a + b) - logGamma(a) - logGamma(b);
    lastA = a;
    lastB = b;
  }
  return lastLogBeta + a * std::log(x) + b * std::log(y);
}

}  // namespace

double regularizedBeta(double a, double b, double x, double y) {
  if (std::isnan(x) || std::isnan(y) || !(a > 0.0) || !(b > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  if (x <= 0.0) return 0.0;
  if (y <= 0.0) return 1.0;
  const double prefactor = std::exp(logPrefactor(a, b, x, y));
  // The fraction converges fast on its own side of the mean; the other side
  // follows from I_x(a, b) = 1 − I_y(b, a).
  if (x < (a + 1.0) / (a + b + 2.0)) return prefactor * betaFraction(a, b, x) / a;
  return 1.0 - prefactor * betaFraction(b, a, y) / b;
}

double studentTwoSided(double t, double df) {
  if (std::isnan(t) || !(df > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  if (std::isinf(t)) return 0.0;
  // P(|T| > |t|) = I_{df/(df+t²)}(df/2, 1/2).
  const double t2 = t * t;
  if (std::isinf(t2)) return 0.0;
  return regularizedBeta(df / 2.0, 0.5, df / (df + t2), t2 / (df + t2));
}

double fUpperTail(double f, double df1, double df2) {
  if (std::isnan(f) || !(df1 > 0.0) || !(df2 > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  if (f <= 0.0) return 1.0;
  if (std::isinf(f)) return 0.0;
  // P(F > f) = I_{df2/(df2+df1 f)}(df2/2, df1/2).
  const double scaled = df1 * f;
  if (std::isinf(scaled)) return 0.0;
  return regularizedBeta(df2 / 2.0, df1 / 2.0, df2 / (df2 + scaled), scaled / (df2 + scaled));
}

double normalTwoSided(double z) {
  if (std::isnan(z)) return z;
  return std::erfc(std::fabs(z) / std::sqrt(2.0));
}

double logGamma(double v) {
  int sign = 0;
  return ::lgamma_r(v, &sign);
}

}  // namespace splitmodels::detail

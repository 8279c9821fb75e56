#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <type_traits>

#include "distributions.h"
#include "glm_family.h"
#include "splitmodels/inference.h"

namespace splitmodels::detail {

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559005768;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The error of Stirling's approximation, log(n!) − log(√(2πn)(n/e)ⁿ). Up to
// 15 it is taken from the log gamma function in extended precision, above
// from the series.
double stirlingErrorFromLogGamma(double n) {
  const long double m = n;
  int sign = 0;  // lgammal_r: std::lgamma writes the global signgam, a race between fits
  return static_cast<double>(::lgammal_r(m + 1.0L, &sign) - (m + 0.5L) * std::log(m) + m -
                             0.918938533204672741780329736405617639861L);
}

double stirlingError(double n) {
  if (n <= 15.0) {
    // Counts are mostly small whole numbers: the values at multiples of 1/2
    // are computed once, by the same formula.
    static const std::array<double, 31> halves = [] {
      std::array<double, 31> table{};
      for (std::size_t k = 1; k < table.size(); ++k) table[k] = stirlingErrorFromLogGamma(0.5 * static_cast<double>(k));
      return table;
    }();
    const double twice = 2.0 * n;
    if (twice >= 1.0 && twice == std::floor(twice)) return halves[static_cast<std::size_t>(twice)];
    return stirlingErrorFromLogGamma(n);
  }
  const double nn = n * n;
  constexpr double s0 = 1.0 / 12, s1 = 1.0 / 360, s2 = 1.0 / 1260, s3 = 1.0 / 1680, s4 = 1.0 / 1188;
  if (n > 500) return (s0 - s1 / nn) / n;
  if (n > 80) return (s0 - (s1 - s2 / nn) / nn) / n;
  if (n > 35) return (s0 - (s1 - (s2 - s3 / nn) / nn) / nn) / n;
  return (s0 - (s1 - (s2 - (s3 - s4 / nn) / nn) / nn) / nn) / n;
}

// x log(x / np) + np − x, summed as a series where the two are close so
// that it keeps its precision.
double devianceTerm(double x, double np) {
  if (std::fabs(x - np) < 0.1 * (x + np)) {
    double v = (x - np) / (x + np);
    double s = (x - np) * v;
    if (std::fabs(s) < DBL_MIN) return s;
    double ej = 2 * x * v;
    v *= v;
    for (int j = 1; j < 1000; ++j) {
      ej *= v;
      const double next = s + ej / (2 * j + 1);
      if (next == s) return next;
      s = next;
    }
  }
  return x * std::log(x / np) + np - x;
}

double logPoissonRaw(double x, double lambda) {
  if (lambda == 0) return x == 0 ? 0.0 : -HUGE_VAL;
  if (!std::isfinite(lambda) || x < 0) return -HUGE_VAL;
  if (x <= lambda * DBL_MIN) return -lambda;
  if (lambda < x * DBL_MIN) {
    if (!std::isfinite(x)) return -HUGE_VAL;
    return -lambda + x * std::log(lambda) - logGamma(x + 1);
  }
  return -0.5 * std::log(kTwoPi * x) - stirlingError(x) - devianceTerm(x, lambda);
}

bool notInteger(double x) { return std::fabs(x - std::nearbyint(x)) > 1e-7 * std::fmax(1.0, std::fabs(x)); }

bool binomialFamily(FamilyKind family) {
  return family == FamilyKind::Binomial || family == FamilyKind::QuasiBinomial;
}

bool poissonFamily(FamilyKind family) { return family == FamilyKind::Poisson || family == FamilyKind::QuasiPoisson; }

double yLogY(double y, double mu) { return y != 0.0 ? y * std::log(y / mu) : 0.0; }

}  // namespace

double logBinomialDensity(double x, double n, double p) {
  if (notInteger(x) || notInteger(n) || x < 0 || x > n) return -HUGE_VAL;
  x = std::nearbyint(x);
  n = std::nearbyint(n);
  const double q = 1.0 - p;
  if (p == 0) return x == 0 ? 0.0 : -HUGE_VAL;
  if (q == 0) return x == n ? 0.0 : -HUGE_VAL;
  if (x == 0) {
    if (n == 0) return 0.0;
    return p < 0.1 ? -devianceTerm(n, n * q) - n * p : n * std::log(q);
  }
  if (x == n) return q < 0.1 ? -devianceTerm(n, n * p) - n * q : n * std::log(p);
  const double lc = stirlingError(n) - stirlingError(x) - stirlingError(n - x) - devianceTerm(x, n * p) -
                    devianceTerm(n - x, n * q);
  const double lf = std::log(kTwoPi) + std::log(x) + std::log1p(-x / n);
  return lc - 0.5 * lf;
}

double logPoissonDensity(double x, double lambda) {
  if (notInteger(x) || x < 0) return -HUGE_VAL;
  return logPoissonRaw(std::nearbyint(x), lambda);
}

double logGammaDensity(double x, double shape, double scale) {
  if (x < 0) return -HUGE_VAL;
  if (shape == 0) return x == 0 ? HUGE_VAL : -HUGE_VAL;
  if (x == 0) {
    if (shape < 1) return HUGE_VAL;
    if (shape > 1) return -HUGE_VAL;
    return -std::log(scale);
  }
  if (shape < 1) {
    const double ratio = shape / x;
    return logPoissonRaw(shape, x / scale) + (std::isfinite(ratio) ? std::log(ratio) : std::log(shape) - std::log(x));
  }
  return logPoissonRaw(shape - 1, x / scale) - std::log(scale);
}

std::string familyName(FamilyKind family) {
  switch (family) {
    case FamilyKind::Gaussian: return "gaussian";
    case FamilyKind::Binomial: return "binomial";
    case FamilyKind::Poisson: return "poisson";
    case FamilyKind::Gamma: return "Gamma";
    case FamilyKind::InverseGaussian: return "inverse.gaussian";
    case FamilyKind::QuasiBinomial: return "quasibinomial";
    case FamilyKind::QuasiPoisson: return "quasipoisson";
  }
  return "";
}

std::optional<FamilyKind> familyFromName(const std::string& name) {
  for (FamilyKind family : {FamilyKind::Gaussian, FamilyKind::Binomial, FamilyKind::Poisson, FamilyKind::Gamma,
                            FamilyKind::InverseGaussian, FamilyKind::QuasiBinomial, FamilyKind::QuasiPoisson})
    if (familyName(family) == name) return family;
  return std::nullopt;
}

const std::vector<LinkKind>& familyLinks(FamilyKind family) {
  using L = LinkKind;
  static const std::vector<LinkKind> gaussian{L::Identity, L::Log, L::Inverse};
  static const std::vector<LinkKind> binomial{L::Logit, L::Probit, L::Cauchit, L::Log, L::Cloglog};
  static const std::vector<LinkKind> poisson{L::Log, L::Identity, L::Sqrt};
  static const std::vector<LinkKind> gamma{L::Inverse, L::Identity, L::Log};
  static const std::vector<LinkKind> inverseGaussian{L::InverseSquare, L::Inverse, L::Identity, L::Log};
  switch (family) {
    case FamilyKind::Gaussian: return gaussian;
    case FamilyKind::Binomial:
    case FamilyKind::QuasiBinomial: return binomial;
    case FamilyKind::Poisson:
    case FamilyKind::QuasiPoisson: return poisson;
    case FamilyKind::Gamma: return gamma;
    case FamilyKind::InverseGaussian: return inverseGaussian;
  }
  return gaussian;
}

std::optional<std::string> initialiseFamily(FamilyKind family, LinkKind link, GlmResponse& response) {
  std::vector<double>& y = response.y;
  const std::size_t n = y.size();
  // A cbind() response brings its trials; any other has one per record.
  const bool counted = response.trials.size() == n;
  if (!counted) response.trials.assign(n, 1.0);
  response.muStart = y;
  if (family == FamilyKind::Gaussian) {
    for (double value : y)
      if ((link == LinkKind::Inverse && value == 0) || (link == LinkKind::Log && value <= 0))
        return std::string("cannot find valid starting values: the response holds values outside the link's range");
    return std::nullopt;
  }
  if (binomialFamily(family)) {
    for (std::size_t i = 0; i < n; ++i) {
      if (response.weights[i] == 0) y[i] = 0;
      if (y[i] < 0 || y[i] > 1) return std::string("y values must be 0 <= y <= 1");
      // R starts from the trials alone when the response counts them, and
      // from the prior weights otherwise.
      const double m = counted ? response.trials[i] : response.weights[i];
      response.muStart[i] = (m * y[i] + 0.5) / (m + 1);
    }
    return std::nullopt;
  }
  if (poissonFamily(family)) {
    for (std::size_t i = 0; i < n; ++i) {
      if (y[i] < 0)
        return "negative values not allowed for the '" +
               std::string(family == FamilyKind::Poisson ? "Poisson" : "quasiPoisson") + "' family";
      response.muStart[i] = y[i] + 0.1;
    }
    return std::nullopt;
  }
  for (double value : y)
    if (value <= 0)
      return std::string(family == FamilyKind::Gamma ? "non-positive values not allowed for the 'Gamma' family"
                                                     : "positive values only are allowed for the 'inverse.gaussian' family");
  return std::nullopt;
}

namespace {

// The variance function, the valid means and the deviance residual of one
// family, chosen at compile time so that loops over records carry no switch.
template <FamilyKind F>
double varianceOf(double mu) {
  if constexpr (F == FamilyKind::Binomial || F == FamilyKind::QuasiBinomial) return mu * (1.0 - mu);
  if constexpr (F == FamilyKind::Poisson || F == FamilyKind::QuasiPoisson) return mu;
  if constexpr (F == FamilyKind::Gamma) return mu * mu;
  if constexpr (F == FamilyKind::InverseGaussian) return mu * mu * mu;
  return 1.0;
}

template <FamilyKind F>
bool validMuOf(double mu) {
  if constexpr (F == FamilyKind::Binomial || F == FamilyKind::QuasiBinomial)
    return std::isfinite(mu) && mu > 0 && mu < 1;
  if constexpr (F == FamilyKind::Poisson || F == FamilyKind::QuasiPoisson || F == FamilyKind::Gamma)
    return std::isfinite(mu) && mu > 0;
  return true;
}

template <FamilyKind F>
double devianceResidualOf(double y, double mu, double weight) {
  if constexpr (F == FamilyKind::Gaussian) return weight * (y - mu) * (y - mu);
  if constexpr (F == FamilyKind::Binomial || F == FamilyKind::QuasiBinomial)
    return 2.0 * weight * (yLogY(y, mu) + yLogY(1.0 - y, 1.0 - mu));
  if constexpr (F == FamilyKind::Poisson || F == FamilyKind::QuasiPoisson)
    return 2.0 * (y > 0 ? weight * (y * std::log(y / mu) - (y - mu)) : mu * weight);
  if constexpr (F == FamilyKind::Gamma) return -2.0 * weight * (std::log(y == 0 ? 1.0 : y / mu) - (y - mu) / mu);
  if constexpr (F == FamilyKind::InverseGaussian) return weight * (y - mu) * (y - mu) / (y * mu * mu);
}

// Calls f with the family as a compile-time constant.
template <class Fn>
decltype(auto) withFamily(FamilyKind family, Fn&& f) {
  using F = FamilyKind;
  switch (family) {
    case F::Gaussian: return f(std::integral_constant<F, F::Gaussian>{});
    case F::Binomial: return f(std::integral_constant<F, F::Binomial>{});
    case F::Poisson: return f(std::integral_constant<F, F::Poisson>{});
    case F::Gamma: return f(std::integral_constant<F, F::Gamma>{});
    case F::InverseGaussian: return f(std::integral_constant<F, F::InverseGaussian>{});
    case F::QuasiBinomial: return f(std::integral_constant<F, F::QuasiBinomial>{});
    case F::QuasiPoisson: return f(std::integral_constant<F, F::QuasiPoisson>{});
  }
  return f(std::integral_constant<F, F::Gaussian>{});
}

}  // namespace

double familyVariance(FamilyKind family, double mu) {
  return withFamily(family, [mu](auto f) { return varianceOf<decltype(f)::value>(mu); });
}

bool validMu(FamilyKind family, double mu) {
  return withFamily(family, [mu](auto f) { return validMuOf<decltype(f)::value>(mu); });
}

double devianceResidual(FamilyKind family, double y, double mu, double weight) {
  return withFamily(family, [=](auto f) { return devianceResidualOf<decltype(f)::value>(y, mu, weight); });
}

void familyVariances(FamilyKind family, const double* mu, double* out, std::size_t n) {
  withFamily(family, [&](auto f) {
    for (std::size_t i = 0; i < n; ++i) out[i] = varianceOf<decltype(f)::value>(mu[i]);
  });
}

bool validMus(FamilyKind family, const double* mu, std::size_t n) {
  return withFamily(family, [&](auto f) {
    for (std::size_t i = 0; i < n; ++i)
      if (!validMuOf<decltype(f)::value>(mu[i])) return false;
    return true;
  });
}

double devianceSum(FamilyKind family, const double* y, const double* mu, const double* weight, std::size_t n) {
  return withFamily(family, [&](auto f) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += devianceResidualOf<decltype(f)::value>(y[i], mu[i], weight[i]);
    return sum;
  });
}

double poissonLogLinkDeviance(const double* y, const double* logY, const double* eta, const double* mu,
                              const double* weight, std::size_t n) {
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!(y[i] > 0) || !(mu[i] > DBL_EPSILON)) {
      sum += devianceResidualOf<FamilyKind::Poisson>(y[i], mu[i], weight[i]);
      continue;
    }
    sum += 2.0 * (weight[i] * (y[i] * (logY[i] - eta[i]) - (y[i] - mu[i])));
  }
  return sum;
}

bool fixedDispersion(FamilyKind family) {
  return family == FamilyKind::Binomial || family == FamilyKind::Poisson;
}

double familyAic(FamilyKind family, const GlmResponse& response, const std::vector<double>& mu, double deviance) {
  const std::vector<double>& y = response.y;
  const std::vector<double>& wt = response.weights;
  const std::size_t n = y.size();
  double weightSum = 0.0;
  for (double w : wt) weightSum += w;
  switch (family) {
    case FamilyKind::Gaussian: {
      const double records = static_cast<double>(n);
      double logWeights = 0.0;
      for (double w : wt) logWeights += std::log(w);
      return records * (std::log(deviance / records * kTwoPi) + 1.0) + 2.0 - logWeights;
    }
    case FamilyKind::Binomial: {
      bool trials = false;
      for (double t : response.trials) trials = trials || t > 1;
      double sum = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        const double m = trials ? response.trials[i] : wt[i];
        if (m > 0) sum += wt[i] / m * logBinomialDensity(std::nearbyint(m * y[i]), std::nearbyint(m), mu[i]);
      }
      return -2.0 * sum;
    }
    case FamilyKind::Poisson: {
      double sum = 0.0;
      for (std::size_t i = 0; i < n; ++i)
        if (wt[i] != 0) sum += logPoissonDensity(y[i], mu[i]) * wt[i];
      return -2.0 * sum;
    }
    case FamilyKind::Gamma: {
      const double dispersion = deviance / weightSum;
      double sum = 0.0;
      for (std::size_t i = 0; i < n; ++i)
        if (wt[i] != 0) sum += logGammaDensity(y[i], 1.0 / dispersion, mu[i] * dispersion) * wt[i];
      return -2.0 * sum + 2.0;
    }
    case FamilyKind::InverseGaussian: {
      double logY = 0.0;
      for (std::size_t i = 0; i < n; ++i) logY += std::log(y[i]) * wt[i];
      return weightSum * (1.0 + std::log(deviance / weightSum * kTwoPi)) + 3.0 * logY + 2.0;
    }
    case FamilyKind::QuasiBinomial:
    case FamilyKind::QuasiPoisson: return kNaN;
  }
  return kNaN;
}

}  // namespace splitmodels::detail

namespace splitmodels {

double devianceResidual(Distribution distribution, double y, double mu, double weight) {
  using detail::FamilyKind;
  const FamilyKind family = distribution == Distribution::Binomial          ? FamilyKind::Binomial
                            : distribution == Distribution::Poisson         ? FamilyKind::Poisson
                            : distribution == Distribution::Gamma           ? FamilyKind::Gamma
                            : distribution == Distribution::InverseGaussian ? FamilyKind::InverseGaussian
                                                                            : FamilyKind::Gaussian;
  // Rounding can leave a record's share of the deviance slightly negative.
  const double share = std::max(detail::devianceResidual(family, y, mu, weight), 0.0);
  return y > mu ? std::sqrt(share) : -std::sqrt(share);
}

}  // namespace splitmodels

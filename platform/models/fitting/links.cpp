#include <cfloat>
#include <cmath>
#include <type_traits>

#include "glm_family.h"

namespace splitmodels::detail {

namespace {

constexpr double kPi = 3.141592653589793238462643383279502884;
constexpr double kSqrt2 = 1.414213562373095048801688724209698079;
// The logit's inverse holds η within ±30, as R's binomial family does.
constexpr double kLogitLimit = 30.0;

double normalCdf(double x) { return 0.5 * std::erfc(-x / kSqrt2); }

double normalDensity(double x) { return std::exp(-0.5 * x * x) / std::sqrt(2.0 * kPi); }

// The standard normal quantile: a rational start refined by Newton steps on
// the tail probability, which erfc gives to full precision.
double normalQuantile(double p) {
  if (p <= 0.0) return -HUGE_VAL;
  if (p >= 1.0) return HUGE_VAL;
  const double tail = std::min(p, 1.0 - p);
  const double t = std::sqrt(-2.0 * std::log(tail));
  double z = -(t - (2.515517 + 0.802853 * t + 0.010328 * t * t) /
                       (1.0 + 1.432788 * t + 0.189269 * t * t + 0.001308 * t * t * t));
  for (int step = 0; step < 6; ++step) {
    const double f = 0.5 * std::erfc(-z / kSqrt2) - tail;
    const double move = f / normalDensity(z);
    z -= move;
    if (std::fabs(move) <= 1e-17 * std::fabs(z)) break;
  }
  return p < 0.5 ? z : -z;
}

double cauchyCdf(double x) {
  if (std::fabs(x) > 1.0) {
    const double y = std::atan(1.0 / x) / kPi;
    return x > 0 ? 1.0 - y : -y;
  }
  return 0.5 + std::atan(x) / kPi;
}

double cauchyQuantile(double p) {
  if (p == 0.5) return 0.0;
  if (p > 0.5) return 1.0 / std::tan(kPi * (1.0 - p));
  return -1.0 / std::tan(kPi * p);
}

// Where the probit and cauchit links hold η, as R does: the quantiles of
// machine epsilon.
const double kProbitLimit = -normalQuantile(DBL_EPSILON);
const double kCauchitLimit = -cauchyQuantile(DBL_EPSILON);

double clamp(double x, double limit) { return std::fmin(std::fmax(x, -limit), limit); }

}  // namespace

std::string linkName(LinkKind link) {
  switch (link) {
    case LinkKind::Identity: return "identity";
    case LinkKind::Log: return "log";
    case LinkKind::Inverse: return "inverse";
    case LinkKind::InverseSquare: return "1/mu^2";
    case LinkKind::Sqrt: return "sqrt";
    case LinkKind::Logit: return "logit";
    case LinkKind::Probit: return "probit";
    case LinkKind::Cauchit: return "cauchit";
    case LinkKind::Cloglog: return "cloglog";
  }
  return "";
}

std::optional<LinkKind> linkFromName(const std::string& name) {
  for (LinkKind link : {LinkKind::Identity, LinkKind::Log, LinkKind::Inverse, LinkKind::InverseSquare, LinkKind::Sqrt,
                        LinkKind::Logit, LinkKind::Probit, LinkKind::Cauchit, LinkKind::Cloglog})
    if (linkName(link) == name) return link;
  return std::nullopt;
}

double linkFunction(LinkKind link, double mu) {
  switch (link) {
    case LinkKind::Identity: return mu;
    case LinkKind::Log: return std::log(mu);
    case LinkKind::Inverse: return 1.0 / mu;
    case LinkKind::InverseSquare: return 1.0 / (mu * mu);
    case LinkKind::Sqrt: return std::sqrt(mu);
    case LinkKind::Logit: return std::log(mu / (1.0 - mu));
    case LinkKind::Probit: return normalQuantile(mu);
    case LinkKind::Cauchit: return cauchyQuantile(mu);
    case LinkKind::Cloglog: return std::log(-std::log(1.0 - mu));
  }
  return mu;
}

namespace {

// g⁻¹(η) of one link, chosen at compile time so that loops over records
// carry no switch.
template <LinkKind L>
double inverseLinkOf(double eta) {
  if constexpr (L == LinkKind::Identity) return eta;
  if constexpr (L == LinkKind::Log) return std::fmax(std::exp(eta), DBL_EPSILON);
  if constexpr (L == LinkKind::Inverse) return 1.0 / eta;
  if constexpr (L == LinkKind::InverseSquare) return 1.0 / std::sqrt(eta);
  if constexpr (L == LinkKind::Sqrt) return eta * eta;
  if constexpr (L == LinkKind::Logit) {
    const double e = eta < -kLogitLimit ? DBL_EPSILON : eta > kLogitLimit ? 1.0 / DBL_EPSILON : std::exp(eta);
    return e / (1.0 + e);
  }
  if constexpr (L == LinkKind::Probit) return normalCdf(clamp(eta, kProbitLimit));
  if constexpr (L == LinkKind::Cauchit) return cauchyCdf(clamp(eta, kCauchitLimit));
  if constexpr (L == LinkKind::Cloglog)
    return std::fmax(std::fmin(-std::expm1(-std::exp(eta)), 1.0 - DBL_EPSILON), DBL_EPSILON);
}

template <LinkKind L>
double inverseLinkDerivativeOf(double eta) {
  if constexpr (L == LinkKind::Identity) return 1.0;
  if constexpr (L == LinkKind::Log) return std::fmax(std::exp(eta), DBL_EPSILON);
  if constexpr (L == LinkKind::Inverse) return -1.0 / (eta * eta);
  if constexpr (L == LinkKind::InverseSquare) return -1.0 / (2.0 * std::pow(eta, 1.5));
  if constexpr (L == LinkKind::Sqrt) return 2.0 * eta;
  if constexpr (L == LinkKind::Logit) {
    if (eta > kLogitLimit || eta < -kLogitLimit) return DBL_EPSILON;
    const double e = std::exp(eta);
    return e / ((1.0 + e) * (1.0 + e));
  }
  if constexpr (L == LinkKind::Probit) return std::fmax(normalDensity(eta), DBL_EPSILON);
  if constexpr (L == LinkKind::Cauchit) return std::fmax(1.0 / (kPi * (1.0 + eta * eta)), DBL_EPSILON);
  if constexpr (L == LinkKind::Cloglog) {
    const double e = std::exp(std::fmin(eta, 700.0));
    return std::fmax(e * std::exp(-e), DBL_EPSILON);
  }
}

template <LinkKind L>
bool validEtaOf(double eta) {
  if constexpr (L == LinkKind::Inverse) return std::isfinite(eta) && eta != 0.0;
  if constexpr (L == LinkKind::InverseSquare || L == LinkKind::Sqrt) return std::isfinite(eta) && eta > 0.0;
  return true;
}

// Calls f with the link as a compile-time constant.
template <class F>
decltype(auto) withLink(LinkKind link, F&& f) {
  using L = LinkKind;
  switch (link) {
    case L::Identity: return f(std::integral_constant<L, L::Identity>{});
    case L::Log: return f(std::integral_constant<L, L::Log>{});
    case L::Inverse: return f(std::integral_constant<L, L::Inverse>{});
    case L::InverseSquare: return f(std::integral_constant<L, L::InverseSquare>{});
    case L::Sqrt: return f(std::integral_constant<L, L::Sqrt>{});
    case L::Logit: return f(std::integral_constant<L, L::Logit>{});
    case L::Probit: return f(std::integral_constant<L, L::Probit>{});
    case L::Cauchit: return f(std::integral_constant<L, L::Cauchit>{});
    case L::Cloglog: return f(std::integral_constant<L, L::Cloglog>{});
  }
  return f(std::integral_constant<L, L::Identity>{});
}

}  // namespace

double inverseLink(LinkKind link, double eta) {
  return withLink(link, [eta](auto l) { return inverseLinkOf<decltype(l)::value>(eta); });
}

double inverseLinkDerivative(LinkKind link, double eta) {
  return withLink(link, [eta](auto l) { return inverseLinkDerivativeOf<decltype(l)::value>(eta); });
}

bool validEta(LinkKind link, double eta) {
  return withLink(link, [eta](auto l) { return validEtaOf<decltype(l)::value>(eta); });
}

void inverseLinks(LinkKind link, const double* eta, double* mu, std::size_t n) {
  withLink(link, [&](auto l) {
    for (std::size_t i = 0; i < n; ++i) mu[i] = inverseLinkOf<decltype(l)::value>(eta[i]);
  });
}

void inverseLinkDerivatives(LinkKind link, const double* eta, double* out, std::size_t n) {
  withLink(link, [&](auto l) {
    for (std::size_t i = 0; i < n; ++i) out[i] = inverseLinkDerivativeOf<decltype(l)::value>(eta[i]);
  });
}

bool validEtas(LinkKind link, const double* eta, std::size_t n) {
  return withLink(link, [&](auto l) {
    for (std::size_t i = 0; i < n; ++i)
      if (!validEtaOf<decltype(l)::value>(eta[i])) return false;
    return true;
  });
}

}  // namespace splitmodels::detail

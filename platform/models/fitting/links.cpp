#include <cfloat>
#include <cmath>

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

double inverseLink(LinkKind link, double eta) {
  switch (link) {
    case LinkKind::Identity: return eta;
    case LinkKind::Log: return std::fmax(std::exp(eta), DBL_EPSILON);
    case LinkKind::Inverse: return 1.0 / eta;
    case LinkKind::InverseSquare: return 1.0 / std::sqrt(eta);
    case LinkKind::Sqrt: return eta * eta;
    case LinkKind::Logit: {
      const double e = eta < -kLogitLimit ? DBL_EPSILON : eta > kLogitLimit ? 1.0 / DBL_EPSILON : std::exp(eta);
      return e / (1.0 + e);
    }
    case LinkKind::Probit: return normalCdf(clamp(eta, kProbitLimit));
    case LinkKind::Cauchit: return cauchyCdf(clamp(eta, kCauchitLimit));
    case LinkKind::Cloglog: return std::fmax(std::fmin(-std::expm1(-std::exp(eta)), 1.0 - DBL_EPSILON), DBL_EPSILON);
  }
  return eta;
}

double inverseLinkDerivative(LinkKind link, double eta) {
  switch (link) {
    case LinkKind::Identity: return 1.0;
    case LinkKind::Log: return std::fmax(std::exp(eta), DBL_EPSILON);
    case LinkKind::Inverse: return -1.0 / (eta * eta);
    case LinkKind::InverseSquare: return -1.0 / (2.0 * std::pow(eta, 1.5));
    case LinkKind::Sqrt: return 2.0 * eta;
    case LinkKind::Logit: {
      if (eta > kLogitLimit || eta < -kLogitLimit) return DBL_EPSILON;
      const double e = std::exp(eta);
      return e / ((1.0 + e) * (1.0 + e));
    }
    case LinkKind::Probit: return std::fmax(normalDensity(eta), DBL_EPSILON);
    case LinkKind::Cauchit: return std::fmax(1.0 / (kPi * (1.0 + eta * eta)), DBL_EPSILON);
    case LinkKind::Cloglog: {
      const double e = std::exp(std::fmin(eta, 700.0));
      return std::fmax(e * std::exp(-e), DBL_EPSILON);
    }
  }
  return 1.0;
}

bool validEta(LinkKind link, double eta) {
  switch (link) {
    case LinkKind::Inverse: return std::isfinite(eta) && eta != 0.0;
    case LinkKind::InverseSquare:
    case LinkKind::Sqrt: return std::isfinite(eta) && eta > 0.0;
    default: return true;
  }
}

}  // namespace splitmodels::detail

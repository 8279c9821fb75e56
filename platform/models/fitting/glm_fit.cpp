#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "covariance.h"
#include "design.h"
#include "distributions.h"
#include "fits.h"
#include "pivoted_qr.h"

namespace splitmodels::detail {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
// A fitted mean within this of 0 (or 1) is "numerically 0 (or 1)".
constexpr double kBoundary = 10.0 * DBL_EPSILON;

void addWarning(std::vector<std::string>& warnings, const std::string& text) {
  if (std::find(warnings.begin(), warnings.end(), text) == warnings.end()) warnings.push_back(text);
}

// The iteration's data and state, all per record of the design.
struct Iteration {
  const Eigen::MatrixXd& x;
  const GlmResponse& response;
  const Eigen::VectorXd& offset;
  const GlmSettings& settings;
  Eigen::VectorXd beta;  // 0 for aliased columns
  Eigen::VectorXd eta;
  Eigen::VectorXd mu;
  double deviance = 0.0;
  std::vector<double> logY;  // log y where y > 0, for Poisson models under the log link

  double devianceAt(const Eigen::VectorXd& means) const {
    return devianceSum(settings.family, response.y.data(), means.data(), response.weights.data(),
                       static_cast<std::size_t>(means.size()));
  }

  // The deviance at the current η and μ = g⁻¹(η).
  double devianceHere() const {
    if (logY.empty()) return devianceAt(mu);
    return poissonLogLinkDeviance(response.y.data(), logY.data(), eta.data(), mu.data(), response.weights.data(),
                                  static_cast<std::size_t>(mu.size()));
  }

  void evaluate() {
    eta.noalias() = x * beta;
    if (offset.size() > 0) eta += offset;
    inverseLinks(settings.link, eta.data(), mu.data(), static_cast<std::size_t>(eta.size()));
    deviance = devianceHere();
  }

  bool valid() const {
    const auto n = static_cast<std::size_t>(eta.size());
    return validEtas(settings.link, eta.data(), n) && validMus(settings.family, mu.data(), n);
  }
};

// The weighted least-squares step of one iteration: the working response and
// weights of the records that carry information, and their QR. Its vectors
// and the QR's storage keep their size from one iteration to the next.
struct Step {
  std::vector<Eigen::Index> rows;  // records of positive weight and dμ/dη ≠ 0
  Eigen::VectorXd weight;          // working weights' square roots, per such record
  Eigen::VectorXd working;         // working response times the weight, per such record
  Eigen::VectorXd variance;        // V(μ), per record
  Eigen::VectorXd derivative;      // dμ/dη, per record
  PivotedQr qr;

  // Fills rows, weight and working from the iteration's state; R's reason
  // when a variance or derivative is unusable.
  std::optional<std::string> weigh(const Iteration& it, LinkKind link, FamilyKind family) {
    const Eigen::Index n = it.eta.size();
    const auto count = static_cast<std::size_t>(n);
    variance.resize(n);
    derivative.resize(n);
    weight.resize(n);
    working.resize(n);
    rows.resize(count);
    familyVariances(family, it.mu.data(), variance.data(), count);
    // The log link's dμ/dη is μ itself (both held at machine epsilon).
    if (link == LinkKind::Log)
      derivative = it.mu;
    else
      inverseLinkDerivatives(link, it.eta.data(), derivative.data(), count);
    const std::vector<double>& prior = it.response.weights;
    const std::vector<double>& y = it.response.y;
    const bool offset = it.offset.size() > 0;
    Eigen::Index good = 0;
    for (Eigen::Index i = 0; i < n; ++i) {
      const double w = prior[static_cast<std::size_t>(i)];
      if (w <= 0) continue;
      const double v = variance(i);
      if (std::isnan(v)) return std::string("NAs in V(mu)");
      if (v == 0) return std::string("0s in V(mu)");
      const double d = derivative(i);
      if (std::isnan(d)) return std::string("NAs in d(mu)/d(eta)");
      if (d == 0) continue;
      const double root = std::sqrt(w * d * d / v);
      rows[static_cast<std::size_t>(good)] = i;
      weight(good) = root;
      const double residual = y[static_cast<std::size_t>(i)] - it.mu(i);
      working(good) = ((it.eta(i) - (offset ? it.offset(i) : 0.0)) + residual / d) * root;
      ++good;
    }
    rows.resize(static_cast<std::size_t>(good));
    weight.conservativeResize(good);
    working.conservativeResize(good);
    return std::nullopt;
  }

  // Factorises the weighted design of the rows kept, written straight into
  // the QR's storage.
  void factorise(const Eigen::MatrixXd& x, double tolerance) {
    const auto good = static_cast<Eigen::Index>(rows.size());
    Eigen::MatrixXd& weighted = qr.qr;
    weighted.resize(good, x.cols());
    if (good == x.rows()) {  // every record informs the step: no rows to pick
      for (Eigen::Index j = 0; j < x.cols(); ++j) weighted.col(j) = x.col(j).cwiseProduct(weight);
    } else {
      for (Eigen::Index j = 0; j < x.cols(); ++j)
        for (Eigen::Index k = 0; k < good; ++k) weighted(k, j) = x(rows[static_cast<std::size_t>(k)], j) * weight(k);
    }
    factorisePivotedInPlace(qr, tolerance);
  }
};

}  // namespace

std::optional<std::string> fitGlm(const Eigen::MatrixXd& x, GlmResponse response, const Eigen::VectorXd& offset,
                                  const GlmSettings& settings, GlmFit& fit, const std::vector<double>& muStart) {
  const Eigen::Index n = x.rows(), p = x.cols();
  if (auto reason = checkRecordCount(static_cast<std::size_t>(n), static_cast<std::size_t>(p))) return reason;
  for (double w : response.weights)
    if (w < 0) return std::string("negative weights not allowed");
  if (auto reason = initialiseFamily(settings.family, settings.link, response)) return reason;
  if (!muStart.empty()) response.muStart = muStart;
  Eigen::MatrixXd scaled = x;
  const Eigen::VectorXd columnScale = scaleColumnsByPowersOfTwo(scaled);
  const double aliasTolerance = std::min(1e-7, settings.epsilon / 1000.0);
  const FamilyKind family = settings.family;
  const LinkKind link = settings.link;

  Iteration it{scaled, response, offset, settings, Eigen::VectorXd::Zero(p), {}, {}, 0.0, {}};
  it.eta.resize(n);
  it.mu.resize(n);
  for (Eigen::Index i = 0; i < n; ++i) it.eta(i) = linkFunction(link, response.muStart[static_cast<std::size_t>(i)]);
  inverseLinks(link, it.eta.data(), it.mu.data(), static_cast<std::size_t>(n));
  if (!it.valid()) return std::string("cannot find valid starting values: please specify some");
  if ((family == FamilyKind::Poisson || family == FamilyKind::QuasiPoisson) && link == LinkKind::Log) {
    it.logY.resize(response.y.size());
    for (std::size_t i = 0; i < response.y.size(); ++i) it.logY[i] = response.y[i] > 0 ? std::log(response.y[i]) : 0.0;
  }
  double previousDeviance = it.devianceHere();
  std::optional<Eigen::VectorXd> previous;
  bool boundary = false;
  Step step;
  Eigen::VectorXd stepStart, kept;
  for (fit.iterations = 1; fit.iterations <= settings.maxIterations; ++fit.iterations) {
    if (fit.iterations > 1) stepStart = it.beta;
    if (auto reason = step.weigh(it, link, family)) return reason;
    if (step.rows.empty()) {
      fit.converged = false;
      addWarning(fit.warnings, "no observations informative at iteration " + std::to_string(fit.iterations));
      break;
    }
    step.factorise(scaled, aliasTolerance);
    step.qr.applyQtInPlace(step.working);
    kept = step.qr.solve(step.working);
    if (!kept.allFinite()) {
      fit.converged = false;
      addWarning(fit.warnings, "non-finite coefficients at iteration " + std::to_string(fit.iterations));
      break;
    }
    it.beta.setZero();
    for (Eigen::Index k = 0; k < step.qr.rank; ++k) it.beta(step.qr.pivot[static_cast<std::size_t>(k)]) = kept(k);
    it.evaluate();
    boundary = false;
    if (!std::isfinite(it.deviance)) {
      if (!previous) return std::string("no valid set of coefficients has been found: please supply starting values");
      addWarning(fit.warnings, "step size truncated due to divergence");
      for (int halving = 1; !std::isfinite(it.deviance); ++halving) {
        if (halving > settings.maxIterations) return std::string("inner loop 1; cannot correct step size");
        it.beta = (it.beta + *previous) / 2.0;
        it.evaluate();
      }
      boundary = true;
    }
    if (!it.valid()) {
      if (!previous) return std::string("no valid set of coefficients has been found: please supply starting values");
      addWarning(fit.warnings, "step size truncated: out of bounds");
      for (int halving = 1; !it.valid(); ++halving) {
        if (halving > settings.maxIterations) return std::string("inner loop 2; cannot correct step size");
        it.beta = (it.beta + *previous) / 2.0;
        it.evaluate();
      }
      boundary = true;
    }
    if (std::fabs(it.deviance - previousDeviance) / (std::fabs(it.deviance) + 0.1) < settings.epsilon) {
      fit.converged = true;
      break;
    }
    previousDeviance = it.deviance;
    previous = it.beta;
  }
  fit.iterations = std::min(fit.iterations, settings.maxIterations);
  if (!fit.converged) addWarning(fit.warnings, "glm.fit: algorithm did not converge");
  if (boundary) addWarning(fit.warnings, "glm.fit: algorithm stopped at boundary value");
  if (family == FamilyKind::Binomial &&
      ((it.mu.array() > 1.0 - kBoundary).any() || (it.mu.array() < kBoundary).any()))
    addWarning(fit.warnings, "glm.fit: fitted probabilities numerically 0 or 1 occurred");
  if (family == FamilyKind::Poisson && (it.mu.array() < kBoundary).any())
    addWarning(fit.warnings, "glm.fit: fitted rates numerically 0 occurred");

  // Degrees of freedom count the records of positive prior weight.
  double informative = 0.0, weightSum = 0.0, weightedY = 0.0;
  for (std::size_t i = 0; i < response.y.size(); ++i) {
    if (response.weights[i] != 0) informative += 1.0;
    weightSum += response.weights[i];
    weightedY += response.weights[i] * response.y[i];
  }
  const Eigen::Index rank = step.qr.rank;
  fit.dfResidual = informative - static_cast<double>(rank);
  fit.dfNull = informative - 1.0;
  fit.deviance = it.deviance;
  fit.mu = it.mu;
  fit.eta = it.eta;
  fit.nullDeviance = it.devianceAt(Eigen::VectorXd::Constant(n, weightedY / weightSum));

  // Pearson's dispersion: the last step's working weights against the
  // working residuals at the final fit.
  const bool estimated = !fixedDispersion(family);
  if (!estimated) {
    fit.dispersion = 1.0;
  } else if (fit.dfResidual > 0) {
    double pearson = 0.0;
    for (Eigen::Index k = 0; k < static_cast<Eigen::Index>(step.rows.size()); ++k) {
      const Eigen::Index i = step.rows[static_cast<std::size_t>(k)];
      const double residual = (response.y[static_cast<std::size_t>(i)] - it.mu(i)) / inverseLinkDerivative(link, it.eta(i));
      pearson += step.weight(k) * step.weight(k) * residual * residual;
    }
    fit.dispersion = pearson / fit.dfResidual;
  } else {
    fit.dispersion = kMissing;
  }
  std::vector<double> mu(fit.mu.data(), fit.mu.data() + n);
  fit.aic = familyAic(family, response, mu, fit.deviance) + 2.0 * static_cast<double>(rank);
  const bool freeScale = family == FamilyKind::Gaussian || family == FamilyKind::Gamma ||
                         family == FamilyKind::InverseGaussian;
  fit.logLikelihood = static_cast<double>(rank + (freeScale ? 1 : 0)) - fit.aic / 2.0;

  Coefficients& c = fit.coefficients;
  c.rank = rank;
  c.estimate = c.stdError = c.statistic = c.pValue = Eigen::VectorXd::Constant(p, kMissing);
  const Eigen::MatrixXd inverseR = step.qr.inverseR();
  const Eigen::VectorXd unscaledVariance = PivotedQr::inverseGramDiagonal(inverseR);
  c.covarianceColumns = keptColumns(step.qr);
  c.covariance = coefficientCovariance(step.qr, inverseR, columnScale, fit.dispersion);
  c.stepStart = unscaledStart(stepStart, step.qr, columnScale);
  for (Eigen::Index k = 0; k < rank; ++k) {
    const Eigen::Index j = step.qr.pivot[static_cast<std::size_t>(k)];
    c.estimate(j) = it.beta(j) * columnScale(j);
    if (!std::isfinite(c.estimate(j)))
      return std::string("coefficients too large to represent: an estimate is not a finite number");
    c.stdError(j) = std::sqrt(fit.dispersion * unscaledVariance(k)) * columnScale(j);
    if (!std::isfinite(c.stdError(j))) {
      c.stdError(j) = kMissing;
      continue;
    }
    c.statistic(j) = c.estimate(j) / c.stdError(j);
    c.pValue(j) = estimated ? studentTwoSided(c.statistic(j), fit.dfResidual) : normalTwoSided(c.statistic(j));
  }
  return std::nullopt;
}

}  // namespace splitmodels::detail

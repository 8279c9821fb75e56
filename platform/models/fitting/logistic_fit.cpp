#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <numeric>

#include "covariance.h"
#include "design.h"
#include "distributions.h"
#include "fits.h"
#include "pivoted_qr.h"

namespace splitmodels::detail {

namespace {

// The iteration follows R's glm.fit for the binomial family with the logit
// link, so that estimates, standard errors and deviances agree with glm.
constexpr int kMaxIterations = 25;
constexpr double kConvergence = 1e-8;  // relative change of the deviance
// glm's weighted least-squares steps alias at min(1e-7, epsilon / 1000).
constexpr double kAliasTolerance = 1e-11;
// The linear predictor beyond which the inverse link and its derivative
// are held constant, as R's binomial family does.
constexpr double kEtaLimit = 30.0;
// A fitted probability within this of 0 or 1 is "numerically 0 or 1".
constexpr double kBoundary = 10.0 * DBL_EPSILON;
constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
// Separation check: steps taken past the fit, and the move of the linear
// predictor per step that marks a divergent estimate. At a finite optimum
// further steps move it by rounding error only; when the estimate does not
// exist each step moves the separated records by about one unit.
constexpr int kProbeSteps = 25;
constexpr int kDivergentStreak = 5;
constexpr double kDivergentMove = 0.1;
constexpr double kSettledMove = 1e-6;

double inverseLink(double eta) {
  const double e = eta < -kEtaLimit ? DBL_EPSILON : eta > kEtaLimit ? 1.0 / DBL_EPSILON : std::exp(eta);
  return e / (1.0 + e);
}

double linkDerivative(double eta) {
  if (eta > kEtaLimit || eta < -kEtaLimit) return DBL_EPSILON;
  const double e = std::exp(eta);
  return e / ((1.0 + e) * (1.0 + e));
}

double deviance(const Eigen::VectorXd& y, const Eigen::VectorXd& mu) {
  double sum = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) sum += y(i) > 0.5 ? -std::log(mu(i)) : -std::log1p(-mu(i));
  return 2.0 * sum;
}

// The state of the iteration: coefficients (0 for aliased columns), linear
// predictor, fitted probabilities and deviance.
struct State {
  Eigen::VectorXd beta;
  Eigen::VectorXd eta;
  Eigen::VectorXd mu;
  double deviance = 0.0;
};

void evaluate(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, State& state) {
  state.eta = x * state.beta;
  state.mu = state.eta.unaryExpr([](double t) { return inverseLink(t); });
  state.deviance = deviance(y, state.mu);
}

// One reweighted least-squares step from `state`: the working response and
// weights at its fit, solved by the pivoted QR. Returns false when the
// solution is not finite.
bool reweightedStep(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, const State& state, PivotedQr& qr,
                    Eigen::VectorXd& beta) {
  const Eigen::Index n = x.rows();
  Eigen::VectorXd weight(n), response(n);
  for (Eigen::Index i = 0; i < n; ++i) {
    const double derivative = linkDerivative(state.eta(i));
    const double mu = state.mu(i);
    weight(i) = std::sqrt(derivative * derivative / (mu * (1.0 - mu)));
    response(i) = (state.eta(i) + (y(i) - mu) / derivative) * weight(i);
  }
  // The weighted design is written straight into the QR's storage, which
  // keeps its size from one step to the next.
  qr.qr.resize(n, x.cols());
  for (Eigen::Index j = 0; j < x.cols(); ++j) qr.qr.col(j) = x.col(j).cwiseProduct(weight);
  factorisePivotedInPlace(qr, kAliasTolerance);
  qr.applyQtInPlace(response);
  const Eigen::VectorXd kept = qr.solve(response);
  if (!kept.allFinite()) return false;
  beta = Eigen::VectorXd::Zero(x.cols());
  for (Eigen::Index k = 0; k < qr.rank; ++k) beta(qr.pivot[static_cast<std::size_t>(k)]) = kept(k);
  return true;
}

// Takes the step to `beta`, halving it back towards `previous` while the
// deviance is not finite. Returns false when no such step exists.
bool takeStep(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, const Eigen::VectorXd* previous,
              Eigen::VectorXd beta, State& state) {
  state.beta = std::move(beta);
  evaluate(x, y, state);
  for (int halving = 0; !std::isfinite(state.deviance); ++halving) {
    if (previous == nullptr || halving >= kMaxIterations) return false;
    state.beta = (state.beta + *previous) / 2.0;
    evaluate(x, y, state);
  }
  return true;
}

// Whether the estimate diverges: keeps stepping past the fit and watches
// the linear predictor. Steps that keep moving it by a sizeable amount
// while the deviance does not rise mean the maximum does not exist.
bool diverges(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, State state) {
  int streak = 0;
  PivotedQr qr;
  for (int step = 0; step < kProbeSteps; ++step) {
    Eigen::VectorXd beta;
    if (!reweightedStep(x, y, state, qr, beta)) return true;
    const Eigen::VectorXd before = state.eta;
    const double deviance = state.deviance;
    if (!takeStep(x, y, &state.beta, beta, state)) return true;
    const double move = (state.eta - before).cwiseAbs().maxCoeff();
    if (move < kSettledMove) return false;
    streak = move > kDivergentMove && state.deviance <= deviance * (1.0 + 1e-12) ? streak + 1 : 0;
    if (streak >= kDivergentStreak) return true;
  }
  return false;
}

}  // namespace

double areaUnderCurve(const Eigen::VectorXd& score, const Eigen::VectorXd& label) {
  const Eigen::Index n = score.size();
  std::vector<Eigen::Index> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](Eigen::Index a, Eigen::Index b) { return score(a) < score(b); });
  double positives = 0.0, rankSum = 0.0;
  for (std::size_t i = 0; i < order.size();) {
    std::size_t j = i;
    while (j < order.size() && score(order[j]) == score(order[i])) ++j;
    const double averageRank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2.0;
    for (std::size_t k = i; k < j; ++k)
      if (label(order[k]) > 0.5) {
        rankSum += averageRank;
        positives += 1.0;
      }
    i = j;
  }
  const double negatives = static_cast<double>(n) - positives;
  if (positives == 0.0 || negatives == 0.0) return 0.5;
  return (rankSum - positives * (positives + 1.0) / 2.0) / (positives * negatives);
}

std::optional<std::string> fitLogistic(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, LogisticFit& fit) {
  const Eigen::Index n = x.rows(), p = x.cols();
  if (auto reason = checkRecordCount(static_cast<std::size_t>(n), static_cast<std::size_t>(p))) return reason;
  Eigen::MatrixXd scaled = x;
  const Eigen::VectorXd columnScale = scaleColumnsByPowersOfTwo(scaled);

  // glm's start: the probabilities (y + 1/2) / 2.
  State state;
  state.mu = (y.array() + 0.5) / 2.0;
  state.eta = (state.mu.array() / (1.0 - state.mu.array())).log();
  double previousDeviance = deviance(y, state.mu);
  std::optional<Eigen::VectorXd> previous;
  PivotedQr qr;
  Eigen::VectorXd stepStart;
  for (fit.iterations = 1; fit.iterations <= kMaxIterations; ++fit.iterations) {
    if (fit.iterations > 1) stepStart = state.beta;
    Eigen::VectorXd beta;
    if (!reweightedStep(scaled, y, state, qr, beta))
      return "coefficients too large to represent: no finite least-squares step at iteration " +
             std::to_string(fit.iterations);
    if (!takeStep(scaled, y, previous ? &*previous : nullptr, std::move(beta), state))
      return std::string("no valid coefficients: the deviance is not finite at any step");
    if (std::fabs(state.deviance - previousDeviance) / (std::fabs(state.deviance) + 0.1) < kConvergence) {
      fit.converged = true;
      break;
    }
    previousDeviance = state.deviance;
    previous = state.beta;
  }
  fit.iterations = std::min(fit.iterations, kMaxIterations);
  for (Eigen::Index i = 0; i < n; ++i)
    if (state.mu(i) > 1.0 - kBoundary || state.mu(i) < kBoundary) fit.boundary = true;
  if ((fit.boundary || !fit.converged) && diverges(scaled, y, state))
    return std::string("separation: the records are (quasi-)completely separated, so the coefficients diverge");

  // Standard errors from the last least-squares step, as summary.glm takes
  // them: the dispersion of the binomial family is 1, so they need no
  // residual degrees of freedom.
  Coefficients& c = fit.coefficients;
  c.rank = qr.rank;
  c.estimate = c.stdError = c.statistic = c.pValue = Eigen::VectorXd::Constant(p, kMissing);
  const Eigen::MatrixXd inverseR = qr.inverseR();
  const Eigen::VectorXd unscaledVariance = PivotedQr::inverseGramDiagonal(inverseR);
  const double dfResidual = static_cast<double>(n - qr.rank);
  c.covarianceColumns = keptColumns(qr);
  c.covariance = coefficientCovariance(qr, inverseR, columnScale, 1.0);
  c.stepStart = unscaledStart(stepStart, qr, columnScale);
  for (Eigen::Index k = 0; k < qr.rank; ++k) {
    const Eigen::Index j = qr.pivot[static_cast<std::size_t>(k)];
    c.estimate(j) = state.beta(j) * columnScale(j);
    if (!std::isfinite(c.estimate(j)))
      return std::string("coefficients too large to represent: an estimate is not a finite number");
    c.stdError(j) = std::sqrt(unscaledVariance(k)) * columnScale(j);
    if (!std::isfinite(c.stdError(j))) {  // beyond the double range: no usable statistic
      c.stdError(j) = kMissing;
      continue;
    }
    c.statistic(j) = c.estimate(j) / c.stdError(j);
    c.pValue(j) = normalTwoSided(c.statistic(j));
  }

  fit.probability = state.mu;
  fit.deviance = state.deviance;
  const double share = y.mean();
  fit.nullDeviance = deviance(y, Eigen::VectorXd::Constant(n, share));
  fit.dfResidual = dfResidual;
  fit.dfNull = static_cast<double>(n - 1);
  // For 0/1 records the binomial log-likelihood is −deviance / 2.
  fit.logLikelihood = -fit.deviance / 2.0;
  fit.aic = fit.deviance + 2.0 * static_cast<double>(qr.rank);
  double right = 0.0;
  for (Eigen::Index i = 0; i < n; ++i) right += (fit.probability(i) > 0.5) == (y(i) > 0.5) ? 1.0 : 0.0;
  fit.accuracy = right / static_cast<double>(n);
  fit.auc = areaUnderCurve(fit.probability, y);
  return std::nullopt;
}

}  // namespace splitmodels::detail

#include <algorithm>
#include <cmath>
#include <numeric>

#include "design.h"
#include "fits.h"

namespace splitmodels::detail {

namespace {

constexpr int kMaxIterations = 50;
constexpr double kConvergence = 1e-10;  // relative change of the deviance
constexpr int kMaxHalvings = 40;
// A fitted probability this close to 0 or 1 only arises when the
// coefficients run away (|eta| > 27.6).
constexpr double kProbabilityEdge = 1e-12;
// At a finite optimum Newton's next step is vanishingly small; under
// separation it keeps moving the linear predictor by about one unit.
constexpr double kDivergingStep = 1e-2;

// log(1 + e^t) without overflow.
double softplus(double t) { return std::max(t, 0.0) + std::log1p(std::exp(-std::fabs(t))); }

double sigmoid(double t) {
  if (t >= 0) return 1.0 / (1.0 + std::exp(-t));
  const double e = std::exp(t);
  return e / (1.0 + e);
}

double deviance(const Eigen::VectorXd& y, const Eigen::VectorXd& eta) {
  double sum = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) sum += y(i) > 0.5 ? softplus(-eta(i)) : softplus(eta(i));
  return 2.0 * sum;
}

// Newton step of the log-likelihood at eta: (Z'WZ)⁻¹ Z'(y − μ).
Eigen::VectorXd newtonStep(const Eigen::MatrixXd& z, const Eigen::VectorXd& y, const Eigen::VectorXd& eta) {
  Eigen::VectorXd weight(eta.size());
  Eigen::VectorXd residual(eta.size());
  for (Eigen::Index i = 0; i < eta.size(); ++i) {
    const double e = std::exp(-std::fabs(eta(i)));
    weight(i) = e / ((1.0 + e) * (1.0 + e));
    residual(i) = y(i) - sigmoid(eta(i));
  }
  const Eigen::MatrixXd information = z.transpose() * weight.asDiagonal() * z;
  const Eigen::VectorXd gradient = z.transpose() * residual;
  const Eigen::LDLT<Eigen::MatrixXd> ldlt(information);
  if (ldlt.info() == Eigen::Success && ldlt.isPositive()) {
    Eigen::VectorXd step = ldlt.solve(gradient);
    if (step.allFinite()) return step;
  }
  // Nearly singular information: solve the weighted least-squares form.
  const Eigen::VectorXd root = weight.cwiseSqrt();
  const Eigen::MatrixXd weighted = root.asDiagonal() * z;
  Eigen::VectorXd working(eta.size());
  for (Eigen::Index i = 0; i < eta.size(); ++i) working(i) = root(i) > 0 ? residual(i) / root(i) : 0.0;
  return weighted.colPivHouseholderQr().solve(working);
}

bool probabilitiesAtEdge(const Eigen::VectorXd& eta) {
  for (Eigen::Index i = 0; i < eta.size(); ++i) {
    const double p = sigmoid(eta(i));
    if (p < kProbabilityEdge || p > 1.0 - kProbabilityEdge) return true;
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

std::optional<std::string> fitLogistic(const Eigen::MatrixXd& x, const Eigen::VectorXd& y,
                                       const std::vector<std::string>& names, LogisticFit& fit) {
  const auto n = static_cast<std::size_t>(x.rows());
  const auto p = static_cast<std::size_t>(x.cols());
  if (auto reason = checkRecordCount(n, p)) return reason;
  const ScaledDesign scaled = scaleDesign(x);
  if (auto reason = findCollinearColumn(scaled, names)) return reason;
  const Eigen::MatrixXd& z = scaled.z;

  // Start from the intercept-only fit: the log-odds of the event share.
  const double share = y.mean();
  Eigen::VectorXd gamma = Eigen::VectorXd::Zero(z.cols());
  gamma(0) = std::log(share / (1.0 - share));
  Eigen::VectorXd eta = z * gamma;
  double dev = deviance(y, eta);
  bool converged = false;
  for (fit.iterations = 1; fit.iterations <= kMaxIterations; ++fit.iterations) {
    const Eigen::VectorXd step = newtonStep(z, y, eta);
    double length = 1.0;
    Eigen::VectorXd nextGamma, nextEta;
    double nextDev = dev;
    int halvings = 0;
    for (; halvings <= kMaxHalvings; ++halvings, length /= 2.0) {
      nextGamma = gamma + length * step;
      nextEta = z * nextGamma;
      nextDev = deviance(y, nextEta);
      if (std::isfinite(nextDev) && nextDev <= dev) break;
    }
    if (halvings > kMaxHalvings) {  // no step improves: we are at the optimum
      converged = true;
      break;
    }
    const double change = std::fabs(dev - nextDev) / (std::fabs(nextDev) + 0.1);
    gamma = nextGamma;
    eta = nextEta;
    dev = nextDev;
    if (change < kConvergence) {
      converged = true;
      break;
    }
  }
  fit.iterations = std::min(fit.iterations, kMaxIterations);

  // Separation: probabilities already at the edge, or Newton still pushing
  // the linear predictor by whole units and a few more such steps (8) would
  // put it there. At a finite optimum the next step is negligible.
  const Eigen::VectorXd lastMove = z * newtonStep(z, y, eta);
  const double drift = lastMove.cwiseAbs().maxCoeff();
  if (probabilitiesAtEdge(eta) || (drift > kDivergingStep && probabilitiesAtEdge(eta + 8.0 * lastMove)))
    return std::string("separation: fitted probabilities reach 0 or 1 and the coefficients diverge");
  if (!converged)
    return "no convergence: deviance still changing after " + std::to_string(kMaxIterations) + " iterations";

  fit.beta = scaled.unscale(gamma);
  const Eigen::VectorXd rawEta = x * fit.beta;
  fit.probability = rawEta.unaryExpr([](double t) { return sigmoid(t); });
  fit.logLikelihood = -dev / 2.0;
  double right = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) right += (fit.probability(i) > 0.5) == (y(i) > 0.5) ? 1.0 : 0.0;
  fit.accuracy = right / static_cast<double>(n);
  fit.auc = areaUnderCurve(fit.probability, y);
  return std::nullopt;
}

}  // namespace splitmodels::detail

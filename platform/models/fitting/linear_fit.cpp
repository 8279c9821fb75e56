#include <cmath>
#include <limits>

#include "covariance.h"
#include "design.h"
#include "distributions.h"
#include "fits.h"
#include "pivoted_qr.h"

namespace splitmodels::detail {

namespace {

// A column whose norm, once the columns before it are projected out, is
// below this share of its own norm is aliased.
constexpr double kAliasTolerance = 1e-7;
constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

}  // namespace

std::optional<std::string> fitLinear(Eigen::MatrixXd x, const Eigen::VectorXd& y, LinearFit& fit) {
  const Eigen::Index n = x.rows(), p = x.cols();
  if (auto reason = checkRecordCount(static_cast<std::size_t>(n), static_cast<std::size_t>(p))) return reason;
  // Exact power-of-two scaling keeps inputs near the ends of the double
  // range from overflowing the sums of squares.
  Eigen::MatrixXd& scaled = x;
  const Eigen::VectorXd columnScale = scaleColumnsByPowersOfTwo(scaled);
  const double targetScale = powerOfTwoScale(y);
  const Eigen::VectorXd ys = y * targetScale;

  const PivotedQr qr = factorisePivoted(scaled, kAliasTolerance);
  const Eigen::Index rank = qr.rank;
  const Eigen::VectorXd qty = qr.applyQt(ys);
  const Eigen::VectorXd kept = qr.solve(qty);
  const double rss = qty.tail(n - rank).squaredNorm();
  const double dfResidual = static_cast<double>(n - rank);
  const double residualVariance = dfResidual > 0 ? rss / dfResidual : kMissing;
  const Eigen::MatrixXd inverseR = qr.inverseR();
  const Eigen::VectorXd unscaledVariance = PivotedQr::inverseGramDiagonal(inverseR);

  Coefficients& c = fit.coefficients;
  c.rank = rank;
  c.estimate = c.stdError = c.statistic = c.pValue = Eigen::VectorXd::Constant(p, kMissing);
  Eigen::VectorXd scaledBeta = Eigen::VectorXd::Zero(p);
  for (Eigen::Index k = 0; k < rank; ++k) {
    const Eigen::Index j = qr.pivot[static_cast<std::size_t>(k)];
    scaledBeta(j) = kept(k);
    const double toOriginal = columnScale(j) / targetScale;
    c.estimate(j) = kept(k) * toOriginal;
    c.stdError(j) = std::sqrt(unscaledVariance(k) * residualVariance) * toOriginal;
    // A standard error beyond the double range gives no usable statistic.
    if (!std::isfinite(c.stdError(j))) {
      c.stdError(j) = kMissing;
      continue;
    }
    c.statistic(j) = c.estimate(j) / c.stdError(j);
    c.pValue(j) = studentTwoSided(c.statistic(j), dfResidual);
  }
  c.covarianceColumns = keptColumns(qr);
  c.covariance = coefficientCovariance(qr, inverseR, columnScale / targetScale, residualVariance);
  for (Eigen::Index k = 0; k < rank; ++k) {
    const Eigen::Index j = qr.pivot[static_cast<std::size_t>(k)];
    if (!std::isfinite(c.estimate(j)))
      return "coefficients too large to represent: the fit of " + std::string(j == 0 ? "the intercept" : "a column") +
             " is not a finite number";
  }
  const Eigen::VectorXd fittedScaled = scaled * scaledBeta;
  fit.fitted = fittedScaled / targetScale;

  // R's summary of lm, for a model with an intercept.
  fit.dfResidual = dfResidual;
  fit.sigma = std::sqrt(residualVariance) / targetScale;
  if (!std::isfinite(fit.sigma)) fit.sigma = kMissing;  // beyond the double range
  if (rank == 1) {  // only the intercept: nothing is explained
    fit.rSquared = fit.adjustedRSquared = 0.0;
    fit.fStatistic = fit.fDf1 = fit.fPValue = kMissing;
    return std::nullopt;
  }
  const double mss = (fittedScaled.array() - fittedScaled.mean()).matrix().squaredNorm();
  fit.rSquared = mss / (mss + rss);
  fit.adjustedRSquared = 1.0 - (1.0 - fit.rSquared) * (static_cast<double>(n - 1) / dfResidual);
  fit.fDf1 = static_cast<double>(rank - 1);
  fit.fStatistic = (mss / fit.fDf1) / residualVariance;
  fit.fPValue = fUpperTail(fit.fStatistic, fit.fDf1, dfResidual);
  if (dfResidual == 0) fit.adjustedRSquared = fit.fStatistic = fit.fPValue = kMissing;
  return std::nullopt;
}

}  // namespace splitmodels::detail

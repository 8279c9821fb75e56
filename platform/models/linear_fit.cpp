#include <cmath>

#include "design.h"
#include "fits.h"

namespace splitmodels::detail {

std::optional<std::string> fitLinear(const Eigen::MatrixXd& x, const Eigen::VectorXd& y,
                                     const std::vector<std::string>& names, LinearFit& fit) {
  const auto n = static_cast<std::size_t>(x.rows());
  const auto p = static_cast<std::size_t>(x.cols());
  if (auto reason = checkRecordCount(n, p)) return reason;
  const ScaledDesign scaled = scaleDesign(x);
  // The design has full rank once this passes, so the factorisation made
  // for the check solves the least-squares problem as well.
  Eigen::HouseholderQR<Eigen::MatrixXd> qr;
  if (auto reason = findCollinearColumn(scaled, names, &qr)) return reason;

  const Eigen::VectorXd gamma = qr.solve(y);
  fit.beta = scaled.unscale(gamma);
  fit.fitted = x * fit.beta;
  const Eigen::VectorXd residual = y - scaled.z * gamma;
  const double sse = residual.squaredNorm();
  const double sst = (y.array() - y.mean()).matrix().squaredNorm();
  // A constant target leaves nothing to explain; R² is then reported as 0.
  fit.rSquared = sst > 0.0 ? 1.0 - sse / sst : 0.0;
  fit.adjustedRSquared =
      n > p ? 1.0 - (1.0 - fit.rSquared) * static_cast<double>(n - 1) / static_cast<double>(n - p) : fit.rSquared;
  fit.rmse = std::sqrt(sse / static_cast<double>(n));
  return std::nullopt;
}

}  // namespace splitmodels::detail

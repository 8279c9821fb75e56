#include "covariance.h"

#include <algorithm>
#include <limits>

namespace splitmodels::detail {

std::vector<Eigen::Index> keptColumns(const PivotedQr& qr) {
  std::vector<Eigen::Index> columns(qr.pivot.begin(), qr.pivot.begin() + qr.rank);
  std::sort(columns.begin(), columns.end());
  return columns;
}

Eigen::MatrixXd coefficientCovariance(const PivotedQr& qr, const Eigen::MatrixXd& inverseR,
                                      const Eigen::VectorXd& columnScale, double dispersion) {
  // The pivot position of each kept column, in design order.
  std::vector<std::pair<Eigen::Index, Eigen::Index>> order;  // (column, position)
  for (Eigen::Index a = 0; a < qr.rank; ++a) order.emplace_back(qr.pivot[static_cast<std::size_t>(a)], a);
  std::sort(order.begin(), order.end());
  const Eigen::MatrixXd unscaled = inverseR * inverseR.transpose();
  Eigen::MatrixXd out(qr.rank, qr.rank);
  for (Eigen::Index r = 0; r < qr.rank; ++r) {
    const auto [i, a] = order[static_cast<std::size_t>(r)];
    for (Eigen::Index s = 0; s < qr.rank; ++s) {
      const auto [j, b] = order[static_cast<std::size_t>(s)];
      out(r, s) = unscaled(a, b) * dispersion * columnScale(i) * columnScale(j);
    }
  }
  return out;
}

Eigen::VectorXd unscaledStart(const Eigen::VectorXd& scaled, const PivotedQr& qr, const Eigen::VectorXd& columnScale) {
  if (scaled.size() == 0) return {};
  Eigen::VectorXd out = Eigen::VectorXd::Constant(scaled.size(), std::numeric_limits<double>::quiet_NaN());
  for (Eigen::Index k = 0; k < qr.rank; ++k) {
    const Eigen::Index j = qr.pivot[static_cast<std::size_t>(k)];
    out(j) = scaled(j) * columnScale(j);
  }
  return out;
}

}  // namespace splitmodels::detail

#include "covariance.h"

#include <limits>

namespace splitmodels::detail {

Eigen::MatrixXd inverseGram(const PivotedQr& qr) {
  const Eigen::Index rank = qr.rank;
  const Eigen::MatrixXd inverse = qr.qr.topLeftCorner(rank, rank)
                                      .triangularView<Eigen::Upper>()
                                      .solve(Eigen::MatrixXd::Identity(rank, rank));
  return inverse * inverse.transpose();
}

Eigen::MatrixXd coefficientCovariance(const PivotedQr& qr, const Eigen::VectorXd& columnScale, double dispersion) {
  const Eigen::Index p = columnScale.size();
  Eigen::MatrixXd out = Eigen::MatrixXd::Constant(p, p, std::numeric_limits<double>::quiet_NaN());
  const Eigen::MatrixXd unscaled = inverseGram(qr);
  for (Eigen::Index a = 0; a < qr.rank; ++a) {
    const Eigen::Index i = qr.pivot[static_cast<std::size_t>(a)];
    for (Eigen::Index b = 0; b < qr.rank; ++b) {
      const Eigen::Index j = qr.pivot[static_cast<std::size_t>(b)];
      out(i, j) = unscaled(a, b) * dispersion * columnScale(i) * columnScale(j);
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

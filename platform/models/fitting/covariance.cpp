#include "covariance.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>
#include <vector>

namespace splitmodels::detail {

std::vector<Eigen::Index> keptColumns(const PivotedQr& qr) {
  std::vector<Eigen::Index> columns(qr.pivot.begin(), qr.pivot.begin() + qr.rank);
  std::sort(columns.begin(), columns.end());
  return columns;
}

Eigen::MatrixXd coefficientCovariance(const PivotedQr& qr, const Eigen::MatrixXd& inverseR,
                                      const Eigen::VectorXd& columnScale, double dispersion) {
  // The pivot position of each kept column, in design order, as (column,
  // position). A fit of a few columns keeps them on the stack: a vector
  // grown pair by pair cost a run of 100,000 small groups more in the
  // allocator than the rest of this function.
  using Pair = std::pair<Eigen::Index, Eigen::Index>;
  constexpr Eigen::Index kOnStack = 32;
  std::array<Pair, kOnStack> onStack;
  std::vector<Pair> onHeap;
  Pair* order = onStack.data();
  if (qr.rank > kOnStack) {
    onHeap.resize(static_cast<std::size_t>(qr.rank));
    order = onHeap.data();
  }
  for (Eigen::Index a = 0; a < qr.rank; ++a) order[a] = {qr.pivot[static_cast<std::size_t>(a)], a};
  std::sort(order, order + qr.rank);
  const Eigen::MatrixXd unscaled = inverseR * inverseR.transpose();
  Eigen::MatrixXd out(qr.rank, qr.rank);
  for (Eigen::Index r = 0; r < qr.rank; ++r) {
    const auto [i, a] = order[r];
    for (Eigen::Index s = 0; s < qr.rank; ++s) {
      const auto [j, b] = order[s];
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

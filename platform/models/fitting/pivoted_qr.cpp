#include "pivoted_qr.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace splitmodels::detail {

namespace {

double tailNorm(const Eigen::MatrixXd& x, Eigen::Index column, Eigen::Index from) {
  return x.col(column).segment(from, x.rows() - from).norm();
}

// Moves the `count` columns from l on to the end of the columns, in their
// order, with their bookkeeping: one rotation of the storage however many
// columns move, so that a wide design with many negligible columns is not
// shifted once per column.
void moveToEnd(Eigen::MatrixXd& x, std::vector<Eigen::Index>& pivot, Eigen::VectorXd& norm,
               Eigen::VectorXd& original, Eigen::Index l, Eigen::Index count) {
  const Eigen::Index n = x.rows(), p = x.cols();
  std::rotate(x.data() + l * n, x.data() + (l + count) * n, x.data() + p * n);
  std::rotate(pivot.begin() + l, pivot.begin() + l + count, pivot.end());
  for (Eigen::VectorXd* v : {&norm, &original}) std::rotate(v->data() + l, v->data() + l + count, v->data() + p);
}

}  // namespace

double powerOfTwoScale(const Eigen::VectorXd& v) {
  const double largest = v.size() == 0 ? 0.0 : v.cwiseAbs().maxCoeff();
  if (largest == 0.0 || !std::isfinite(largest)) return 1.0;
  int exponent = 0;
  std::frexp(largest, &exponent);  // largest = m · 2^exponent, m in [0.5, 1)
  // Subnormal values need more than the largest finite power of two; that
  // one still brings them into the normal range.
  return std::ldexp(1.0, std::min(-exponent, std::numeric_limits<double>::max_exponent - 1));
}

Eigen::VectorXd scaleColumnsByPowersOfTwo(Eigen::MatrixXd& x) {
  Eigen::VectorXd factor(x.cols());
  for (Eigen::Index j = 0; j < x.cols(); ++j) {
    factor(j) = powerOfTwoScale(x.col(j));
    x.col(j) *= factor(j);
  }
  return factor;
}

PivotedQr factorisePivoted(Eigen::MatrixXd x, double tolerance) {
  PivotedQr qr;
  qr.qr = std::move(x);
  factorisePivotedInPlace(qr, tolerance);
  return qr;
}

void factorisePivotedInPlace(PivotedQr& qr, double tolerance) {
  Eigen::MatrixXd& x = qr.qr;
  const Eigen::Index n = x.rows(), p = x.cols();
  qr.head.setZero(p);
  qr.pivot.resize(static_cast<std::size_t>(p));
  for (Eigen::Index j = 0; j < p; ++j) qr.pivot[static_cast<std::size_t>(j)] = j;
  // norm: the column's norm below the rows already reduced, kept up to date
  // cheaply; original: its norm at the start (1 for a zero column, so that
  // it is aliased at once).
  Eigen::VectorXd norm(p), original(p);
  for (Eigen::Index j = 0; j < p; ++j) {
    norm(j) = x.col(j).norm();
    original(j) = norm(j) == 0.0 ? 1.0 : norm(j);
  }
  Eigen::Index kept = p;  // columns not yet moved to the end
  const Eigen::Index steps = std::min(n, p);
  Eigen::Index l = 0;
  for (; l < steps; ++l) {
    // Move the negligible columns from l on to the end, so that the first
    // usable one comes to l.
    Eigen::Index usable = l;
    while (usable < kept && norm(usable) < original(usable) * tolerance) ++usable;
    if (usable > l) {
      moveToEnd(x, qr.pivot, norm, original, l, usable - l);
      kept -= usable - l;
    }
    if (l >= kept) break;  // only aliased columns remain
    if (l == n - 1) continue;  // the last row needs no reflection
    double length = tailNorm(x, l, l);
    if (length == 0.0) continue;
    if (x(l, l) != 0.0) length = std::copysign(length, x(l, l));
    x.col(l).segment(l, n - l) /= length;
    x(l, l) += 1.0;
    const auto v = x.col(l).segment(l, n - l);
    for (Eigen::Index j = l + 1; j < p; ++j) {
      auto column = x.col(j).segment(l, n - l);
      column += (-v.dot(column) / x(l, l)) * v;
      if (norm(j) == 0.0) continue;
      // Downdate the remaining norm; recompute it when cancellation would
      // make the update unreliable.
      const double ratio = std::fabs(x(l, j)) / norm(j);
      const double left = std::max(1.0 - ratio * ratio, 0.0);
      if (left < 1e-6) {
        norm(j) = tailNorm(x, j, l + 1);
      } else {
        norm(j) *= std::sqrt(left);
      }
    }
    qr.head(l) = x(l, l);
    x(l, l) = -length;
  }
  qr.rank = std::min(kept, n);
}

Eigen::VectorXd PivotedQr::applyQt(const Eigen::VectorXd& b) const {
  Eigen::VectorXd out = b;
  applyQtInPlace(out);
  return out;
}

void PivotedQr::applyQtInPlace(Eigen::VectorXd& b) const {
  const Eigen::Index n = qr.rows();
  for (Eigen::Index l = 0; l < rank; ++l) {
    if (head(l) == 0.0) continue;
    // The reflector is head(l) followed by the column below the diagonal;
    // the diagonal itself holds R, so the two parts are taken apart.
    const auto below = qr.col(l).tail(n - l - 1);
    auto rest = b.tail(n - l - 1);
    const double scale = -(head(l) * b(l) + below.dot(rest)) / head(l);
    b(l) += scale * head(l);
    rest += scale * below;
  }
}

Eigen::VectorXd PivotedQr::solve(const Eigen::VectorXd& qty) const {
  const auto r = qr.topLeftCorner(rank, rank).triangularView<Eigen::Upper>();
  return r.solve(qty.head(rank));
}

Eigen::MatrixXd PivotedQr::inverseR() const {
  return qr.topLeftCorner(rank, rank).triangularView<Eigen::Upper>().solve(Eigen::MatrixXd::Identity(rank, rank));
}

Eigen::VectorXd PivotedQr::inverseGramDiagonal(const Eigen::MatrixXd& inverse) {
  // (R'R)⁻¹ = R⁻¹R⁻ᵀ, whose diagonal holds the squared row norms of R⁻¹.
  return inverse.rowwise().squaredNorm();
}

}  // namespace splitmodels::detail

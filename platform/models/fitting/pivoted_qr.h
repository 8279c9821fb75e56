// Householder QR with limited column pivoting: the rank-revealing
// factorisation behind least squares and each reweighted step of the
// logistic fit. Columns keep their order except that a column whose norm,
// after the columns before it have been projected out, falls below
// `tolerance` times its original norm is moved to the end and counts as
// aliased (linearly dependent on the columns kept before it).
#pragma once

#include <Eigen/Dense>

#include <vector>

namespace splitmodels::detail {

struct PivotedQr {
  Eigen::MatrixXd qr;  // R on and above the diagonal, reflectors below it
  Eigen::VectorXd head;  // leading entry of each reflector (0: no reflection)
  std::vector<Eigen::Index> pivot;  // original column at each position
  Eigen::Index rank = 0;            // the first `rank` positions are kept

  // Q'b with the reflectors of the kept columns.
  Eigen::VectorXd applyQt(const Eigen::VectorXd& b) const;
  // The same, overwriting b.
  void applyQtInPlace(Eigen::VectorXd& b) const;
  // Coefficients of the kept columns (in pivot order) from Q'y.
  Eigen::VectorXd solve(const Eigen::VectorXd& qty) const;
  // R⁻¹ over the kept columns, from which the variances and the covariance
  // of the coefficients are both taken.
  Eigen::MatrixXd inverseR() const;
  // Diagonal of (R'R)⁻¹ = R⁻¹R⁻ᵀ over the kept columns (in pivot order),
  // from R⁻¹: the unscaled variances of their coefficients.
  static Eigen::VectorXd inverseGramDiagonal(const Eigen::MatrixXd& inverse);
};

// Factorises x (rows >= 1). A column that is zero is always aliased.
PivotedQr factorisePivoted(Eigen::MatrixXd x, double tolerance);
// Factorises qr.qr where it lies, reusing the storage of the other members:
// a fit that factorises once per iteration allocates nothing after the first.
void factorisePivotedInPlace(PivotedQr& qr, double tolerance);

// Scales each column of x by a power of two so that its largest magnitude
// lies in [0.5, 1) (zero columns keep factor 1), and returns the factors.
// Powers of two scale exactly, so the factorisation's rank decisions are
// unchanged while sums of squares can no longer overflow or underflow.
Eigen::VectorXd scaleColumnsByPowersOfTwo(Eigen::MatrixXd& x);
// The power of two that brings the largest magnitude of v into [0.5, 1)
// (subnormal magnitudes: at most 2^1023, which makes them normal numbers).
double powerOfTwoScale(const Eigen::VectorXd& v);

}  // namespace splitmodels::detail

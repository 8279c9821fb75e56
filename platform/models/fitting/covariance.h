// The covariance of a fit's coefficients from its pivoted QR factorisation,
// as R's vcov(fit, complete = FALSE) gives it: (R'R)⁻¹ times the
// dispersion over the columns the fit kept. Aliased columns have no row or
// column, so its size follows the rank (at most the records) rather than
// the design's columns: a group of six records and thousands of inputs
// holds a 6 × 6 matrix.
#pragma once

#include <Eigen/Dense>

#include <vector>

#include "pivoted_qr.h"

namespace splitmodels::detail {

// The kept columns in design order, the order of the covariance's rows.
std::vector<Eigen::Index> keptColumns(const PivotedQr& qr);

// The covariance of the coefficients of the kept (unscaled) design
// columns, in the order of keptColumns: dispersion · (R'R)⁻¹, each entry
// scaled back by the columns' power-of-two factors; `inverseR` is
// qr.inverseR(), which the caller also takes the variances from.
Eigen::MatrixXd coefficientCovariance(const PivotedQr& qr, const Eigen::MatrixXd& inverseR,
                                      const Eigen::VectorXd& columnScale, double dispersion);

// Coefficients of the scaled design (empty: none) in the original columns'
// units, NaN for the columns the factorisation aliased.
Eigen::VectorXd unscaledStart(const Eigen::VectorXd& scaled, const PivotedQr& qr, const Eigen::VectorXd& columnScale);

}  // namespace splitmodels::detail

// The covariance of a fit's coefficients from its pivoted QR factorisation,
// as R's vcov gives it: (R'R)⁻¹ times the dispersion, in design column
// order, with missing (NaN) rows and columns for aliased columns.
#pragma once

#include <Eigen/Dense>

#include "pivoted_qr.h"

namespace splitmodels::detail {

// (R'R)⁻¹ = R⁻¹R⁻ᵀ over the kept columns, in pivot order.
Eigen::MatrixXd inverseGram(const PivotedQr& qr);

// The covariance of the coefficients of the original (unscaled) design
// columns: dispersion · (R'R)⁻¹, each entry scaled back by the columns'
// power-of-two factors. Entries of aliased columns are NaN.
Eigen::MatrixXd coefficientCovariance(const PivotedQr& qr, const Eigen::VectorXd& columnScale, double dispersion);

// Coefficients of the scaled design (empty: none) in the original columns'
// units, NaN for the columns the factorisation aliased.
Eigen::VectorXd unscaledStart(const Eigen::VectorXd& scaled, const PivotedQr& qr, const Eigen::VectorXd& columnScale);

}  // namespace splitmodels::detail

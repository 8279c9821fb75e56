// The two regression fits on a prepared design.
#pragma once

#include <Eigen/Dense>

#include <optional>
#include <string>
#include <vector>

namespace splitmodels::detail {

struct LinearFit {
  Eigen::VectorXd beta;    // coefficients of the design's columns
  Eigen::VectorXd fitted;  // x · beta
  double rSquared = 0.0;
  double adjustedRSquared = 0.0;
  double rmse = 0.0;
};

// Least squares of y on x (whose first column is the intercept). Returns the
// failure reason (too few records, collinear column) or fills `fit`.
std::optional<std::string> fitLinear(const Eigen::MatrixXd& x, const Eigen::VectorXd& y,
                                     const std::vector<std::string>& names, LinearFit& fit);

struct LogisticFit {
  Eigen::VectorXd beta;         // coefficients of the design's columns
  Eigen::VectorXd probability;  // fitted event probability per record
  int iterations = 0;
  double logLikelihood = 0.0;
  double accuracy = 0.0;
  double auc = 0.0;
};

// Binary logistic regression of y (1 = event, 0 = other) on x by iteratively
// reweighted least squares. Returns the failure reason (too few records,
// collinear column, separation, no convergence) or fills `fit`.
std::optional<std::string> fitLogistic(const Eigen::MatrixXd& x, const Eigen::VectorXd& y,
                                       const std::vector<std::string>& names, LogisticFit& fit);

// Area under the ROC curve of scores against 0/1 labels (Mann–Whitney; tied
// scores count one half).
double areaUnderCurve(const Eigen::VectorXd& score, const Eigen::VectorXd& label);

}  // namespace splitmodels::detail

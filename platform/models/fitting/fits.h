// platform/models/fitting: part of the workers' model library (splitmodels).
// Owns turning a group's records into a fitted model: the data description
// (data_model.cpp), the design matrix (design.h), the pivoted QR
// (pivoted_qr.h), the linear and logistic fits (this header), their
// distributions (distributions.h), and a group's build from fit to
// documents (group_model.cpp). Includes splitmodels/, Eigen and the names and
// writers of models/pmml, which include its design in turn.
//
// The two regression fits on a prepared design, with the inference R's
// summaries of lm and glm report.
#pragma once

#include <Eigen/Dense>

#include <optional>
#include <string>
#include <vector>

namespace splitmodels::detail {

// Per design column; NaN where the value is missing: every entry of an
// aliased column, and the standard errors, statistics and p values when no
// residual degrees of freedom are left.
struct Coefficients {
  Eigen::VectorXd estimate;
  Eigen::VectorXd stdError;
  Eigen::VectorXd statistic;  // t (linear) or z (logistic)
  Eigen::VectorXd pValue;     // two-sided
  Eigen::Index rank = 0;      // columns not aliased
  // Covariance of the estimates (R's vcov with complete = FALSE) over the
  // columns that are not aliased, `covarianceColumns` (in design order):
  // rank × rank however many columns the design has. NaN everywhere when no
  // residual degrees of freedom are left.
  Eigen::MatrixXd covariance;
  std::vector<Eigen::Index> covarianceColumns;
  // For an iteratively reweighted fit: the coefficients (per column, NaN
  // where aliased) at which the last step's working weights were taken, the
  // weights of the covariance and of R's influence measures. Empty when the
  // last step started from the family's start values instead.
  Eigen::VectorXd stepStart;
};

struct LinearFit {
  Coefficients coefficients;
  Eigen::VectorXd fitted;  // per record
  double dfResidual = 0.0;
  // NaN when missing: sigma, adjusted R², F and its p value at zero
  // residual degrees of freedom; F when only the intercept is fitted.
  double sigma = 0.0;
  double rSquared = 0.0;
  double adjustedRSquared = 0.0;
  double fStatistic = 0.0;
  double fDf1 = 0.0;
  double fPValue = 0.0;
};

// Least squares of y on x (whose first column is the intercept), with
// columns that depend linearly on those before them aliased. Returns the
// failure reason (too few records, coefficients too large to represent) or
// fills `fit`. x is scaled in place: a caller done with its design moves it
// in and saves a copy of it.
std::optional<std::string> fitLinear(Eigen::MatrixXd x, const Eigen::VectorXd& y, LinearFit& fit);

struct LogisticFit {
  Coefficients coefficients;
  Eigen::VectorXd probability;  // fitted event probability per record
  int iterations = 0;
  bool converged = false;
  bool boundary = false;  // some fitted probability is numerically 0 or 1
  double deviance = 0.0;
  double nullDeviance = 0.0;
  double dfResidual = 0.0;
  double dfNull = 0.0;
  double aic = 0.0;
  double logLikelihood = 0.0;
  double accuracy = 0.0;
  double auc = 0.0;
};

// Binary logistic regression of y (1 = event, 0 = other) on x by
// iteratively reweighted least squares. Returns the failure reason (too few
// records, separation, coefficients that are not finite) or fills `fit`;
// non-convergence and fitted probabilities of 0 or 1 are reported in `fit`.
std::optional<std::string> fitLogistic(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, LogisticFit& fit);

// Area under the ROC curve of scores against 0/1 labels (Mann–Whitney; tied
// scores count one half).
double areaUnderCurve(const Eigen::VectorXd& score, const Eigen::VectorXd& label);

}  // namespace splitmodels::detail

#include "glm_family.h"

namespace splitmodels::detail {

// What a generalised linear fit uses besides the design: family, link and
// R's glm.control settings.
struct GlmSettings {
  FamilyKind family = FamilyKind::Gaussian;
  LinkKind link = LinkKind::Identity;
  double epsilon = 1e-8;  // relative change of the deviance that ends the iteration
  int maxIterations = 25;
};

struct GlmFit {
  Coefficients coefficients;  // t statistics where the dispersion is estimated, else z
  Eigen::VectorXd mu;         // fitted mean per record
  Eigen::VectorXd eta;        // linear predictor per record, offset included
  int iterations = 0;
  bool converged = false;
  double deviance = 0.0;
  double nullDeviance = 0.0;
  double dfResidual = 0.0;  // records of positive weight minus the rank
  double dfNull = 0.0;
  double aic = 0.0;            // NaN for the quasi families
  double dispersion = 1.0;     // NaN when estimated without residual degrees of freedom
  double logLikelihood = 0.0;  // NaN for the quasi families
  std::vector<std::string> warnings;  // R's glm.fit warnings, each once
};

// R's glm.fit: iteratively reweighted least squares of the response on x
// (whose first column is the intercept) with the given offset (empty: none),
// from the family's start values, with step halving when the deviance is
// not finite or μ and η leave their valid range. `muStart`, when not empty,
// replaces the family's start values. Returns the failure reason (a
// response the family does not allow, no valid start, no correctable step)
// or fills `fit`.
std::optional<std::string> fitGlm(const Eigen::MatrixXd& x, GlmResponse response, const Eigen::VectorXd& offset,
                                  const GlmSettings& settings, GlmFit& fit,
                                  const std::vector<double>& muStart = {});

}  // namespace splitmodels::detail

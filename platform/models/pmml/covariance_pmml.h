// The coefficient covariance in a group's RegressionModel, for the scorer's
// prediction standard errors and intervals. RegressionModel has no element
// for it, so it goes into an Extension (first child of the model):
//
//   <Extension name="covariance" extender="splitmodels">
//     <Covariance dfResidual="27" sigma="2.41">     <!-- sigma: linear only;
//                                                        deviance: logistic only -->
//       <Term/>                                     <!-- the intercept -->
//       <Term field="wt"/>                          <!-- a NumericPredictor -->
//       <Term field="cyl" value="6"/>               <!-- a CategoricalPredictor -->
//       <Row>v11 v12 v13</Row> ...                  <!-- one per Term -->
//       <Start>b1 b2 b3</Start>                     <!-- logistic only: per Term -->
//     </Covariance>
//   </Extension>
//
// Aliased terms, which have no predictor, are left out. Start holds the
// coefficients at which the fit's last step took its working weights (see
// Coefficients::stepStart), from which the scorer computes those weights.
//
// A GeneralRegressionModel carries its covariance in PMML's own PCovMatrix
// (one PCovCell per pair of estimated parameters, both orders), whose
// extension adds what the scorer's standard errors and diagnostics need:
//
//   <PCovMatrix type="model">
//     <Extension name="fit" extender="splitmodels">
//       <Fit dfResidual="29" dispersion="0.0108" deviance="0.307">
//         <Start>b1 b2 b3</Start>          <!-- per parameter, in PCovCell order -->
//       </Fit>
//     </Extension>
//     <PCovCell pRow="p0" pCol="p0" value="..."/> ...
//   </PCovMatrix>
#pragma once

#include <Eigen/Dense>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "design.h"
#include "fits.h"
#include "xml_text.h"

namespace splitmodels::detail {

// Writes the extension (the first child of a RegressionModel) from
// `fit.covariance` over the columns the fit kept; nothing is written when no
// column has a finite variance. `sigma` is NaN for a logistic model, and
// `deviance` (the residual deviance) NaN for a linear one.
void writeCovarianceExtension(XmlText& xml, const std::vector<FieldDef>& fields, const Design& design,
                              const Coefficients& fit, double sigma, double dfResidual,
                              double deviance = std::numeric_limits<double>::quiet_NaN());

// What a generalised linear fit adds to its covariance.
struct FitScale {
  double dfResidual = 0.0;
  double dispersion = 1.0;
  double deviance = 0.0;
};

// Writes the PCovMatrix of a GeneralRegressionModel: the entries of
// `coefficients.covariance` (over the columns the fit kept) between the
// columns whose variance is finite, under the names `parameterName` gives
// their design columns. Nothing is written when no column has one
// (the dispersion was estimated without residual degrees of freedom).
void writeParameterCovariance(XmlText& xml, const Coefficients& coefficients, const FitScale& fit,
                              const std::function<std::string(Eigen::Index)>& parameterName);

}  // namespace splitmodels::detail

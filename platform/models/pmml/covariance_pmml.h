// The coefficient covariance in a group's RegressionModel, for the scorer's
// prediction standard errors and intervals. RegressionModel has no element
// for it, so it goes into an Extension (first child of the model):
//
//   <Extension name="covariance" extender="splitmodels">
//     <Covariance dfResidual="27" sigma="2.41">     <!-- sigma: linear only -->
//       <Term/>                                     <!-- the intercept -->
//       <Term field="wt"/>                          <!-- a NumericPredictor -->
//       <Term field="cyl" value="6"/>               <!-- a CategoricalPredictor -->
//       <Row>v11 v12 v13</Row> ...                  <!-- one per Term -->
//     </Covariance>
//   </Extension>
//
// Aliased terms, which have no predictor, are left out.
#pragma once

#include <Eigen/Dense>

#include <pugixml.hpp>

#include <vector>

#include "design.h"

namespace splitmodels::detail {

// Writes the extension as the first child of `model`. `covariance` is
// columns × columns (NaN for aliased columns); nothing is written when no
// column has a finite variance. `sigma` is NaN for a logistic model.
void writeCovarianceExtension(pugi::xml_node model, const std::vector<FieldDef>& fields, const Design& design,
                              const Eigen::MatrixXd& covariance, double sigma, double dfResidual);

}  // namespace splitmodels::detail

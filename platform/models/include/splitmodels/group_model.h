// One model per split group: fitting, its PMML document and its StatXML.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "splitmodels/data.h"

namespace splitmodels {

// One term of a fitted model, named as R names it: "(Intercept)", a
// continuous input by its field name, a categorical level by the field name
// followed by the level ("channelonline"). Values R reports as NA are NaN:
// all four for an aliased term (one linearly dependent on the terms before
// it in the group's records, or a level the group's records lack), and the
// last three when no residual degrees of freedom are left.
struct Term {
  std::string name;
  double estimate = 0.0;
  double stdError = 0.0;
  double statistic = 0.0;  // t (linear) or z (logistic)
  double pValue = 0.0;     // two-sided
};

// The result of building one group's model. On failure `ok` is false,
// `reason` says why, and `pmml` and `statXML` are empty; `records` and
// `skippedRecords` are still filled in when the data was read.
// Summary values R reports as NA are NaN.
struct GroupModel {
  bool ok = false;
  std::string reason;
  std::string pmml;     // PMML 4.4 document holding one RegressionModel
  std::string statXML;  // StatXML document describing the build and its fit
  std::size_t records = 0;         // complete records used in the fit
  std::size_t skippedRecords = 0;  // records skipped for a missing target/input
  // Warnings of a model that was built: aliased terms, no residual degrees
  // of freedom, non-convergence, fitted probabilities of 0 or 1.
  std::vector<std::string> warnings;
  std::vector<Term> terms;  // intercept first, then the inputs' terms in order
  // Covariance of the terms' estimates (R's vcov with complete = FALSE):
  // k × k over the k terms whose estimate is not missing, row by row in
  // `terms` order. Aliased terms have no row or column, so the matrix grows
  // with the records of the group, not with its inputs.
  std::vector<double> covariance;
  double dfResidual = 0.0;  // records used minus terms estimated
  // Linear regression summary, as R's summary of lm.
  double sigma = 0.0;  // residual standard error, sqrt(SSE / dfResidual)
  double rSquared = 0.0;
  double adjustedRSquared = 0.0;
  double fStatistic = 0.0;  // NaN when only the intercept is estimated
  double fPValue = 0.0;
  // Logistic regression summary, as R's glm.
  double deviance = 0.0;
  double nullDeviance = 0.0;
  double dfNull = 0.0;
  double aic = 0.0;
  int iterations = 0;
  double accuracy = 0.0;       // share of records classified right at p = 0.5
  double logLikelihood = 0.0;  // at the fitted coefficients
  double auc = 0.0;            // area under the ROC curve (ties count 1/2)
  // Family and link by R's names (a linear model is gaussian with the
  // identity link, a logistic one binomial with the logit link), the
  // dispersion (the residual variance of a linear model, 1 where R fixes
  // it, else Pearson's χ² over dfResidual) and whether the iteration met
  // its convergence criterion (always true for a linear model).
  std::string family;
  std::string link;
  double dispersion = 0.0;
  bool converged = true;
  // Per record used in the fit, in record order: the fitted value (linear),
  // the fitted probability of the event (logistic) or the fitted mean (glm).
  std::vector<double> fitted;
};

// Fits the model that `request` describes to `data` and writes its documents.
// Never throws for bad data or an unusable fit; those give ok == false.
// Safe to call from several threads at once.
//
// Failure reasons (texts begin with these words):
//   "unknown field: NAME"             target or input not among data.fields
//   "unknown reference level: ..."    a --reference level the input lacks
//   "too few records: N records for P parameters"
//   "design too large: ..."           more records × columns than it holds
//   "coefficients too large to represent: ..." an estimate is not finite
//   "target is not continuous: NAME"  (linear) target of a categorical measure
//   "single class: ..."               (logistic) one target value only
//   "more than two classes: ..."      (logistic)
//   "event not found: ..."            (logistic) `event` matches no value
//   "separation: ..."                 (logistic) complete or quasi-complete
//                                     separation: the estimate diverges
//   "no valid coefficients: ..."      (logistic) the deviance is never finite
//   "unknown family: ..."             (glm) a family glmFamilies() lacks
//   "link not available for the ..."  (glm) a link glmLinks(family) lacks
//   "negative weights not allowed"    (glm) a prior weight below 0
//   R's messages of glm.fit           (glm) a response outside the family's
//                                     range, no valid start or step
GroupModel buildGroupModel(const GroupRecords& records, const ModelSpec& request);
// The same for records held as rows of cells; a row whose number of cells
// differs from the number of fields fails the build ("row N has ...").
GroupModel buildGroupModel(const GroupData& data, const ModelSpec& request);

// What an R formula (ModelSpec::formula) reads: the first field of its
// response (the model's target), every field its response reads, and the
// fields its right side reads, in order of appearance; whether "." is among
// its terms (it stands for every field the response does not read), whether
// the response is a plain field, and whether it is cbind(successes, failures).
struct FormulaFields {
  std::string target;
  std::vector<std::string> responseFields;
  std::vector<std::string> inputs;
  bool dot = false;
  bool plainResponse = false;
  bool cbind = false;
};

// Parses and checks `formula` without data. The reason names the part this
// system does not fit ("unsupported function 'sin'", "unsupported:
// poly(x, 2) without raw = TRUE ..."), or nothing when it is fine.
std::optional<std::string> checkFormula(const std::string& formula, FormulaFields& out);

// The families a Glm request may name, and the links each allows (R's
// canonical link first), by R's names.
std::vector<std::string> glmFamilies();
std::vector<std::string> glmLinks(const std::string& family);

}  // namespace splitmodels

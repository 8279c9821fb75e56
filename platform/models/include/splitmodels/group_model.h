// One model per split group: fitting, its PMML document and its StatXML.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "splitmodels/data.h"

namespace splitmodels {

// The result of building one group's model. On failure `ok` is false,
// `reason` says why, and `pmml` and `statXML` are empty; `records` and
// `skippedRecords` are still filled in when the data was read.
struct GroupModel {
  bool ok = false;
  std::string reason;
  std::string pmml;     // PMML 4.4 document holding one RegressionModel
  std::string statXML;  // StatXML document describing the build and its fit
  std::size_t records = 0;         // complete records used in the fit
  std::size_t skippedRecords = 0;  // records skipped for a missing target/input
  // Linear regression summary.
  double rSquared = 0.0;
  double adjustedRSquared = 0.0;
  double rmse = 0.0;  // sqrt(SSE / records)
  // Logistic regression summary.
  double accuracy = 0.0;       // share of records classified right at p = 0.5
  double logLikelihood = 0.0;  // at the fitted coefficients
  double auc = 0.0;            // area under the ROC curve (ties count 1/2)
  // Fitted coefficients: "(intercept)" first, then one per design column:
  // the input's name for a continuous input, "name=category" for a dummy
  // column of a categorical input. A categorical input is coded against the
  // first of its categories that the fitted records hold and has one column
  // per further held category; categories the group lacks have none.
  std::vector<std::pair<std::string, double>> coefficients;
  // Per record used in the fit, in record order: the fitted value (linear)
  // or the fitted probability of the event (logistic).
  std::vector<double> fitted;
};

// Fits the model that `request` describes to `data` and writes its documents.
// Never throws for bad data or an unusable fit; those give ok == false.
// Safe to call from several threads at once.
//
// Failure reasons (texts begin with these words):
//   "unknown field: NAME"             target or input not among data.fields
//   "too few records: N records for P parameters"
//   "singular design: column C is collinear"
//   "target is not continuous: NAME"  (linear) target of a categorical measure
//   "single class: ..."               (logistic) one target value only
//   "more than two classes: ..."      (logistic)
//   "event not found: ..."            (logistic) `event` matches no value
//   "separation: ..."                 (logistic) perfect or quasi separation
//   "no convergence: ..."             (logistic) IRLS did not converge
GroupModel buildGroupModel(const GroupRecords& records, const ModelSpec& request);
// The same for records held as rows of cells; a row whose number of cells
// differs from the number of fields fails the build ("row N has ...").
GroupModel buildGroupModel(const GroupData& data, const ModelSpec& request);

}  // namespace splitmodels

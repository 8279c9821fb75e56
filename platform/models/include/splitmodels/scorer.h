// Scoring CSV rows with a segmented or plain regression PMML model.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "splitmodels/inference.h"

namespace splitmodels {

// Raised for a PMML document the scorer cannot use, a header that lacks a
// needed field, or a row that does not fit the bound header. The message
// names the offending element, attribute or field and why.
class ScoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One cell of a row: its text, or a missing value.
struct ScoreCell {
  std::string_view text;
  bool missing = false;
  // Optional, for a caller that reads numbers itself: true when `number` is
  // the whole text read as a decimal number, correctly rounded (the double
  // std::from_chars gives). A field of a real-number type then takes it
  // instead of reading the text again; other fields ignore it.
  bool hasNumber = false;
  double number = 0.0;
};

struct ScoreResult {
  // True when a segment's predicate held for the row (always true for a bare
  // RegressionModel). Predicates follow three-valued logic: a comparison
  // with a missing value is unknown, and only a true predicate selects.
  bool selected = false;
  // No prediction, and a field the model reads holds an invalid value: one
  // that does not read as its data type, or a category its DataField does
  // not list. Such a value equals no split value and is not missing, and a
  // model reading it gives no prediction (PMML's returnInvalid treatment).
  bool invalid = false;
  // The predicted value (the shortest text that reads back to the double
  // for regression, the class label for classification). Empty when not
  // selected, when an input is invalid, and when the selected model cannot
  // compute: a NumericPredictor's input is missing and its MiningField gives
  // no missingValueReplacement. A class label may itself be empty: a
  // classification has a prediction exactly when it has probabilities.
  std::string predicted;
  // Classification with a predicted value: one probability per classLabels()
  // entry (0 for labels the selected model has no table for); else empty.
  std::vector<double> probabilities;
  // The selected Segment's "id" (its 1-based position when it has none);
  // empty for a bare RegressionModel or when not selected.
  std::string segmentId;
  // After computeStandardErrors(true), for a prediction of a model that
  // carries its coefficient covariance: the linear predictor (the
  // prediction of a linear model, η with its offset for a glm, the log-odds
  // of the first table's category of a logistic one), its standard error,
  // and the model's residual degrees of freedom, sigma (linear models only)
  // and number of estimated coefficients. NaN otherwise.
  double link = 0.0;
  double linkStdError = 0.0;
  double dfResidual = 0.0;
  double sigma = 0.0;
  double parameters = 0.0;
  // With those, for a generalised linear or logistic model (NaN for a
  // linear RegressionModel): the mean μ = g⁻¹(link), its standard error by
  // the delta method (linkStdError · |dμ/dη|, R's predict.glm on the
  // response scale), the Wald interval at the level computeStandardErrors
  // was given, g⁻¹(link ∓ z · linkStdError) (low ≤ high), dμ/dη, the
  // family's variance V(μ), the dispersion and the fit's residual deviance;
  // `distribution` names the family (the quasi families their base one).
  // `workingWeight` is (dμ/dη)²/V(μ) per unit of prior weight where the
  // fit's last step took it (at the fitted mean for a document that does
  // not say where): with it the record's hat value is
  // weight · workingWeight · linkStdError² / dispersion, as R's.
  double mean = 0.0;
  double meanStdError = 0.0;
  double meanLow = 0.0;
  double meanHigh = 0.0;
  double meanDerivative = 0.0;
  double variance = 0.0;
  double dispersion = 0.0;
  double deviance = 0.0;
  double workingWeight = 0.0;
  Distribution distribution = Distribution::Normal;
};

// A loaded model: a MiningModel with a selectFirst Segmentation of
// RegressionModel segments, or a bare RegressionModel. Moveable, not
// copyable. After bind(), score() is const and may run on several threads.
// A row's segment is found by hash lookup when the segments test equality
// on one set of fields, as split models do, whatever their number.
class SplitScorer {
 public:
  // Parses and checks the document. Throws ScoreError.
  static SplitScorer fromPmml(const std::string& pmmlText);
  // The same from a PMML file, which is read in blocks and never held whole
  // (a 100,000-segment model is about 100 MB of text). Throws ScoreError,
  // also when the file cannot be opened or read.
  static SplitScorer fromPmmlFile(const std::string& path);

  SplitScorer(SplitScorer&&) noexcept;
  SplitScorer& operator=(SplitScorer&&) noexcept;
  ~SplitScorer();

  // Maps the fields the model uses to columns of `header` (exact names).
  // Throws ScoreError naming the first needed field that has no column.
  void bind(const std::vector<std::string>& header);

  // Predictions of a regression model on the link scale (R's
  // predict(type = "link")): the linear predictor with its offset, before
  // the inverse link or normalisation. The default is the response scale.
  // Classification models ignore it. Call before scoring.
  void setLinkScale(bool link);

  // Scores one row of the bound header. std::nullopt is a missing value;
  // other texts are converted by the field's DataDictionary dataType, and a
  // text that does not convert (for instance an empty text for a number)
  // counts as missing. Throws ScoreError when bind() was not called or the
  // row is shorter than the header.
  ScoreResult score(const std::vector<std::optional<std::string>>& row) const;
  // The same for cells that view the caller's texts, reusing `result`'s
  // storage (the fast path for streaming). `result` is overwritten.
  void score(const std::vector<ScoreCell>& row, ScoreResult& result) const;

  // Whether score() fills the standard-error fields of its result (off by
  // default: they cost a product with the covariance per record), and the
  // level of their Wald intervals. Call before scoring from several threads.
  void computeStandardErrors(bool on, double level = 0.95);
  // Whether the document's models are generalizedLinear
  // GeneralRegressionModels (R's glm), which have no prediction interval;
  // one fitted by least squares (a linear model from a formula) is scored
  // as a linear model and does not count.
  bool isGeneralized() const;
  // Whether the document's models carry their coefficient covariance: some
  // do (a model whose fit left no residual degrees of freedom has none, and
  // its records get no standard error), or the document was written before
  // models carried it.
  bool hasCovariance() const;

  const std::string& targetName() const;
  bool isClassification() const;
  // Target categories in DataDictionary order, else in RegressionTable order.
  const std::vector<std::string>& classLabels() const;
  // Fields the model reads (DataDictionary order), which bind() must find.
  const std::vector<std::string>& requiredFields() const;
  // The bound header's columns that the model reads as real numbers: the
  // cells worth giving `number` (ScoreCell). Empty before bind().
  const std::vector<std::size_t>& numberColumns() const;
  // For one group's model that carries its split values (a split-info
  // extension): those values as "field=value" texts ("<missing>" for a
  // missing value); it selects only its group's rows. Empty otherwise.
  const std::vector<std::string>& groupKey() const;

 private:
  struct Impl;
  explicit SplitScorer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace splitmodels

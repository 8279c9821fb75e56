#include "splitmodels/scorer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "scorer_model.h"
#include "value_text.h"

namespace splitmodels {

struct SplitScorer::Impl {
  detail::ScoringModel model;
  std::vector<int> columnOfRequired;  // header column per required field
  std::vector<std::size_t> numberColumns;  // header columns of real-number fields
  std::size_t headerSize = 0;
  bool bound = false;
  bool standardErrors = false;
  bool linkScale = false;
  double waldQuantile = 1.959963984540054;
};

SplitScorer::SplitScorer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SplitScorer::SplitScorer(SplitScorer&&) noexcept = default;
SplitScorer& SplitScorer::operator=(SplitScorer&&) noexcept = default;
SplitScorer::~SplitScorer() = default;

SplitScorer SplitScorer::fromPmml(const std::string& pmmlText) {
  auto impl = std::make_unique<Impl>();
  impl->model = detail::loadScoringModel(pmmlText);
  return SplitScorer(std::move(impl));
}

SplitScorer SplitScorer::fromPmmlFile(const std::string& path) {
  auto impl = std::make_unique<Impl>();
  impl->model = detail::loadScoringModelFile(path);
  return SplitScorer(std::move(impl));
}

void SplitScorer::bind(const std::vector<std::string>& header) {
  std::vector<int> columns;
  for (const std::string& name : impl_->model.required) {
    const auto found = std::find(header.begin(), header.end(), name);
    if (found == header.end()) throw ScoreError("field \"" + name + "\" that the model needs has no column");
    columns.push_back(static_cast<int>(found - header.begin()));
  }
  impl_->numberColumns.clear();
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (impl_->model.dictionary[static_cast<std::size_t>(impl_->model.requiredIndex[i])].kind ==
        detail::TypeKind::Number)
      impl_->numberColumns.push_back(static_cast<std::size_t>(columns[i]));
  impl_->columnOfRequired = std::move(columns);
  impl_->headerSize = header.size();
  impl_->bound = true;
}

void SplitScorer::setLinkScale(bool link) { impl_->linkScale = link; }

ScoreResult SplitScorer::score(const std::vector<std::optional<std::string>>& row) const {
  std::vector<ScoreCell> cells(row.size());
  for (std::size_t i = 0; i < row.size(); ++i) cells[i] = row[i] ? ScoreCell{*row[i], false} : ScoreCell{{}, true};
  ScoreResult result;
  score(cells, result);
  return result;
}

namespace {

splitmodels::Distribution distributionOf(detail::FamilyKind family) {
  switch (family) {
    case detail::FamilyKind::Binomial:
    case detail::FamilyKind::QuasiBinomial: return Distribution::Binomial;
    case detail::FamilyKind::Poisson:
    case detail::FamilyKind::QuasiPoisson: return Distribution::Poisson;
    case detail::FamilyKind::Gamma: return Distribution::Gamma;
    case detail::FamilyKind::InverseGaussian: return Distribution::InverseGaussian;
    default: return Distribution::Normal;
  }
}

// The linear predictor and its standard error, from the model's covariance,
// and for a glm or logistic model the mean's (`z`: the Wald quantile). A
// glm without a covariance (its dispersion estimated without residual
// degrees of freedom) still gives its linear predictor and mean.
void standardError(const detail::Regression& regression, const detail::RegressionOutput& output,
                   const std::vector<detail::Datum>& data, std::size_t labels, double z, ScoreResult& result) {
  const bool glm = regression.generalized || regression.classification;
  // A linear fit without residual degrees of freedom has no covariance: its
  // records keep their linear predictor, without a standard error.
  if (!regression.covariance && !glm) {
    result.link = output.value;
    return;
  }
  double start = std::nan("");
  std::optional<double> se = std::nan("");
  if (regression.covariance) {
    const detail::Covariance& covariance = *regression.covariance;
    // The derived values the prediction just computed, for a model that has them.
    static const std::vector<detail::Datum> none;
    const std::vector<detail::Datum>& derived = regression.derived.empty() ? none : detail::lastDerivedValues();
    se = detail::linkStandardError(covariance, data, derived, regression.derivedBase, &start);
    if (!se) return;
    result.linkStdError = *se;
    result.dfResidual = covariance.dfResidual;
    result.sigma = covariance.sigma;
    result.parameters = static_cast<double>(covariance.terms.size());
    result.dispersion = covariance.dispersion;
    result.deviance = covariance.deviance;
  }
  if (!glm) {
    result.link = output.value;
    return;
  }
  bool invalid = false;
  const std::optional<detail::RegressionOutput> linear = detail::evaluate(regression, data, labels, invalid, true);
  if (!linear) return;
  const detail::LinkKind link = regression.link;
  const double eta = result.link = linear->value;
  result.distribution = distributionOf(regression.family);
  result.mean = detail::inverseLink(link, eta);
  result.meanDerivative = detail::inverseLinkDerivative(link, eta);
  result.meanStdError = *se * std::fabs(result.meanDerivative);
  const double a = detail::inverseLink(link, eta - z * *se), b = detail::inverseLink(link, eta + z * *se);
  // An end past the inverse link's domain (NaN) leaves the interval
  // missing at both ends; std::min and std::max alone would keep whichever
  // end came first.
  const bool defined = !std::isnan(a) && !std::isnan(b);
  result.meanLow = defined ? std::min(a, b) : std::numeric_limits<double>::quiet_NaN();
  result.meanHigh = defined ? std::max(a, b) : std::numeric_limits<double>::quiet_NaN();
  result.variance = detail::familyVariance(regression.family, result.mean);
  // The working weight where the fit's last step took it: its linear
  // predictor, with the record's offset, at the step's start coefficients.
  if (!std::isnan(start) && regression.offsetField >= 0) {
    const auto field = static_cast<std::size_t>(regression.offsetField);
    const detail::Datum& offset = regression.derived.empty() || field < regression.derivedBase
                                      ? data[field]
                                      : detail::lastDerivedValues()[field - regression.derivedBase];
    start = offset.missing || offset.invalid || !offset.numeric ? std::nan("") : start + offset.number;
  }
  const double startEta = std::isnan(start) ? eta : start;
  const double derivative = detail::inverseLinkDerivative(link, startEta);
  result.workingWeight =
      derivative * derivative / detail::familyVariance(regression.family, detail::inverseLink(link, startEta));
}

}  // namespace

void SplitScorer::computeStandardErrors(bool on, double level) {
  impl_->standardErrors = on;
  impl_->waldQuantile = -studentQuantile((1.0 - level) / 2.0, std::numeric_limits<double>::infinity());
}

bool SplitScorer::hasCovariance() const {
  for (const detail::Segment& segment : impl_->model.segments)
    if (segment.model.covariance) return true;
  return false;
}

bool SplitScorer::isGeneralized() const {
  for (const detail::Segment& segment : impl_->model.segments)
    if (segment.model.generalized && !segment.model.leastSquares) return true;
  return false;
}

void SplitScorer::score(const std::vector<ScoreCell>& row, ScoreResult& result) const {
  const detail::ScoringModel& model = impl_->model;
  if (!impl_->bound) throw ScoreError("score called before bind");
  if (row.size() < impl_->headerSize)
    throw ScoreError("row has " + std::to_string(row.size()) + " values for " + std::to_string(impl_->headerSize) +
                     " columns");
  result.selected = result.invalid = false;
  result.predicted.clear();
  result.probabilities.clear();
  result.segmentId.clear();
  result.link = result.linkStdError = result.dfResidual = result.sigma = result.parameters = std::nan("");
  result.mean = result.meanStdError = result.meanLow = result.meanHigh = result.meanDerivative = result.variance =
      result.dispersion = result.deviance = result.workingWeight = std::nan("");

  bool anyInvalid = false;
  // Every field a predicate or predictor reads is required, so each is
  // converted here; the others keep whatever an earlier row left and are
  // never read.
  thread_local std::vector<detail::Datum> data;
  if (data.size() < model.dictionary.size()) data.resize(model.dictionary.size());
  for (std::size_t i = 0; i < model.requiredIndex.size(); ++i) {
    const auto field = static_cast<std::size_t>(model.requiredIndex[i]);
    const ScoreCell& cell = row[static_cast<std::size_t>(impl_->columnOfRequired[i])];
    detail::convertValue(model.dictionary[field], cell.missing, cell.text, data[field],
                         cell.hasNumber ? &cell.number : nullptr);
    anyInvalid |= data[field].invalid;
  }

  const std::size_t position = detail::selectSegment(model.index, model.segments, data);
  // No prediction with an invalid value in the row is laid to that value.
  result.invalid = anyInvalid;
  if (position == model.segments.size()) return;
  const detail::Segment& segment = model.segments[position];
  result.selected = true;
  if (model.segmented) result.segmentId = segment.id;
  bool invalidInput = false;
  const std::optional<detail::RegressionOutput> output =
      detail::evaluate(segment.model, data, model.labels.size(), invalidInput, impl_->linkScale && !model.classification);
  if (!output) {
    result.invalid = anyInvalid || invalidInput;
    return;
  }
  result.invalid = false;
  if (impl_->standardErrors)
    standardError(segment.model, *output, data, model.labels.size(), impl_->waldQuantile, result);
  if (!model.classification) {
    detail::appendShortest(result.predicted, output->value);
    return;
  }
  result.probabilities = output->probabilities;
  const auto best = std::max_element(result.probabilities.begin(), result.probabilities.end());
  result.predicted = model.labels[static_cast<std::size_t>(best - result.probabilities.begin())];
}

const std::string& SplitScorer::targetName() const { return impl_->model.target; }
bool SplitScorer::isClassification() const { return impl_->model.classification; }
const std::vector<std::string>& SplitScorer::classLabels() const { return impl_->model.labels; }
const std::vector<std::string>& SplitScorer::requiredFields() const { return impl_->model.required; }
const std::vector<std::size_t>& SplitScorer::numberColumns() const { return impl_->numberColumns; }
const std::vector<std::string>& SplitScorer::groupKey() const { return impl_->model.groupKey; }

}  // namespace splitmodels

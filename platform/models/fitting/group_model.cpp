#include "splitmodels/group_model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

#include "distributions.h"
#include "fits.h"
#include "group_writers.h"
#include "pmml_names.h"

namespace splitmodels {

namespace {

using detail::Design;

std::optional<std::string> checkRequest(const ModelSpec& request) {
  std::set<std::string> seen;
  for (const std::string& input : request.inputs) {
    if (input == request.target) return "target is also an input: " + input;
    if (!seen.insert(input).second) return "input listed twice: " + input;
  }
  return std::nullopt;
}

}  // namespace

namespace detail {

// The terms in model order with their values; a term without a design
// column, or whose column was aliased, keeps NaN everywhere.
void keepTerms(const Design& design, const detail::Coefficients& c, GroupModel& model) {
  constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
  std::vector<std::string> aliased;
  for (const detail::DesignTerm& term : design.terms) {
    Term out{term.name, kMissing, kMissing, kMissing, kMissing};
    if (term.column >= 0) {
      out.estimate = c.estimate(term.column);
      out.stdError = c.stdError(term.column);
      out.statistic = c.statistic(term.column);
      out.pValue = c.pValue(term.column);
    }
    if (std::isnan(out.estimate)) aliased.push_back(term.name);
    model.terms.push_back(std::move(out));
  }
  // The covariance over the estimated terms only: its row for each design
  // column the fit kept, taken in term order.
  std::vector<Eigen::Index> rowOfColumn(static_cast<std::size_t>(c.estimate.size()), -1);
  for (std::size_t r = 0; r < c.covarianceColumns.size(); ++r)
    rowOfColumn[static_cast<std::size_t>(c.covarianceColumns[r])] = static_cast<Eigen::Index>(r);
  std::vector<Eigen::Index> rows;
  for (const detail::DesignTerm& term : design.terms)
    if (term.column >= 0 && rowOfColumn[static_cast<std::size_t>(term.column)] >= 0)
      rows.push_back(rowOfColumn[static_cast<std::size_t>(term.column)]);
  const std::size_t count = rows.size();
  model.covariance.resize(count * count);
  for (std::size_t a = 0; a < count; ++a)
    for (std::size_t b = 0; b < count; ++b) model.covariance[a * count + b] = c.covariance(rows[a], rows[b]);
  if (!aliased.empty()) {
    std::string text = "aliased: ";
    for (std::size_t i = 0; i < aliased.size(); ++i) text += (i ? ", " : "") + aliased[i];
    model.warnings.push_back(text);
  }
  // Families whose dispersion is fixed at 1 keep their standard errors
  // without residual degrees of freedom, as R's summary of glm does.
  const bool standardErrors = std::any_of(model.terms.begin(), model.terms.end(), [](const Term& term) {
    return std::isfinite(term.stdError);
  });
  if (model.dfResidual == 0 && !standardErrors)
    model.warnings.push_back("no residual degrees of freedom: standard errors, statistics and p values are missing");
}

}  // namespace detail

namespace {

using detail::keepTerms;

// R's summary of a linear model without an intercept measures the fit
// against zero rather than against the mean.
void againstZero(const Eigen::VectorXd& y, const detail::LinearFit& fit, GroupModel& model) {
  const double n = static_cast<double>(y.size());
  const double rank = static_cast<double>(fit.coefficients.rank);
  const double mss = fit.fitted.squaredNorm();
  const double rss = (y - fit.fitted).squaredNorm();
  model.rSquared = mss / (mss + rss);
  model.dfNull = n;
  if (fit.dfResidual <= 0) return;
  model.adjustedRSquared = 1.0 - (1.0 - model.rSquared) * (n / fit.dfResidual);
  model.fStatistic = (mss / rank) / (rss / fit.dfResidual);
  model.fPValue = detail::fUpperTail(model.fStatistic, rank, fit.dfResidual);
}

// Takes the design's matrix: nothing after the fit reads it.
void buildLinear(const GroupRecords& data, const ModelSpec& request, Design& design, GroupModel& model) {
  const FieldDef& target = data.fields()[design.targetField];
  if (target.storage == StorageString || !detail::isContinuous(target)) {
    model.reason = "target is not continuous: " + request.target;
    return;
  }
  Eigen::VectorXd y(static_cast<Eigen::Index>(design.rows.size()));
  if (design.response.size() > 0)
    y = design.response;
  else
    for (std::size_t i = 0; i < design.rows.size(); ++i)
      y(static_cast<Eigen::Index>(i)) = design.target.numbers[design.rows[i]];
  // As R's lm, a formula's offset is taken from the response before the fit,
  // so R² and F describe what the predictors explain beside it.
  const bool offset = design.offset.size() > 0;
  if (offset) y -= design.offset;
  detail::LinearFit fit;
  if (auto reason = detail::fitLinear(std::move(design.x), y, fit)) {
    model.reason = *reason;
    return;
  }
  model.dfResidual = fit.dfResidual;
  model.sigma = fit.sigma;
  model.rSquared = fit.rSquared;
  model.adjustedRSquared = fit.adjustedRSquared;
  model.fStatistic = fit.fStatistic;
  model.fPValue = fit.fPValue;
  model.family = "gaussian";
  model.link = "identity";
  model.dispersion = fit.sigma * fit.sigma;
  model.dfNull = static_cast<double>(design.rows.size()) - 1.0;
  model.fitted.assign(fit.fitted.begin(), fit.fitted.end());
  if (offset)
    for (std::size_t i = 0; i < model.fitted.size(); ++i) model.fitted[i] += design.offset(static_cast<Eigen::Index>(i));
  if (!detail::hasIntercept(design)) againstZero(y, fit, model);
  keepTerms(design, fit.coefficients, model);
  // A formula model is a gaussian glm: its dispersion is sigma², its
  // deviance the residual sum of squares.
  const double variance = fit.sigma * fit.sigma;
  model.pmml = design.formula ? detail::writeFormulaPmml(data.fields(), request, design, fit.coefficients,
                                                         {fit.dfResidual, variance, variance * fit.dfResidual}, nullptr,
                                                         detail::FamilyKind::Gaussian, detail::LinkKind::Identity)
                              : detail::writeGroupPmml(data.fields(), request, design, fit.coefficients.estimate, nullptr,
                                                       &fit.coefficients, fit.sigma, fit.dfResidual);
  model.statXML = detail::writeGroupStatXml(data.fields(), request, design, model, nullptr);
  model.ok = true;
}

void buildLogistic(const GroupRecords& data, const ModelSpec& request, const Design& design, GroupModel& model) {
  detail::TargetClasses classes;
  Eigen::VectorXd y;
  if (auto reason = detail::binaryTarget(data.fields()[design.targetField], request, design, classes, y)) {
    model.reason = *reason;
    return;
  }
  detail::LogisticFit fit;
  if (auto reason = detail::fitLogistic(design.x, y, fit)) {
    model.reason = *reason;
    return;
  }
  detail::keepDevianceSummary(fit, model);
  model.accuracy = fit.accuracy;
  model.auc = fit.auc;
  model.family = "binomial";
  model.link = "logit";
  model.dispersion = 1.0;
  model.fitted.assign(fit.probability.begin(), fit.probability.end());
  if (!detail::hasIntercept(design)) {  // R's null model is then p = 1/2 for every record
    model.nullDeviance = 2.0 * static_cast<double>(y.size()) * std::log(2.0);
    model.dfNull = static_cast<double>(y.size());
  }
  if (!fit.converged)
    model.warnings.push_back("did not converge in " + std::to_string(fit.iterations) + " iterations");
  if (fit.boundary) model.warnings.push_back("fitted probabilities numerically 0 or 1 occurred");
  keepTerms(design, fit.coefficients, model);
  model.pmml = design.formula ? detail::writeFormulaPmml(data.fields(), request, design, fit.coefficients,
                                                         {fit.dfResidual, 1.0, fit.deviance}, &classes,
                                                         detail::FamilyKind::Binomial, detail::LinkKind::Logit)
                              : detail::writeGroupPmml(data.fields(), request, design, fit.coefficients.estimate,
                                                       &classes, &fit.coefficients,
                                                       std::numeric_limits<double>::quiet_NaN(), fit.dfResidual,
                                                       fit.deviance);
  model.statXML = detail::writeGroupStatXml(data.fields(), request, design, model, &classes);
  model.ok = true;
}

// A logistic model of a numeric response (a formula's cbind(s, f), or a
// proportion) is the binomial glm with the logit link.
ModelSpec logisticAsGlm(const ModelSpec& request) {
  ModelSpec glm = request;
  glm.kind = ModelKind::Glm;
  glm.family = "binomial";
  glm.link = "logit";
  return glm;
}


}  // namespace

GroupModel buildGroupModel(const GroupRecords& data, const ModelSpec& request) {
  GroupModel model;
  try {
    if (auto reason = request.formula.empty() ? checkRequest(request) : std::nullopt) {
      model.reason = *reason;
      return model;
    }
    Design design;
    if (auto reason = detail::buildDesign(data, request, design)) {
      model.reason = *reason;
      return model;
    }
    model.records = design.rows.size();
    model.skippedRecords = design.skipped;
    if (request.kind == ModelKind::Logistic && design.response.size() > 0)
      detail::buildGlm(data, logisticAsGlm(request), design, model);
    else if (request.kind == ModelKind::Logistic)
      buildLogistic(data, request, design, model);
    else if (request.kind == ModelKind::Glm)
      detail::buildGlm(data, request, design, model);
    else
      buildLinear(data, request, design, model);
  } catch (const std::exception& error) {  // allocation failure and the like
    model = GroupModel{};
    model.reason = std::string("build failed: ") + error.what();
  }
  return model;
}

namespace {

// Rows of cells read field by field.
class RowRecords : public GroupRecords {
public:
  explicit RowRecords(const GroupData& data) : data_(data) {}
  const std::vector<FieldDef>& fields() const override { return data_.fields; }
  std::size_t rowCount() const override { return data_.rows.size(); }
  void readField(std::size_t field, FieldColumn& out) const override {
    const std::size_t n = data_.rows.size();
    const bool text = data_.fields[field].storage == StorageString;
    out.missing.assign(n, 0);
    const std::span<double> numbers = out.holdNumbers(text ? 0 : n);
    out.texts.assign(text ? n : 0, std::string_view());
    for (std::size_t r = 0; r < n; ++r) {
      const Cell& cell = data_.rows[r][field];
      out.missing[r] = cell.missing;
      if (text)
        out.texts[r] = cell.text;
      else
        numbers[r] = cell.number;
    }
  }

private:
  const GroupData& data_;
};

}  // namespace

GroupModel buildGroupModel(const GroupData& data, const ModelSpec& request) {
  for (std::size_t r = 0; r < data.rows.size(); ++r) {
    if (data.rows[r].size() == data.fields.size()) continue;
    GroupModel model;
    model.reason = "row " + std::to_string(r + 1) + " has " + std::to_string(data.rows[r].size()) +
                   " values for " + std::to_string(data.fields.size()) + " fields";
    return model;
  }
  return buildGroupModel(RowRecords(data), request);
}

}  // namespace splitmodels

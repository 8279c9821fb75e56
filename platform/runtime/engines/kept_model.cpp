#include "kept_model.h"

#include <algorithm>

namespace splitrun {

namespace {

bool sameShape(const ModelShape& shape, const splitmodels::GroupModel& model)
{
    if (shape.termNames.size() != model.terms.size() || shape.family != model.family || shape.link != model.link)
        return false;
    for (std::size_t i = 0; i < model.terms.size(); ++i)
        if (shape.termNames[i] != model.terms[i].name) return false;
    return true;
}

// The names, family and link joined with their lengths, so that no two
// shapes share a key.
std::string shapeKey(const splitmodels::GroupModel& model)
{
    std::string key;
    const auto add = [&key](const std::string& text) {
        key += std::to_string(text.size());
        key += ':';
        key += text;
    };
    add(model.family);
    add(model.link);
    for (const splitmodels::Term& term : model.terms) add(term.name);
    return key;
}

std::shared_ptr<const ModelShape> newShape(const splitmodels::GroupModel& model)
{
    auto shape = std::make_shared<ModelShape>();
    shape->termNames.reserve(model.terms.size());
    for (const splitmodels::Term& term : model.terms) shape->termNames.push_back(term.name);
    shape->family = model.family;
    shape->link = model.link;
    return shape;
}

const std::string kEmpty;
const std::vector<std::string> kNoWarnings;

}  // namespace

std::shared_ptr<const ModelShape> ModelShapes::of(const splitmodels::GroupModel& model)
{
    std::lock_guard<std::mutex> guard(mutex_);
    // Groups in a row nearly always share the last shape.
    if (last_ && sameShape(*last_, model)) return last_;
    std::shared_ptr<const ModelShape>& shape = byKey_[shapeKey(model)];
    if (!shape) shape = newShape(model);
    last_ = shape;
    return shape;
}

KeptModel::KeptModel(const splitmodels::GroupModel& model, ModelShapes* shapes)
    : ok(model.ok),
      converged(model.converged),
      iterations(model.iterations),
      records(model.records),
      skippedRecords(model.skippedRecords),
      dfResidual(model.dfResidual),
      sigma(model.sigma),
      rSquared(model.rSquared),
      adjustedRSquared(model.adjustedRSquared),
      fStatistic(model.fStatistic),
      fPValue(model.fPValue),
      deviance(model.deviance),
      nullDeviance(model.nullDeviance),
      dfNull(model.dfNull),
      aic(model.aic),
      accuracy(model.accuracy),
      logLikelihood(model.logLikelihood),
      auc(model.auc),
      dispersion(model.dispersion)
{
    shape_ = shapes ? shapes->of(model) : newShape(model);
    covarianceSize_ = static_cast<std::uint32_t>(model.covariance.size());
    const std::size_t size = 4 * model.terms.size() + model.covariance.size();
    if (size > 0) {
        values_ = std::make_unique_for_overwrite<double[]>(size);
        double* at = values_.get();
        for (const splitmodels::Term& term : model.terms) {
            *at++ = term.estimate;
            *at++ = term.stdError;
            *at++ = term.statistic;
            *at++ = term.pValue;
        }
        std::copy(model.covariance.begin(), model.covariance.end(), at);
    }
    if (!model.reason.empty() || !model.warnings.empty())
        notes_ = std::make_unique<Notes>(Notes{model.reason, model.warnings});
}

KeptTerm KeptModel::term(std::size_t i) const
{
    const double* at = values_.get() + 4 * i;
    return {shape_->termNames[i], at[0], at[1], at[2], at[3]};
}

std::span<const double> KeptModel::covariance() const
{
    if (covarianceSize_ == 0) return {};
    return {values_.get() + 4 * termCount(), covarianceSize_};
}

const std::string& KeptModel::family() const { return shape_ ? shape_->family : kEmpty; }
const std::string& KeptModel::link() const { return shape_ ? shape_->link : kEmpty; }
const std::string& KeptModel::reason() const { return notes_ ? notes_->reason : kEmpty; }
const std::vector<std::string>& KeptModel::warnings() const { return notes_ ? notes_->warnings : kNoWarnings; }

splitmodels::GroupModel KeptModel::expanded() const
{
    splitmodels::GroupModel model;
    model.ok = ok;
    model.reason = reason();
    model.records = records;
    model.skippedRecords = skippedRecords;
    model.warnings = warnings();
    model.terms.reserve(termCount());
    for (std::size_t i = 0; i < termCount(); ++i) {
        const KeptTerm kept = term(i);
        model.terms.push_back({kept.name, kept.estimate, kept.stdError, kept.statistic, kept.pValue});
    }
    const std::span<const double> cov = covariance();
    model.covariance.assign(cov.begin(), cov.end());
    model.dfResidual = dfResidual;
    model.sigma = sigma;
    model.rSquared = rSquared;
    model.adjustedRSquared = adjustedRSquared;
    model.fStatistic = fStatistic;
    model.fPValue = fPValue;
    model.deviance = deviance;
    model.nullDeviance = nullDeviance;
    model.dfNull = dfNull;
    model.aic = aic;
    model.iterations = iterations;
    model.accuracy = accuracy;
    model.logLikelihood = logLikelihood;
    model.auc = auc;
    model.family = family();
    model.link = link();
    model.dispersion = dispersion;
    model.converged = converged;
    return model;
}

}  // namespace splitrun

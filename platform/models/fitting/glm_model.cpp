// A group's model of any family and link of R's glm.
#include <cmath>

#include "fits.h"
#include "group_writers.h"
#include "pmml_names.h"

#include <algorithm>
#include <limits>

namespace splitmodels {

std::vector<std::string> glmFamilies() {
  return {"gaussian", "binomial", "poisson", "Gamma", "inverse.gaussian", "quasibinomial", "quasipoisson"};
}

std::vector<std::string> glmLinks(const std::string& family) {
  std::vector<std::string> names;
  if (const auto kind = detail::familyFromName(family))
    for (detail::LinkKind link : detail::familyLinks(*kind)) names.push_back(detail::linkName(link));
  return names;
}

namespace detail {

namespace {

// The family and link a request names; the reason when it names one that
// does not exist or does not go with the family.
std::optional<std::string> settingsFor(const ModelSpec& request, GlmSettings& settings) {
  const auto family = familyFromName(request.family);
  if (!family) return "unknown family: " + request.family;
  settings.family = *family;
  const std::vector<LinkKind>& links = familyLinks(*family);
  if (request.link.empty()) {
    settings.link = links.front();
  } else {
    const auto link = linkFromName(request.link);
    if (!link || std::find(links.begin(), links.end(), *link) == links.end())
      return "link not available for the " + request.family + " family: " + request.link;
    settings.link = *link;
  }
  settings.epsilon = request.epsilon;
  settings.maxIterations = request.maxIterations;
  return std::nullopt;
}

bool binomialFamily(FamilyKind family) { return family == FamilyKind::Binomial || family == FamilyKind::QuasiBinomial; }

// The response: the target's numbers, or for a binomial family with a
// two-valued categorical target, 1 for the event and 0 for the other value.
std::optional<std::string> responseFor(const FieldDef& target, const ModelSpec& request, const Design& design,
                                       FamilyKind family, std::optional<TargetClasses>& classes, GlmResponse& response) {
  const std::size_t n = design.rows.size();
  const bool categorical = target.storage == StorageString || !isContinuous(target);
  if (categorical && binomialFamily(family)) {
    Eigen::VectorXd y;
    classes.emplace();
    if (auto reason = binaryTarget(target, request, design, *classes, y)) return reason;
    response.y.assign(y.data(), y.data() + y.size());
  } else if (design.response.size() > 0) {
    response.y.assign(design.response.data(), design.response.data() + design.response.size());
  } else if (target.storage == StorageString) {
    return "target is not numeric: " + request.target;
  } else {
    response.y.resize(n);
    for (std::size_t i = 0; i < n; ++i) response.y[i] = design.target.numbers[design.rows[i]];
  }
  if (design.weights.size() > 0)
    response.weights.assign(design.weights.data(), design.weights.data() + design.weights.size());
  else
    response.weights.assign(n, 1.0);
  if (design.trials.size() > 0) response.trials.assign(design.trials.data(), design.trials.data() + design.trials.size());
  return std::nullopt;
}

}  // namespace

void buildGlm(const GroupRecords& data, const ModelSpec& request, const Design& design, GroupModel& model) {
  GlmSettings settings;
  if (auto reason = settingsFor(request, settings)) {
    model.reason = *reason;
    return;
  }
  std::optional<TargetClasses> classes;
  GlmResponse response;
  if (auto reason = responseFor(data.fields()[design.targetField], request, design, settings.family, classes, response)) {
    model.reason = *reason;
    return;
  }
  GlmFit fit;
  if (auto reason = fitGlm(design.x, response, design.offset, settings, fit)) {
    model.reason = *reason;
    return;
  }
  // With an offset the null model is the intercept alone fitted beside it,
  // as R's glm refits it, starting from the model's fitted means. Without
  // an intercept it is the offset alone (a mean of linkinv(0) without one).
  if (!hasIntercept(design)) {
    fit.nullDeviance = 0.0;
    fit.dfNull = 0.0;
    for (std::size_t i = 0; i < response.y.size(); ++i) {
      const double eta = design.offset.size() > 0 ? design.offset(static_cast<Eigen::Index>(i)) : 0.0;
      fit.nullDeviance += devianceResidual(settings.family, response.y[i], inverseLink(settings.link, eta), response.weights[i]);
      fit.dfNull += response.weights[i] != 0 ? 1.0 : 0.0;
    }
  } else if (design.offset.size() > 0) {
    GlmFit null;
    const std::vector<double> start(fit.mu.data(), fit.mu.data() + fit.mu.size());
    if (!fitGlm(design.x.leftCols(1), response, design.offset, settings, null, start)) {
      fit.nullDeviance = null.deviance;
      if (!null.converged)
        fit.warnings.push_back("fitting to calculate the null deviance did not converge -- increase 'maxit'?");
    } else {
      fit.nullDeviance = std::numeric_limits<double>::quiet_NaN();
    }
  }
  model.family = familyName(settings.family);
  model.link = linkName(settings.link);
  keepDevianceSummary(fit, model);
  model.dispersion = fit.dispersion;
  model.accuracy = model.auc = std::numeric_limits<double>::quiet_NaN();
  model.fitted.assign(fit.mu.data(), fit.mu.data() + fit.mu.size());
  model.warnings = fit.warnings;
  keepTerms(design, fit.coefficients, model);
  const TargetClasses* labels = classes ? &*classes : nullptr;
  model.pmml = design.formula ? writeFormulaPmml(data.fields(), request, design, fit.coefficients,
                                                 {fit.dfResidual, fit.dispersion, fit.deviance}, labels, settings.family,
                                                 settings.link)
                              : writeGeneralRegressionPmml(data.fields(), request, design, fit, labels);
  model.statXML = writeGroupStatXml(data.fields(), request, design, model, labels);
  model.ok = true;
}

}  // namespace detail

}  // namespace splitmodels

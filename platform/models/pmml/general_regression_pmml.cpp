// The PMML of a glm group: a GeneralRegressionModel of type
// generalizedLinear with the family's distribution, the link, the offset
// field, one parameter per estimated design column and their covariance.
#include <cmath>

#include "covariance_pmml.h"
#include "glm_family.h"
#include "group_writers.h"
#include "pmml_names.h"
#include "value_text.h"

namespace splitmodels::detail {

std::string distributionName(FamilyKind family) {
  switch (family) {
    case FamilyKind::Gaussian: return "normal";
    case FamilyKind::Binomial:
    case FamilyKind::QuasiBinomial: return "binomial";
    case FamilyKind::Poisson:
    case FamilyKind::QuasiPoisson: return "poisson";
    case FamilyKind::Gamma: return "gamma";
    case FamilyKind::InverseGaussian: return "igauss";
  }
  return "normal";
}

// The link as PMML names it: R's inverse, 1/mu^2 and sqrt links are power
// links; the cauchit link has no PMML name and travels in an Extension.
void writeLink(pugi::xml_node model, LinkKind link) {
  switch (link) {
    case LinkKind::Inverse:
    case LinkKind::InverseSquare:
    case LinkKind::Sqrt:
      setAttribute(model, "linkFunction", "power");
      setAttribute(model, "linkParameter",
                   link == LinkKind::Inverse ? "-1" : link == LinkKind::InverseSquare ? "-2" : "0.5");
      return;
    case LinkKind::Cauchit: return;
    default: setAttribute(model, "linkFunction", linkName(link));
  }
}

namespace {

const FieldDef* fieldNamed(const std::vector<FieldDef>& fields, const std::string& name) {
  for (const FieldDef& field : fields)
    if (field.name == name) return &field;
  return nullptr;
}

}  // namespace

std::string parameterName(Eigen::Index column) { return "p" + std::to_string(column); }

void writeParameterList(pugi::xml_node model, const Design& design, const Eigen::VectorXd& beta)
{
  // One parameter per estimated column, labelled with R's coefficient name.
  pugi::xml_node parameters = model.append_child("ParameterList");
  for (Eigen::Index j = 0; j < beta.size(); ++j) {
    if (std::isnan(beta(j))) continue;
    pugi::xml_node parameter = parameters.append_child("Parameter");
    setAttribute(parameter, "name", parameterName(j));
    setAttribute(parameter, "label", design.columnNames[static_cast<std::size_t>(j)]);
  }
}

void writeCategories(pugi::xml_node predictor, const InputCoding& coding)
{
  // The categories the group's fit saw: its reference and every coded one,
  // aliased or not. Any other category gets no prediction (the MiningField
  // says returnInvalid), as in the split model.
  if (coding.reference < 0) return;
  pugi::xml_node categories = predictor.append_child("Categories");
  setAttribute(categories.append_child("Category"), "value",
               coding.categories[static_cast<std::size_t>(coding.reference)]);
  for (std::size_t c : coding.dummies) setAttribute(categories.append_child("Category"), "value", coding.categories[c]);
}

void writeParamMatrix(pugi::xml_node model, const Eigen::VectorXd& beta, const TargetClasses* classes)
{
  pugi::xml_node estimates = model.append_child("ParamMatrix");
  for (Eigen::Index j = 0; j < beta.size(); ++j) {
    if (std::isnan(beta(j))) continue;
    pugi::xml_node node = estimates.append_child("PCell");
    if (classes) setAttribute(node, "targetCategory", classes->event);
    setAttribute(node, "parameterName", parameterName(j));
    setAttribute(node, "beta", formatNumber(beta(j)));
    setAttribute(node, "df", "1");
  }
}

std::string writeGeneralRegressionPmml(const std::vector<FieldDef>& fields, const ModelSpec& request,
                                       const Design& design, const GlmFit& fit, const TargetClasses* classes) {
  const Eigen::VectorXd& beta = fit.coefficients.estimate;
  const FamilyKind family = *familyFromName(request.family);
  const LinkKind link = request.link.empty() ? familyLinks(family).front() : *linkFromName(request.link);
  pugi::xml_document doc;
  pugi::xml_node root = startDocument(doc, "PMML");
  setAttribute(root, "xmlns", kPmmlNamespace);
  setAttribute(root, "version", kPmmlVersion);
  writeHeader(root, "Generalized linear model of " + request.target + " (" + familyName(family) + " family, " +
                        linkName(link) + " link)");
  pugi::xml_node dictionary = writeDictionary(root, fields, design, classes);
  const FieldDef* offset = request.offset.empty() ? nullptr : fieldNamed(fields, request.offset);
  if (offset) {
    pugi::xml_node field = dictionary.append_child("DataField");
    setAttribute(field, "name", offset->name);
    setAttribute(field, "optype", "continuous");
    setAttribute(field, "dataType", pmmlDataType(offset->storage));
    setAttribute(dictionary, "numberOfFields", std::to_string(design.inputs.size() + 2));
  }

  pugi::xml_node model = root.append_child("GeneralRegressionModel");
  if (!request.modelId.empty()) setAttribute(model, "modelName", request.modelId);
  setAttribute(model, "targetVariableName", request.target);
  setAttribute(model, "modelType", "generalizedLinear");
  setAttribute(model, "functionName", classes ? "classification" : "regression");
  setAttribute(model, "algorithmName", "iterativelyReweightedLeastSquares");
  if (classes) setAttribute(model, "targetReferenceCategory", classes->other);
  writeLink(model, link);
  setAttribute(model, "distribution", distributionName(family));
  if (offset) setAttribute(model, "offsetVariable", offset->name);
  if (link == LinkKind::Cauchit) {
    pugi::xml_node extension = model.append_child("Extension");
    setAttribute(extension, "name", "linkFunction");
    setAttribute(extension, "value", "cauchit");
  }
  pugi::xml_node schema = writeMiningSchema(model, fields, design);
  if (offset) {
    pugi::xml_node field = schema.append_child("MiningField");
    setAttribute(field, "name", offset->name);
    setAttribute(field, "usageType", "active");
  }

  writeParameterList(model, design, beta);
  pugi::xml_node factors, covariates;
  for (const InputCoding& coding : design.inputs) {
    if (coding.continuous) continue;
    if (!factors) factors = model.append_child("FactorList");
    pugi::xml_node predictor = factors.append_child("Predictor");
    setAttribute(predictor, "name", fields[coding.field].name);
    writeCategories(predictor, coding);
  }
  for (const InputCoding& coding : design.inputs) {
    if (!coding.continuous) continue;
    if (!covariates) covariates = model.append_child("CovariateList");
    setAttribute(covariates.append_child("Predictor"), "name", fields[coding.field].name);
  }
  pugi::xml_node matrix = model.append_child("PPMatrix");
  const auto cell = [&](Eigen::Index column, const std::string& value, const std::string& predictor) {
    if (std::isnan(beta(column))) return;
    pugi::xml_node node = matrix.append_child("PPCell");
    setAttribute(node, "value", value);
    setAttribute(node, "predictorName", predictor);
    setAttribute(node, "parameterName", parameterName(column));
  };
  Eigen::Index column = 1;
  for (const InputCoding& coding : design.inputs) {
    const std::string& name = fields[coding.field].name;
    if (coding.continuous) cell(column++, "1", name);
    for (std::size_t c : coding.dummies) cell(column++, coding.categories[c], name);
  }
  writeParameterCovariance(model, fit.coefficients, {fit.dfResidual, fit.dispersion, fit.deviance},
                           parameterName);
  writeParamMatrix(model, beta, classes);
  return serialize(doc);
}

}  // namespace splitmodels::detail

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
void writeLink(XmlText& xml, LinkKind link) {
  switch (link) {
    case LinkKind::Inverse:
    case LinkKind::InverseSquare:
    case LinkKind::Sqrt:
      xml.attribute("linkFunction", "power");
      xml.attribute("linkParameter", link == LinkKind::Inverse ? "-1" : link == LinkKind::InverseSquare ? "-2" : "0.5");
      return;
    case LinkKind::Cauchit: return;
    default: xml.attribute("linkFunction", linkName(link));
  }
}

void writeLinkExtension(XmlText& xml, LinkKind link) {
  if (link == LinkKind::Cauchit)
    xml.open("Extension").attribute("name", "linkFunction").attribute("value", "cauchit").close();
}

namespace {

const FieldDef* fieldNamed(const std::vector<FieldDef>& fields, const std::string& name) {
  for (const FieldDef& field : fields)
    if (field.name == name) return &field;
  return nullptr;
}

}  // namespace

std::string parameterName(Eigen::Index column) { return "p" + std::to_string(column); }

void writeParameterList(XmlText& xml, const Design& design, const Eigen::VectorXd& beta)
{
  // One parameter per estimated column, labelled with R's coefficient name.
  xml.open("ParameterList");
  for (Eigen::Index j = 0; j < beta.size(); ++j) {
    if (std::isnan(beta(j))) continue;
    xml.open("Parameter").attribute("name", parameterName(j));
    xml.attribute("label", design.columnNames[static_cast<std::size_t>(j)]).close();
  }
  xml.close();
}

void writeCategories(XmlText& xml, const InputCoding& coding)
{
  // The categories the group's fit saw: its reference and every coded one,
  // aliased or not. Any other category gets no prediction (the MiningField
  // says returnInvalid), as in the split model.
  if (coding.reference < 0) return;
  xml.open("Categories");
  xml.empty("Category", "value", coding.categories[static_cast<std::size_t>(coding.reference)]);
  for (std::size_t c : coding.dummies) xml.empty("Category", "value", coding.categories[c]);
  xml.close();
}

void writeParamMatrix(XmlText& xml, const Eigen::VectorXd& beta, const TargetClasses* classes)
{
  xml.open("ParamMatrix");
  for (Eigen::Index j = 0; j < beta.size(); ++j) {
    if (std::isnan(beta(j))) continue;
    xml.open("PCell");
    if (classes) xml.attribute("targetCategory", classes->event);
    xml.attribute("parameterName", parameterName(j)).number("beta", beta(j));
    xml.attribute("df", "1").close();
  }
  xml.close();
}

std::string writeGeneralRegressionPmml(const std::vector<FieldDef>& fields, const ModelSpec& request,
                                       const Design& design, const GlmFit& fit, const TargetClasses* classes) {
  const Eigen::VectorXd& beta = fit.coefficients.estimate;
  const FamilyKind family = *familyFromName(request.family);
  const LinkKind link = request.link.empty() ? familyLinks(family).front() : *linkFromName(request.link);
  const FieldDef* offset = request.offset.empty() ? nullptr : fieldNamed(fields, request.offset);
  std::string text;
  XmlText xml(text);
  startPmml(xml);
  writeHeader(xml, "Generalized linear model of " + request.target + " (" + familyName(family) + " family, " +
                       linkName(link) + " link)");
  writeDictionary(xml, fields, design, classes, offset);

  xml.open("GeneralRegressionModel");
  if (!request.modelId.empty()) xml.attribute("modelName", request.modelId);
  xml.attribute("targetVariableName", request.target).attribute("modelType", "generalizedLinear");
  xml.attribute("functionName", classes ? "classification" : "regression");
  xml.attribute("algorithmName", "iterativelyReweightedLeastSquares");
  if (classes) xml.attribute("targetReferenceCategory", classes->other);
  writeLink(xml, link);
  xml.attribute("distribution", distributionName(family));
  if (offset) xml.attribute("offsetVariable", offset->name);
  writeLinkExtension(xml, link);
  writeMiningSchema(xml, fields, design, offset);

  writeParameterList(xml, design, beta);
  const auto any = [&](bool continuous) {
    for (const InputCoding& coding : design.inputs)
      if (coding.continuous == continuous) return true;
    return false;
  };
  if (any(false)) {
    xml.open("FactorList");
    for (const InputCoding& coding : design.inputs) {
      if (coding.continuous) continue;
      xml.open("Predictor").attribute("name", fields[coding.field].name);
      writeCategories(xml, coding);
      xml.close();
    }
    xml.close();
  }
  if (any(true)) {
    xml.open("CovariateList");
    for (const InputCoding& coding : design.inputs)
      if (coding.continuous) xml.empty("Predictor", "name", fields[coding.field].name);
    xml.close();
  }
  xml.open("PPMatrix");
  const auto cell = [&](Eigen::Index column, const std::string& value, const std::string& predictor) {
    if (std::isnan(beta(column))) return;
    xml.open("PPCell").attribute("value", value).attribute("predictorName", predictor);
    xml.attribute("parameterName", parameterName(column)).close();
  };
  Eigen::Index column = 1;
  for (const InputCoding& coding : design.inputs) {
    const std::string& name = fields[coding.field].name;
    if (coding.continuous) cell(column++, "1", name);
    for (std::size_t c : coding.dummies) cell(column++, coding.categories[c], name);
  }
  xml.close();
  writeParameterCovariance(xml, fit.coefficients, {fit.dfResidual, fit.dispersion, fit.deviance}, parameterName);
  writeParamMatrix(xml, beta, classes);
  xml.close().close();
  return text;
}

}  // namespace splitmodels::detail

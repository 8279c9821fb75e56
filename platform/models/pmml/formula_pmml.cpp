// The PMML of a model fitted from an R formula: one GeneralRegressionModel
// of type generalizedLinear, also for linear (normal, identity) and
// logistic (binomial, logit) fits, since only it writes products of
// predictors (interactions, powers) as PPMatrix cells.
#include <cmath>

#include "formula_design.h"
#include "group_writers.h"
#include "pmml_names.h"
#include "value_text.h"

namespace splitmodels::detail {

namespace {

using formula::Node;

void writeConstant(XmlText& xml, double value) {
  xml.open("Constant").attribute("dataType", "double").text(formatNumber(value)).close();
}

// Opens an Apply element; the caller writes its arguments and closes it.
XmlText& openApply(XmlText& xml, std::string_view function) {
  return xml.open("Apply").attribute("function", function);
}

// The PMML expression of R arithmetic: log2(x) as ln(x) / ln(2), log(x, b)
// as ln(x) / ln(b), -x as -1 * x, x^k as pow(x, k).
void writeExpression(XmlText& xml, const Node& node) {
  switch (node.kind) {
    case Node::Kind::Name: xml.empty("FieldRef", "field", node.text); return;
    case Node::Kind::Number: writeConstant(xml, node.number); return;
    case Node::Kind::Paren: writeExpression(xml, node.args[0]); return;
    case Node::Kind::Unary: {
      if (node.text == "+") return writeExpression(xml, node.args[0]);
      openApply(xml, "*");
      writeConstant(xml, -1);
      writeExpression(xml, node.args[0]);
      xml.close();
      return;
    }
    case Node::Kind::Binary: {
      openApply(xml, node.text == "^" ? "pow" : std::string_view(node.text));
      writeExpression(xml, node.args[0]);
      writeExpression(xml, node.args[1]);
      xml.close();
      return;
    }
    case Node::Kind::Call: break;
  }
  const std::string& name = node.text;
  if (name == "I") return writeExpression(xml, node.args[0]);
  if (name == "log2" || (name == "log" && node.args.size() == 2)) {
    openApply(xml, "/");
    openApply(xml, "ln");
    writeExpression(xml, node.args[0]);
    xml.close();
    openApply(xml, "ln");
    if (name == "log2")
      writeConstant(xml, 2);
    else
      writeExpression(xml, node.args[1]);
    xml.close().close();
    return;
  }
  openApply(xml, name == "log" ? "ln" : std::string_view(name));
  writeExpression(xml, node.args[0]);
  xml.close();
}

}  // namespace

std::string writeFormulaPmml(const std::vector<FieldDef>& fields, const ModelSpec& request, const Design& design,
                             const Coefficients& coefficients, const FitScale& scale, const TargetClasses* classes,
                             FamilyKind family, LinkKind link) {
  const Eigen::VectorXd& beta = coefficients.estimate;
  const formula::Layout& layout = *design.formula;
  std::string text;
  XmlText xml(text);
  startPmml(xml);
  writeHeader(xml, "Generalized linear model of " + layout.response + " (" + familyName(family) + " family, " +
                       linkName(link) + " link) from the formula " + request.formula);
  writeDictionary(xml, fields, design, classes);

  xml.open("GeneralRegressionModel");
  if (!request.modelId.empty()) xml.attribute("modelName", request.modelId);
  xml.attribute("targetVariableName", request.target).attribute("modelType", "generalizedLinear");
  xml.attribute("functionName", classes ? "classification" : "regression");
  // leastSquares marks a linear model (lm), which the scorer treats as one
  // (prediction intervals, lm diagnostics); a gaussian glm is fitted by IRLS.
  xml.attribute("algorithmName",
                request.kind == ModelKind::Linear ? "leastSquares" : "iterativelyReweightedLeastSquares");
  if (classes) xml.attribute("targetReferenceCategory", classes->other);
  writeLink(xml, link);
  xml.attribute("distribution", distributionName(family));
  if (!layout.offset.empty()) xml.attribute("offsetVariable", layout.offset);
  writeLinkExtension(xml, link);
  writeMiningSchema(xml, fields, design);
  if (!layout.derived.empty()) {
    xml.open("LocalTransformations");
    for (const formula::DerivedInput& derived : layout.derived) {
      xml.open("DerivedField").attribute("name", derived.name).attribute("optype", "continuous");
      xml.attribute("dataType", "double");
      writeExpression(xml, derived.expression);
      xml.close();
    }
    xml.close();
  }

  writeParameterList(xml, design, beta);
  if (!layout.factors.empty()) {
    xml.open("FactorList");
    for (std::size_t k : layout.factors) {
      const InputCoding& coding = design.inputs[k];
      xml.open("Predictor").attribute("name", fields[coding.field].name);
      writeCategories(xml, coding);
      xml.close();
    }
    xml.close();
  }
  if (!layout.covariates.empty()) {
    xml.open("CovariateList");
    for (const std::string& name : layout.covariates) xml.empty("Predictor", "name", name);
    xml.close();
  }
  xml.open("PPMatrix");
  for (Eigen::Index j = 0; j < beta.size(); ++j) {
    if (std::isnan(beta(j))) continue;
    for (const formula::ColumnPart& part : layout.columns[static_cast<std::size_t>(j)]) {
      xml.open("PPCell").attribute("value", part.categorical ? part.level : std::to_string(part.power));
      xml.attribute("predictorName", part.predictor).attribute("parameterName", parameterName(j)).close();
    }
  }
  xml.close();
  writeParameterCovariance(xml, coefficients, scale, parameterName);
  writeParamMatrix(xml, beta, classes);
  xml.close().close();
  return text;
}

}  // namespace splitmodels::detail

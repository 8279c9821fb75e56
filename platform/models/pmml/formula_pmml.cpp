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

void writeConstant(pugi::xml_node parent, double value) {
  pugi::xml_node constant = parent.append_child("Constant");
  setAttribute(constant, "dataType", "double");
  constant.text().set(formatNumber(value).c_str());
}

pugi::xml_node writeApply(pugi::xml_node parent, const char* function) {
  pugi::xml_node apply = parent.append_child("Apply");
  setAttribute(apply, "function", function);
  return apply;
}

// The PMML expression of R arithmetic: log2(x) as ln(x) / ln(2), log(x, b)
// as ln(x) / ln(b), -x as -1 * x, x^k as pow(x, k).
void writeExpression(pugi::xml_node parent, const Node& node) {
  switch (node.kind) {
    case Node::Kind::Name: setAttribute(parent.append_child("FieldRef"), "field", node.text); return;
    case Node::Kind::Number: writeConstant(parent, node.number); return;
    case Node::Kind::Paren: writeExpression(parent, node.args[0]); return;
    case Node::Kind::Unary: {
      if (node.text == "+") return writeExpression(parent, node.args[0]);
      pugi::xml_node apply = writeApply(parent, "*");
      writeConstant(apply, -1);
      writeExpression(apply, node.args[0]);
      return;
    }
    case Node::Kind::Binary: {
      pugi::xml_node apply = writeApply(parent, node.text == "^" ? "pow" : node.text.c_str());
      writeExpression(apply, node.args[0]);
      writeExpression(apply, node.args[1]);
      return;
    }
    case Node::Kind::Call: break;
  }
  const std::string& name = node.text;
  if (name == "I") return writeExpression(parent, node.args[0]);
  if (name == "log2" || (name == "log" && node.args.size() == 2)) {
    pugi::xml_node ratio = writeApply(parent, "/");
    writeExpression(writeApply(ratio, "ln"), node.args[0]);
    pugi::xml_node base = writeApply(ratio, "ln");
    if (name == "log2")
      writeConstant(base, 2);
    else
      writeExpression(base, node.args[1]);
    return;
  }
  writeExpression(writeApply(parent, name == "log" ? "ln" : name.c_str()), node.args[0]);
}

}  // namespace

std::string writeFormulaPmml(const std::vector<FieldDef>& fields, const ModelSpec& request, const Design& design,
                             const Coefficients& coefficients, const FitScale& scale, const TargetClasses* classes,
                             FamilyKind family, LinkKind link) {
  const Eigen::VectorXd& beta = coefficients.estimate;
  const formula::Layout& layout = *design.formula;
  pugi::xml_document doc;
  pugi::xml_node root = startDocument(doc, "PMML");
  setAttribute(root, "xmlns", kPmmlNamespace);
  setAttribute(root, "version", kPmmlVersion);
  writeHeader(root, "Generalized linear model of " + layout.response + " (" + familyName(family) + " family, " +
                        linkName(link) + " link) from the formula " + request.formula);
  writeDictionary(root, fields, design, classes);

  pugi::xml_node model = root.append_child("GeneralRegressionModel");
  if (!request.modelId.empty()) setAttribute(model, "modelName", request.modelId);
  setAttribute(model, "targetVariableName", request.target);
  setAttribute(model, "modelType", "generalizedLinear");
  setAttribute(model, "functionName", classes ? "classification" : "regression");
  // leastSquares marks a linear model (lm), which the scorer treats as one
  // (prediction intervals, lm diagnostics); a gaussian glm is fitted by IRLS.
  setAttribute(model, "algorithmName",
               request.kind == ModelKind::Linear ? "leastSquares" : "iterativelyReweightedLeastSquares");
  if (classes) setAttribute(model, "targetReferenceCategory", classes->other);
  writeLink(model, link);
  setAttribute(model, "distribution", distributionName(family));
  if (!layout.offset.empty()) setAttribute(model, "offsetVariable", layout.offset);
  if (link == LinkKind::Cauchit) {
    pugi::xml_node extension = model.append_child("Extension");
    setAttribute(extension, "name", "linkFunction");
    setAttribute(extension, "value", "cauchit");
  }
  writeMiningSchema(model, fields, design);
  if (!layout.derived.empty()) {
    pugi::xml_node transformations = model.append_child("LocalTransformations");
    for (const formula::DerivedInput& derived : layout.derived) {
      pugi::xml_node field = transformations.append_child("DerivedField");
      setAttribute(field, "name", derived.name);
      setAttribute(field, "optype", "continuous");
      setAttribute(field, "dataType", "double");
      writeExpression(field, derived.expression);
    }
  }

  writeParameterList(model, design, beta);
  if (!layout.factors.empty()) {
    pugi::xml_node factors = model.append_child("FactorList");
    for (std::size_t k : layout.factors) {
      const InputCoding& coding = design.inputs[k];
      pugi::xml_node predictor = factors.append_child("Predictor");
      setAttribute(predictor, "name", fields[coding.field].name);
      writeCategories(predictor, coding);
    }
  }
  if (!layout.covariates.empty()) {
    pugi::xml_node covariates = model.append_child("CovariateList");
    for (const std::string& name : layout.covariates) setAttribute(covariates.append_child("Predictor"), "name", name);
  }
  pugi::xml_node matrix = model.append_child("PPMatrix");
  for (Eigen::Index j = 0; j < beta.size(); ++j) {
    if (std::isnan(beta(j))) continue;
    for (const formula::ColumnPart& part : layout.columns[static_cast<std::size_t>(j)]) {
      pugi::xml_node cell = matrix.append_child("PPCell");
      setAttribute(cell, "value", part.categorical ? part.level : std::to_string(part.power));
      setAttribute(cell, "predictorName", part.predictor);
      setAttribute(cell, "parameterName", parameterName(j));
    }
  }
  writeParameterCovariance(model, coefficients, scale, parameterName);
  writeParamMatrix(model, beta, classes);
  return serialize(doc);
}

}  // namespace splitmodels::detail

#include <algorithm>
#include <cmath>

#include "covariance_pmml.h"
#include "group_writers.h"
#include "pmml_names.h"
#include "value_text.h"
#include "xml_out.h"

namespace splitmodels::detail {

void writeHeader(pugi::xml_node root, const std::string& description) {
  pugi::xml_node header = root.append_child("Header");
  setAttribute(header, "description", description);
  pugi::xml_node application = header.append_child("Application");
  setAttribute(application, "name", kApplicationName);
  setAttribute(application, "version", kApplicationVersion);
}

namespace {

pugi::xml_node writeDataField(pugi::xml_node dictionary, const FieldDef& field, const std::string& optype,
                              const std::vector<std::string>& categories) {
  pugi::xml_node node = dictionary.append_child("DataField");
  setAttribute(node, "name", field.name);
  setAttribute(node, "optype", optype);
  setAttribute(node, "dataType", pmmlDataType(field.storage));
  for (const std::string& category : categories) setAttribute(node.append_child("Value"), "value", category);
  return node;
}

// The target's categories: the data model's, with the two fitted labels
// added when the data model lacks them; the two labels alone when it lists
// none.
std::vector<std::string> targetCategories(const FieldDef& target, const TargetClasses& classes) {
  std::vector<std::string> categories;
  for (const std::string& text : target.categories) categories.push_back(pmmlCategory(target, text));
  const std::string& first = classes.eventIsFirst ? classes.event : classes.other;
  const std::string& second = classes.eventIsFirst ? classes.other : classes.event;
  for (const std::string* label : {&first, &second}) {
    if (std::find(categories.begin(), categories.end(), *label) == categories.end()) categories.push_back(*label);
  }
  return categories;
}

}  // namespace

pugi::xml_node writeDictionary(pugi::xml_node root, const std::vector<FieldDef>& fields, const Design& design, const TargetClasses* classes) {
  pugi::xml_node dictionary = root.append_child("DataDictionary");
  setAttribute(dictionary, "numberOfFields", std::to_string(design.inputs.size() + 1));
  const FieldDef& target = fields[design.targetField];
  if (classes)
    writeDataField(dictionary, target, target.measure == MeasureOrdinal ? "ordinal" : "categorical",
                   targetCategories(target, *classes));
  else
    writeDataField(dictionary, target, "continuous", {});
  for (const InputCoding& coding : design.inputs) {
    const FieldDef& field = fields[coding.field];
    writeDataField(dictionary, field, pmmlOptype(field), coding.categories);
  }
  return dictionary;
}

pugi::xml_node writeMiningSchema(pugi::xml_node model, const std::vector<FieldDef>& fields, const Design& design) {
  pugi::xml_node schema = model.append_child("MiningSchema");
  pugi::xml_node target = schema.append_child("MiningField");
  setAttribute(target, "name", fields[design.targetField].name);
  setAttribute(target, "usageType", "target");
  for (const InputCoding& coding : design.inputs) {
    pugi::xml_node input = schema.append_child("MiningField");
    setAttribute(input, "name", fields[coding.field].name);
    setAttribute(input, "usageType", "active");
    // A category the group's fit never saw gets no prediction, as in the
    // split model, rather than the reference category's.
    if (!coding.continuous && coding.reference >= 0) setAttribute(input, "invalidValueTreatment", "returnInvalid");
  }
  return schema;
}

namespace {

// The fitted table: numeric predictors first, then the categorical ones, as
// the schema orders them. A categorical input lists only its dummy columns:
// its reference category and the categories the group lacks contribute 0 by
// having no predictor. So does an aliased column (NaN in `beta`).
void writeTable(pugi::xml_node model, const std::vector<FieldDef>& fields, const Design& design, const Eigen::VectorXd& beta,
                const TargetClasses* classes) {
  pugi::xml_node table = model.append_child("RegressionTable");
  setAttribute(table, "intercept", formatNumber(beta(0)));
  if (classes) setAttribute(table, "targetCategory", classes->event);
  Eigen::Index column = 1;
  std::vector<std::pair<const InputCoding*, Eigen::Index>> categorical;
  for (const InputCoding& coding : design.inputs) {
    if (!coding.continuous) {
      categorical.emplace_back(&coding, column);
      column += static_cast<Eigen::Index>(coding.dummies.size());
      continue;
    }
    const double coefficient = beta(column++);
    if (std::isnan(coefficient)) continue;
    pugi::xml_node predictor = table.append_child("NumericPredictor");
    setAttribute(predictor, "name", fields[coding.field].name);
    setAttribute(predictor, "coefficient", formatNumber(coefficient));
  }
  for (auto [coding, next] : categorical) {
    for (std::size_t c : coding->dummies) {
      const double coefficient = beta(next++);
      if (std::isnan(coefficient)) continue;
      pugi::xml_node predictor = table.append_child("CategoricalPredictor");
      setAttribute(predictor, "name", fields[coding->field].name);
      setAttribute(predictor, "value", coding->categories[c]);
      setAttribute(predictor, "coefficient", formatNumber(coefficient));
    }
    // The reference category, and categories whose column was aliased,
    // contribute 0 but are listed, so that the input's known categories are
    // exactly the ones the fit has seen (see writeMiningSchema).
    std::vector<std::size_t> zero;
    if (coding->reference >= 0) zero.push_back(static_cast<std::size_t>(coding->reference));
    Eigen::Index column = next - static_cast<Eigen::Index>(coding->dummies.size());
    for (std::size_t c : coding->dummies)
      if (std::isnan(beta(column++))) zero.push_back(c);
    for (std::size_t c : zero) {
      pugi::xml_node predictor = table.append_child("CategoricalPredictor");
      setAttribute(predictor, "name", fields[coding->field].name);
      setAttribute(predictor, "value", coding->categories[c]);
      setAttribute(predictor, "coefficient", "0");
    }
  }
  if (classes) {
    pugi::xml_node reference = model.append_child("RegressionTable");
    setAttribute(reference, "intercept", "0");
    setAttribute(reference, "targetCategory", classes->other);
  }
}

}  // namespace

std::string writeGroupPmml(const std::vector<FieldDef>& fields, const ModelSpec& request, const Design& design,
                           const Eigen::VectorXd& beta, const TargetClasses* classes,
                           const Coefficients* covariance, double sigma, double dfResidual, double deviance) {
  pugi::xml_document doc;
  pugi::xml_node root = startDocument(doc, "PMML");
  setAttribute(root, "xmlns", kPmmlNamespace);
  setAttribute(root, "version", kPmmlVersion);
  writeHeader(root, classes ? "Logistic regression of " + request.target + " (event " + classes->event + ")"
                            : "Linear regression of " + request.target);
  writeDictionary(root, fields, design, classes);

  pugi::xml_node model = root.append_child("RegressionModel");
  if (!request.modelId.empty()) setAttribute(model, "modelName", request.modelId);
  setAttribute(model, "functionName", classes ? "classification" : "regression");
  setAttribute(model, "algorithmName", classes ? "iterativelyReweightedLeastSquares" : "leastSquares");
  setAttribute(model, "modelType", classes ? "logisticRegression" : "linearRegression");
  setAttribute(model, "targetFieldName", request.target);
  if (classes) setAttribute(model, "normalizationMethod", "logit");
  if (covariance) writeCovarianceExtension(model, fields, design, *covariance, sigma, dfResidual, deviance);
  writeMiningSchema(model, fields, design);
  writeTable(model, fields, design, beta, classes);
  return serialize(doc);
}

}  // namespace splitmodels::detail

#include <algorithm>
#include <cmath>

#include "covariance_pmml.h"
#include "group_writers.h"
#include "pmml_names.h"
#include "value_text.h"

namespace splitmodels::detail {

void startPmml(XmlText& xml) { xml.open("PMML").attribute("xmlns", kPmmlNamespace).attribute("version", kPmmlVersion); }

void writeHeader(XmlText& xml, const std::string& description) {
  xml.open("Header").attribute("description", description);
  xml.open("Application").attribute("name", kApplicationName).attribute("version", kApplicationVersion).close();
  xml.close();
}

namespace {

void writeDataField(XmlText& xml, const FieldDef& field, const std::string& optype,
                    const std::vector<std::string>& categories) {
  xml.open("DataField").attribute("name", field.name).attribute("optype", optype);
  xml.attribute("dataType", pmmlDataType(field.storage));
  for (const std::string& category : categories) xml.empty("Value", "value", category);
  xml.close();
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

void writeDictionary(XmlText& xml, const std::vector<FieldDef>& fields, const Design& design,
                     const TargetClasses* classes, const FieldDef* offset) {
  xml.open("DataDictionary").attribute("numberOfFields", std::to_string(design.inputs.size() + (offset ? 2 : 1)));
  const FieldDef& target = fields[design.targetField];
  if (classes)
    writeDataField(xml, target, target.measure == MeasureOrdinal ? "ordinal" : "categorical",
                   targetCategories(target, *classes));
  else
    writeDataField(xml, target, "continuous", {});
  for (const InputCoding& coding : design.inputs) {
    const FieldDef& field = fields[coding.field];
    writeDataField(xml, field, pmmlOptype(field), coding.categories);
  }
  if (offset) writeDataField(xml, *offset, "continuous", {});
  xml.close();
}

void writeMiningSchema(XmlText& xml, const std::vector<FieldDef>& fields, const Design& design,
                       const FieldDef* offset) {
  xml.open("MiningSchema");
  xml.open("MiningField").attribute("name", fields[design.targetField].name).attribute("usageType", "target").close();
  for (const InputCoding& coding : design.inputs) {
    xml.open("MiningField").attribute("name", fields[coding.field].name).attribute("usageType", "active");
    // A category the group's fit never saw gets no prediction, as in the
    // split model, rather than the reference category's.
    if (!coding.continuous && coding.reference >= 0) xml.attribute("invalidValueTreatment", "returnInvalid");
    xml.close();
  }
  if (offset) xml.open("MiningField").attribute("name", offset->name).attribute("usageType", "active").close();
  xml.close();
}

namespace {

// The fitted table: numeric predictors first, then the categorical ones, as
// the schema orders them. A categorical input lists only its dummy columns:
// its reference category and the categories the group lacks contribute 0 by
// having no predictor. So does an aliased column (NaN in `beta`).
void writeTable(XmlText& xml, const std::vector<FieldDef>& fields, const Design& design, const Eigen::VectorXd& beta,
                const TargetClasses* classes) {
  xml.open("RegressionTable").number("intercept", beta(0));
  if (classes) xml.attribute("targetCategory", classes->event);
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
    xml.open("NumericPredictor").attribute("name", fields[coding.field].name);
    xml.number("coefficient", coefficient).close();
  }
  for (auto [coding, next] : categorical) {
    for (std::size_t c : coding->dummies) {
      const double coefficient = beta(next++);
      if (std::isnan(coefficient)) continue;
      xml.open("CategoricalPredictor").attribute("name", fields[coding->field].name);
      xml.attribute("value", coding->categories[c]).number("coefficient", coefficient).close();
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
      xml.open("CategoricalPredictor").attribute("name", fields[coding->field].name);
      xml.attribute("value", coding->categories[c]).attribute("coefficient", "0").close();
    }
  }
  xml.close();
  if (classes) xml.open("RegressionTable").attribute("intercept", "0").attribute("targetCategory", classes->other).close();
}

}  // namespace

std::string writeGroupPmml(const std::vector<FieldDef>& fields, const ModelSpec& request, const Design& design,
                           const Eigen::VectorXd& beta, const TargetClasses* classes,
                           const Coefficients* covariance, double sigma, double dfResidual, double deviance) {
  std::string text;
  XmlText xml(text);
  startPmml(xml);
  writeHeader(xml, classes ? "Logistic regression of " + request.target + " (event " + classes->event + ")"
                           : "Linear regression of " + request.target);
  writeDictionary(xml, fields, design, classes);

  xml.open("RegressionModel");
  if (!request.modelId.empty()) xml.attribute("modelName", request.modelId);
  xml.attribute("functionName", classes ? "classification" : "regression");
  xml.attribute("algorithmName", classes ? "iterativelyReweightedLeastSquares" : "leastSquares");
  xml.attribute("modelType", classes ? "logisticRegression" : "linearRegression");
  xml.attribute("targetFieldName", request.target);
  if (classes) xml.attribute("normalizationMethod", "logit");
  if (covariance) writeCovarianceExtension(xml, fields, design, *covariance, sigma, dfResidual, deviance);
  writeMiningSchema(xml, fields, design);
  writeTable(xml, fields, design, beta, classes);
  xml.close().close();
  return text;
}

}  // namespace splitmodels::detail

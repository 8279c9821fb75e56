#include <cmath>
#include <set>
#include <string_view>
#include <unordered_map>

#include "group_writers.h"
#include "pmml_names.h"
#include "value_text.h"
#include "xml_out.h"

namespace splitmodels::detail {

namespace {

void writeBuildSettings(pugi::xml_node root, const ModelSpec& request, const GroupModel& model,
                        const TargetClasses* classes) {
  pugi::xml_node settings = root.append_child("BuildSettings");
  const bool glm = request.kind == ModelKind::Glm;
  setAttribute(settings, "modelKind", glm ? "glm" : request.kind == ModelKind::Logistic ? "logistic" : "linear");
  setAttribute(settings, "target", request.target);
  if (classes) setAttribute(settings, "event", classes->event);
  if (glm) {
    setAttribute(settings, "family", model.family);
    setAttribute(settings, "link", model.link);
    if (!request.weights.empty()) setAttribute(settings, "weights", request.weights);
    if (!request.offset.empty()) setAttribute(settings, "offset", request.offset);
    setAttribute(settings, "epsilon", formatNumber(request.epsilon));
    setAttribute(settings, "maxIterations", std::to_string(request.maxIterations));
  }
  for (const std::string& input : request.inputs) setAttribute(settings.append_child("Input"), "name", input);
}

// A Field element made from what the build knows of the field, for data
// models that do not describe it.
void writeFieldFromDef(pugi::xml_node fields, const FieldDef& def) {
  pugi::xml_node field = fields.append_child("Field");
  setAttribute(field, "name", def.name);
  setAttribute(field, "storage", storageText(def.storage));
  setAttribute(field, "measure", measureText(def.measure));
  for (const std::string& category : def.categories) setAttribute(field.append_child("Value"), "value", category);
}

// Copies of the input data model's Field elements of the target and inputs,
// in data-model order, each with its role.
void writeDataModel(pugi::xml_node root, const std::vector<FieldDef>& defs, const ModelSpec& request, const Design& design) {
  pugi::xml_document input;
  pugi::xml_node inputFields;
  if (!request.dataModelXml.empty() && input.load_buffer(request.dataModelXml.data(), request.dataModelXml.size()))
    inputFields = input.document_element().child("Fields");

  pugi::xml_node dataModel = root.append_child("DataModel");
  setAttribute(dataModel, "version", "1.0");
  if (pugi::xml_node formats = input.document_element().child("FieldFormats")) dataModel.append_copy(formats);
  pugi::xml_node fields = dataModel.append_child("Fields");
  const pugi::xml_attribute caseSensitive = inputFields.attribute("caseSensitive");
  setAttribute(fields, "caseSensitive", caseSensitive ? caseSensitive.value() : "true");

  // The input's Field elements by name (the first of a name), looked up
  // once each: a search per field would be quadratic in the columns.
  std::unordered_map<std::string_view, pugi::xml_node> byName;
  for (pugi::xml_node field : inputFields.children("Field"))
    byName.emplace(field.attribute("name").value(), field);
  std::set<std::size_t> used{design.targetField};
  for (const InputCoding& coding : design.inputs) used.insert(coding.field);
  for (std::size_t index : used) {
    const FieldDef& def = defs[index];
    const auto found = byName.find(def.name);
    pugi::xml_node copy = found != byName.end() ? found->second : pugi::xml_node();
    if (copy)
      copy = fields.append_copy(copy);
    else
      writeFieldFromDef(fields, def), copy = fields.last_child();
    setAttribute(copy, "role", index == design.targetField ? "target" : "input");
  }
  setAttribute(fields, "count", std::to_string(used.size()));
}

// Sets a numeric attribute; values R reports as NA leave it out.
void setNumber(pugi::xml_node node, const char* name, double value) {
  if (std::isfinite(value)) setAttribute(node, name, formatNumber(value));
}

void writeSummary(pugi::xml_node root, const ModelSpec& request, const GroupModel& model, bool logistic) {
  pugi::xml_node pmmlModel = root.append_child("PMMLModel");
  setAttribute(pmmlModel, "modelID", request.modelId);
  const bool glm = request.kind == ModelKind::Glm;
  setAttribute(pmmlModel, "modelType", glm ? "GeneralRegressionModel" : "RegressionModel");
  setAttribute(pmmlModel, "isActive", "true");
  pugi::xml_node summary = pmmlModel.append_child("PredictiveSummary");
  setAttribute(summary, "recordCount", std::to_string(model.records));
  setAttribute(summary, "skippedRecords", std::to_string(model.skippedRecords));
  setNumber(summary, "dfResidual", model.dfResidual);
  if (glm) {
    setNumber(summary, "deviance", model.deviance);
    setNumber(summary, "nullDeviance", model.nullDeviance);
    setNumber(summary, "dfNull", model.dfNull);
    setNumber(summary, "aic", model.aic);
    setNumber(summary, "dispersion", model.dispersion);
    setAttribute(summary, "iterations", std::to_string(model.iterations));
    setAttribute(summary, "converged", model.converged ? "true" : "false");
    setNumber(summary, "logLikelihood", model.logLikelihood);
  } else if (logistic) {
    setNumber(summary, "deviance", model.deviance);
    setNumber(summary, "nullDeviance", model.nullDeviance);
    setNumber(summary, "dfNull", model.dfNull);
    setNumber(summary, "aic", model.aic);
    setAttribute(summary, "iterations", std::to_string(model.iterations));
    setNumber(summary, "accuracy", model.accuracy);
    setNumber(summary, "logLikelihood", model.logLikelihood);
    setNumber(summary, "auc", model.auc);
  } else {
    setNumber(summary, "rSquared", model.rSquared);
    setNumber(summary, "adjustedRSquared", model.adjustedRSquared);
    setNumber(summary, "sigma", model.sigma);
    setNumber(summary, "fStatistic", model.fStatistic);
    setNumber(summary, "fPValue", model.fPValue);
  }
  if (!model.warnings.empty()) {
    std::string text;
    for (const std::string& warning : model.warnings) text += (text.empty() ? "" : "; ") + warning;
    setAttribute(summary, "warnings", text);
  }
  pugi::xml_node estimates = pmmlModel.append_child("ParameterEstimates");
  for (const Term& term : model.terms) {
    pugi::xml_node parameter = estimates.append_child("Parameter");
    setAttribute(parameter, "name", term.name);
    if (std::isnan(term.estimate)) {
      setAttribute(parameter, "aliased", "true");
      continue;
    }
    setNumber(parameter, "estimate", term.estimate);
    setNumber(parameter, "stdError", term.stdError);
    setNumber(parameter, "statistic", term.statistic);
    setNumber(parameter, "pValue", term.pValue);
  }
}

}  // namespace

std::string writeGroupStatXml(const std::vector<FieldDef>& fields, const ModelSpec& request, const Design& design,
                              const GroupModel& model, const TargetClasses* classes) {
  pugi::xml_document doc;
  pugi::xml_node root = startDocument(doc, "StatXML");
  setAttribute(root, "xmlns", kStatXmlNamespace);
  setAttribute(root, "version", "1.0");
  writeBuildSettings(root, request, model, classes);
  writeDataModel(root, fields, request, design);
  writeSummary(root, request, model, classes != nullptr);
  return serialize(doc);
}

}  // namespace splitmodels::detail

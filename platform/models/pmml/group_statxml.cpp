#include <cmath>

#include "group_writers.h"
#include "pmml_names.h"
#include "value_text.h"

namespace splitmodels::detail {

namespace {

void writeBuildSettings(XmlText& xml, const ModelSpec& request, const GroupModel& model,
                        const TargetClasses* classes) {
  xml.open("BuildSettings");
  const bool glm = request.kind == ModelKind::Glm;
  xml.attribute("modelKind", glm ? "glm" : request.kind == ModelKind::Logistic ? "logistic" : "linear");
  xml.attribute("target", request.target);
  if (classes) xml.attribute("event", classes->event);
  if (glm) {
    xml.attribute("family", model.family).attribute("link", model.link);
    if (!request.weights.empty()) xml.attribute("weights", request.weights);
    if (!request.offset.empty()) xml.attribute("offset", request.offset);
    xml.number("epsilon", request.epsilon);
    xml.attribute("maxIterations", std::to_string(request.maxIterations));
  }
  for (const std::string& input : request.inputs) xml.empty("Input", "name", input);
  xml.close();
}

// Sets a numeric attribute; values R reports as NA leave it out.
void setNumber(XmlText& xml, const char* name, double value) {
  if (std::isfinite(value)) xml.number(name, value);
}

void writeSummary(XmlText& xml, const ModelSpec& request, const GroupModel& model, bool logistic) {
  xml.open("PMMLModel").attribute("modelID", request.modelId);
  const bool glm = request.kind == ModelKind::Glm;
  xml.attribute("modelType", glm ? "GeneralRegressionModel" : "RegressionModel").attribute("isActive", "true");
  xml.open("PredictiveSummary").attribute("recordCount", std::to_string(model.records));
  xml.attribute("skippedRecords", std::to_string(model.skippedRecords));
  setNumber(xml, "dfResidual", model.dfResidual);
  if (glm) {
    setNumber(xml, "deviance", model.deviance);
    setNumber(xml, "nullDeviance", model.nullDeviance);
    setNumber(xml, "dfNull", model.dfNull);
    setNumber(xml, "aic", model.aic);
    setNumber(xml, "dispersion", model.dispersion);
    xml.attribute("iterations", std::to_string(model.iterations));
    xml.attribute("converged", model.converged ? "true" : "false");
    setNumber(xml, "logLikelihood", model.logLikelihood);
  } else if (logistic) {
    setNumber(xml, "deviance", model.deviance);
    setNumber(xml, "nullDeviance", model.nullDeviance);
    setNumber(xml, "dfNull", model.dfNull);
    setNumber(xml, "aic", model.aic);
    xml.attribute("iterations", std::to_string(model.iterations));
    setNumber(xml, "accuracy", model.accuracy);
    setNumber(xml, "logLikelihood", model.logLikelihood);
    setNumber(xml, "auc", model.auc);
  } else {
    setNumber(xml, "rSquared", model.rSquared);
    setNumber(xml, "adjustedRSquared", model.adjustedRSquared);
    setNumber(xml, "sigma", model.sigma);
    setNumber(xml, "fStatistic", model.fStatistic);
    setNumber(xml, "fPValue", model.fPValue);
  }
  if (!model.warnings.empty()) {
    std::string text;
    for (const std::string& warning : model.warnings) text += (text.empty() ? "" : "; ") + warning;
    xml.attribute("warnings", text);
  }
  xml.close();
  xml.open("ParameterEstimates");
  for (const Term& term : model.terms) {
    xml.open("Parameter").attribute("name", term.name);
    if (std::isnan(term.estimate)) {
      xml.attribute("aliased", "true").close();
      continue;
    }
    setNumber(xml, "estimate", term.estimate);
    setNumber(xml, "stdError", term.stdError);
    setNumber(xml, "statistic", term.statistic);
    setNumber(xml, "pValue", term.pValue);
    xml.close();
  }
  xml.close().close();
}

}  // namespace

std::string writeGroupStatXml(const std::vector<FieldDef>& fields, const ModelSpec& request, const Design& design,
                              const GroupModel& model, const TargetClasses* classes) {
  std::string text;
  XmlText xml(text);
  xml.open("StatXML").attribute("xmlns", kStatXmlNamespace).attribute("version", "1.0");
  writeBuildSettings(xml, request, model, classes);
  writeStatXmlDataModel(xml, fields, request, design);
  writeSummary(xml, request, model, classes != nullptr);
  xml.close();
  return text;
}

}  // namespace splitmodels::detail

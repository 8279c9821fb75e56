// platform/models/pmml: part of the workers' model library (splitmodels).
// Owns writing a fitted group as PMML and StatXML (this header,
// group_pmml.cpp, group_statxml.cpp), the split model document
// (split_model.cpp), the names of fields and terms (pmml_names.h), the text
// of values (value_text.h) and the streaming XML writer (xml_text.h). Includes
// splitmodels/ and the design of models/fitting; never scoring.
//
// Writers of the two documents a group's build leaves: its PMML and StatXML.
#pragma once

#include <Eigen/Dense>

#include <limits>
#include <string>

#include "covariance_pmml.h"
#include "design.h"
#include "fits.h"
#include "glm_family.h"
#include "xml_text.h"
#include "splitmodels/group_model.h"

namespace splitmodels::detail {

// The two values of a binary target as PMML labels, the modelled one first.
struct TargetClasses {
  std::string event;
  std::string other;
  bool eventIsFirst = false;  // the event sorts before the other value
};

// PMML 4.4 document with a DataDictionary of the target and inputs and one
// RegressionModel; `beta` holds one coefficient per design column (NaN for
// an aliased column, which gets no predictor); `classes` is null for a
// linear model. With `covariance` (the fit's coefficients), the model carries
// their covariance
// in its covariance extension (covariance_pmml.h), with `sigma` (NaN for a
// logistic model), `dfResidual` and `deviance` (NaN for a linear model).
std::string writeGroupPmml(const std::vector<FieldDef>& fields, const ModelSpec& request, const Design& design,
                           const Eigen::VectorXd& beta, const TargetClasses* classes,
                           const Coefficients* covariance = nullptr,
                           double sigma = std::numeric_limits<double>::quiet_NaN(), double dfResidual = 0.0,
                           double deviance = std::numeric_limits<double>::quiet_NaN());

// StatXML document: build settings, the fields used and the fit summary.
std::string writeGroupStatXml(const std::vector<FieldDef>& fields, const ModelSpec& request, const Design& design,
                              const GroupModel& model, const TargetClasses* classes);

// The StatXML's DataModel: the input data model's FieldFormats, and its
// Field elements of the target and inputs in data-model order, each with
// its role (made from `fields` where the data model lacks one).
void writeStatXmlDataModel(XmlText& xml, const std::vector<FieldDef>& fields, const ModelSpec& request,
                           const Design& design);

// Labels the target of a logistic model: finds its two values among the
// design's records and fills `y` (1 = event). Returns the failure reason
// (single class, more than two classes, event not found) or nothing.
std::optional<std::string> binaryTarget(const FieldDef& target, const ModelSpec& request, const Design& design,
                                        TargetClasses& classes, Eigen::VectorXd& y);

// Parts of a group's PMML shared by its model elements: the document's
// start (declaration and the open PMML element), the Header, the
// DataDictionary of the target and inputs (`classes` set for a categorical
// target) and the MiningSchema of the target and inputs, each followed by
// the `offset` field when there is one.
void startPmml(XmlText& xml);
void writeHeader(XmlText& xml, const std::string& description);
void writeDictionary(XmlText& xml, const std::vector<FieldDef>& fields, const Design& design,
                     const TargetClasses* classes, const FieldDef* offset = nullptr);
void writeMiningSchema(XmlText& xml, const std::vector<FieldDef>& fields, const Design& design,
                       const FieldDef* offset = nullptr);

// Fills `model` with the terms of a fit in design order, and the warnings
// of aliased terms and of no residual degrees of freedom.
void keepTerms(const Design& design, const Coefficients& c, GroupModel& model);

// The deviance summary a logistic or glm fit reports in groups.csv: residual
// and null deviance with their degrees of freedom, AIC, iterations,
// convergence and log-likelihood (the fits name these fields alike).
template <class Fit>
void keepDevianceSummary(const Fit& fit, GroupModel& model) {
  model.dfResidual = fit.dfResidual;
  model.deviance = fit.deviance;
  model.nullDeviance = fit.nullDeviance;
  model.dfNull = fit.dfNull;
  model.aic = fit.aic;
  model.iterations = fit.iterations;
  model.converged = fit.converged;
  model.logLikelihood = fit.logLikelihood;
}

// Fits a model of any glm family and link (ModelKind::Glm) and writes its
// documents; failures leave `model.reason`.
void buildGlm(const GroupRecords& data, const ModelSpec& request, const Design& design, GroupModel& model);

// PMML 4.4 document with a DataDictionary of the target, inputs and offset
// and one GeneralRegressionModel of the fit (`beta` per design column, NaN
// for aliased ones); `classes` is set for a binomial fit of a two-valued
// categorical target. The fit's covariance (`fit.coefficients`) goes into
// its PCovMatrix.
std::string writeGeneralRegressionPmml(const std::vector<FieldDef>& fields, const ModelSpec& request,
                                       const Design& design, const GlmFit& fit, const TargetClasses* classes);

// The PMML distribution of a glm family, and the link attributes of a
// GeneralRegressionModel (R's inverse, 1/mu^2 and sqrt links as powers; the
// cauchit link, which PMML does not name, in none; writeLinkExtension
// names it in an Extension).
std::string distributionName(FamilyKind family);
void writeLink(XmlText& xml, LinkKind link);
void writeLinkExtension(XmlText& xml, LinkKind link);

// The parts every GeneralRegressionModel shares: parameter `p<j>` for each
// estimated column j (aliased columns have none), their ParameterList with
// R's coefficient names, a factor predictor's Categories (its reference and
// coded levels) and the ParamMatrix of estimates.
std::string parameterName(Eigen::Index column);
void writeParameterList(XmlText& xml, const Design& design, const Eigen::VectorXd& beta);
void writeCategories(XmlText& xml, const InputCoding& coding);
void writeParamMatrix(XmlText& xml, const Eigen::VectorXd& beta, const TargetClasses* classes);

// The PMML of a model fitted from an R formula (design.formula): a
// GeneralRegressionModel whose transformed inputs are DerivedFields in its
// LocalTransformations, whose interactions and powers are PPMatrix cells,
// whose offset is a field or a derived input, and whose PCovMatrix holds
// the covariance of `coefficients` with the fit's `scale`.
std::string writeFormulaPmml(const std::vector<FieldDef>& fields, const ModelSpec& request, const Design& design,
                             const Coefficients& coefficients, const FitScale& scale, const TargetClasses* classes,
                             FamilyKind family, LinkKind link);

}  // namespace splitmodels::detail

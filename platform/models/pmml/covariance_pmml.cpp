#include "covariance_pmml.h"

#include <cmath>

#include "value_text.h"
#include "xml_out.h"

namespace splitmodels::detail {

namespace {

// The coefficients of `columns` at the start of the fit's last step.
void writeStart(pugi::xml_node parent, const Eigen::VectorXd& start, const std::vector<Eigen::Index>& columns) {
  if (start.size() == 0) return;
  std::string text;
  for (const Eigen::Index j : columns) text += (text.empty() ? "" : " ") + formatNumber(start(j));
  parent.append_child("Start").text().set(text.c_str());
}

}  // namespace

void writeCovarianceExtension(pugi::xml_node model, const std::vector<FieldDef>& fields, const Design& design,
                              const Coefficients& fit, double sigma, double dfResidual, double deviance) {
  const Eigen::MatrixXd& covariance = fit.covariance;
  // Design columns in order: the intercept, then each input's columns (one
  // for a continuous input, one per dummy for a categorical one).
  struct Column {
    Eigen::Index index;
    const InputCoding* coding;  // null for the intercept
    std::size_t category;
  };
  std::vector<Column> kept;
  const auto keep = [&](Eigen::Index index, const InputCoding* coding, std::size_t category) {
    if (index < covariance.rows() && std::isfinite(covariance(index, index))) kept.push_back({index, coding, category});
  };
  Eigen::Index column = 0;
  keep(column++, nullptr, 0);
  for (const InputCoding& coding : design.inputs) {
    if (coding.continuous) {
      keep(column++, &coding, 0);
      continue;
    }
    for (std::size_t c : coding.dummies) keep(column++, &coding, c);
  }
  if (kept.empty()) return;

  pugi::xml_node extension = model.prepend_child("Extension");
  setAttribute(extension, "name", "covariance");
  setAttribute(extension, "extender", "splitmodels");
  pugi::xml_node matrix = extension.append_child("Covariance");
  setAttribute(matrix, "dfResidual", formatNumber(dfResidual));
  if (std::isfinite(sigma)) setAttribute(matrix, "sigma", formatNumber(sigma));
  if (std::isfinite(deviance)) setAttribute(matrix, "deviance", formatNumber(deviance));
  for (const Column& term : kept) {
    pugi::xml_node node = matrix.append_child("Term");
    if (!term.coding) continue;
    setAttribute(node, "field", fields[term.coding->field].name);
    if (!term.coding->continuous) setAttribute(node, "value", term.coding->categories[term.category]);
  }
  for (const Column& row : kept) {
    std::string text;
    for (const Column& col : kept) text += (text.empty() ? "" : " ") + formatNumber(covariance(row.index, col.index));
    matrix.append_child("Row").text().set(text.c_str());
  }
  std::vector<Eigen::Index> columns;
  for (const Column& term : kept) columns.push_back(term.index);
  writeStart(matrix, fit.stepStart, columns);
}

void writeParameterCovariance(pugi::xml_node model, const Coefficients& coefficients, const FitScale& fit,
                              const std::function<std::string(Eigen::Index)>& parameterName) {
  const Eigen::MatrixXd& covariance = coefficients.covariance;
  std::vector<Eigen::Index> kept;
  for (Eigen::Index j = 0; j < covariance.rows(); ++j)
    if (std::isfinite(covariance(j, j))) kept.push_back(j);
  if (kept.empty()) return;
  pugi::xml_node matrix = model.append_child("PCovMatrix");
  setAttribute(matrix, "type", "model");
  pugi::xml_node extension = matrix.append_child("Extension");
  setAttribute(extension, "name", "fit");
  setAttribute(extension, "extender", "splitmodels");
  pugi::xml_node scale = extension.append_child("Fit");
  setAttribute(scale, "dfResidual", formatNumber(fit.dfResidual));
  setAttribute(scale, "dispersion", formatNumber(fit.dispersion));
  setAttribute(scale, "deviance", formatNumber(fit.deviance));
  writeStart(scale, coefficients.stepStart, kept);
  for (const Eigen::Index row : kept)
    for (const Eigen::Index column : kept) {
      pugi::xml_node cell = matrix.append_child("PCovCell");
      setAttribute(cell, "pRow", parameterName(row));
      setAttribute(cell, "pCol", parameterName(column));
      setAttribute(cell, "value", formatNumber(covariance(row, column)));
    }
}

}  // namespace splitmodels::detail

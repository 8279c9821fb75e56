#include "covariance_pmml.h"

#include <cmath>

#include "value_text.h"

namespace splitmodels::detail {

namespace {

// The coefficients of `columns` at the start of the fit's last step.
void writeStart(XmlText& xml, const Eigen::VectorXd& start, const std::vector<Eigen::Index>& columns) {
  if (start.size() == 0) return;
  std::string text;
  for (const Eigen::Index j : columns) {
    if (!text.empty()) text += ' ';
    appendNumber(text, start(j));
  }
  xml.open("Start").text(text).close();
}

// Per design column, its row in the fit's covariance; -1 for an aliased
// column.
std::vector<Eigen::Index> covarianceRows(const Coefficients& fit) {
  std::vector<Eigen::Index> rows(static_cast<std::size_t>(fit.estimate.size()), -1);
  for (std::size_t r = 0; r < fit.covarianceColumns.size(); ++r)
    rows[static_cast<std::size_t>(fit.covarianceColumns[r])] = static_cast<Eigen::Index>(r);
  return rows;
}

}  // namespace

void writeCovarianceExtension(XmlText& xml, const std::vector<FieldDef>& fields, const Design& design,
                              const Coefficients& fit, double sigma, double dfResidual, double deviance) {
  const Eigen::MatrixXd& covariance = fit.covariance;
  const std::vector<Eigen::Index> rowOfColumn = covarianceRows(fit);
  // Design columns in order: the intercept, then each input's columns (one
  // for a continuous input, one per dummy for a categorical one).
  struct Column {
    Eigen::Index index;  // the column's row in the covariance
    const InputCoding* coding;  // null for the intercept
    std::size_t category;
  };
  std::vector<Column> kept;
  const auto keep = [&](Eigen::Index column, const InputCoding* coding, std::size_t category) {
    if (column >= static_cast<Eigen::Index>(rowOfColumn.size())) return;
    const Eigen::Index row = rowOfColumn[static_cast<std::size_t>(column)];
    if (row >= 0 && std::isfinite(covariance(row, row))) kept.push_back({row, coding, category});
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

  xml.open("Extension").attribute("name", "covariance").attribute("extender", "splitmodels");
  xml.open("Covariance").number("dfResidual", dfResidual);
  if (std::isfinite(sigma)) xml.number("sigma", sigma);
  if (std::isfinite(deviance)) xml.number("deviance", deviance);
  for (const Column& term : kept) {
    xml.open("Term");
    if (term.coding) {
      xml.attribute("field", fields[term.coding->field].name);
      if (!term.coding->continuous) xml.attribute("value", term.coding->categories[term.category]);
    }
    xml.close();
  }
  std::string text;
  for (const Column& row : kept) {
    text.clear();
    for (const Column& col : kept) {
      if (!text.empty()) text += ' ';
      appendNumber(text, covariance(row.index, col.index));
    }
    xml.open("Row").text(text).close();
  }
  std::vector<Eigen::Index> columns;
  for (const Column& term : kept) columns.push_back(fit.covarianceColumns[static_cast<std::size_t>(term.index)]);
  writeStart(xml, fit.stepStart, columns);
  xml.close().close();
}

void writeParameterCovariance(XmlText& xml, const Coefficients& coefficients, const FitScale& fit,
                              const std::function<std::string(Eigen::Index)>& parameterName) {
  const Eigen::MatrixXd& covariance = coefficients.covariance;
  std::vector<Eigen::Index> kept, rows;  // design columns, and their rows in the covariance
  for (Eigen::Index r = 0; r < covariance.rows(); ++r)
    if (std::isfinite(covariance(r, r))) {
      kept.push_back(coefficients.covarianceColumns[static_cast<std::size_t>(r)]);
      rows.push_back(r);
    }
  if (kept.empty()) return;
  xml.open("PCovMatrix").attribute("type", "model");
  xml.open("Extension").attribute("name", "fit").attribute("extender", "splitmodels");
  xml.open("Fit")
      .number("dfResidual", fit.dfResidual)
      .number("dispersion", fit.dispersion)
      .number("deviance", fit.deviance);
  writeStart(xml, coefficients.stepStart, kept);
  xml.close().close();
  std::vector<std::string> names;
  for (const Eigen::Index column : kept) names.push_back(parameterName(column));
  for (std::size_t a = 0; a < kept.size(); ++a)
    for (std::size_t b = 0; b < kept.size(); ++b)
      xml.open("PCovCell")
          .attribute("pRow", names[a])
          .attribute("pCol", names[b])
          .number("value", covariance(rows[a], rows[b]))
          .close();
  xml.close();
}

}  // namespace splitmodels::detail

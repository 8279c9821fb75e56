#include "covariance_pmml.h"

#include <cmath>

#include "value_text.h"
#include "xml_out.h"

namespace splitmodels::detail {

void writeCovarianceExtension(pugi::xml_node model, const std::vector<FieldDef>& fields, const Design& design,
                              const Eigen::MatrixXd& covariance, double sigma, double dfResidual) {
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
}

}  // namespace splitmodels::detail

#include "design.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "pmml_names.h"
#include "value_text.h"

namespace splitmodels::detail {

namespace {

// Categories of a categorical input whose data model lists none: the values
// present in the group, sorted (numerically for numeric storage).
std::vector<std::string> observedCategories(const GroupData& data, std::size_t field) {
  const FieldDef& def = data.fields[field];
  std::vector<std::string> texts;
  if (def.storage == StorageString) {
    for (const auto& row : data.rows)
      if (!row[field].missing) texts.push_back(row[field].text);
    std::sort(texts.begin(), texts.end());
  } else {
    std::vector<double> numbers;
    for (const auto& row : data.rows)
      if (!row[field].missing) numbers.push_back(row[field].number);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    for (double number : numbers) texts.push_back(canonicalCategory(def.storage, formatNumber(number)));
  }
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  return texts;
}

InputCoding codingFor(const GroupData& data, std::size_t field) {
  const FieldDef& def = data.fields[field];
  InputCoding coding;
  coding.field = field;
  coding.continuous = isContinuous(def);
  if (coding.continuous) return coding;
  const std::vector<std::string> raw = def.categories.empty() ? observedCategories(data, field) : def.categories;
  for (const std::string& text : raw) {
    coding.categories.push_back(pmmlCategory(def, text));
    coding.numbers.push_back(numberForStorage(def.storage, text));
  }
  return coding;
}

bool usableNumber(const FieldDef& field, const Cell& cell) {
  return !cell.missing && field.storage != StorageString && std::isfinite(cell.number);
}

// Codes every categorical input against the first category `kept` holds
// (kept[i * inputs + k] is the category of input k in the i-th kept record)
// and gives each further held category a column. An absent category would
// leave an all-zero column that makes the group look singular.
void chooseDummies(const std::vector<int>& kept, Design& design) {
  const std::size_t inputs = design.inputs.size();
  for (std::size_t k = 0; k < inputs; ++k) {
    InputCoding& coding = design.inputs[k];
    if (coding.continuous) continue;
    std::vector<bool> held(coding.categories.size(), false);
    for (std::size_t at = k; at < kept.size(); at += inputs) held[static_cast<std::size_t>(kept[at])] = true;
    for (std::size_t c = 0; c < held.size(); ++c) {
      if (!held[c]) continue;
      if (coding.reference < 0)
        coding.reference = static_cast<int>(c);
      else
        coding.dummies.push_back(c);
    }
  }
}

}  // namespace

int matchCategory(const InputCoding& coding, const FieldDef& field, const Cell& cell) {
  if (cell.missing) return -1;
  for (std::size_t i = 0; i < coding.categories.size(); ++i) {
    const bool same = field.storage == StorageString
                          ? cell.text == coding.categories[i]
                          : coding.numbers[i].has_value() && *coding.numbers[i] == cell.number;
    if (same) return static_cast<int>(i);
  }
  return -1;
}

std::optional<std::string> buildDesign(const GroupData& data, const ModelSpec& request, Design& design) {
  std::map<std::string, std::size_t> byName;
  for (std::size_t i = 0; i < data.fields.size(); ++i) byName.emplace(data.fields[i].name, i);
  const auto target = byName.find(request.target);
  if (target == byName.end()) return "unknown field: " + request.target;
  design.targetField = target->second;
  for (std::size_t r = 0; r < data.rows.size(); ++r)
    if (data.rows[r].size() != data.fields.size())
      return "row " + std::to_string(r + 1) + " has " + std::to_string(data.rows[r].size()) + " values for " +
             std::to_string(data.fields.size()) + " fields";
  for (const std::string& name : request.inputs) {
    const auto input = byName.find(name);
    if (input == byName.end()) return "unknown field: " + name;
    design.inputs.push_back(codingFor(data, input->second));
  }

  // Which records enter the fit, and the category each categorical input
  // holds in them (-1 for continuous inputs).
  const FieldDef& targetDef = data.fields[design.targetField];
  std::vector<int> kept;
  kept.reserve(data.rows.size() * design.inputs.size());
  std::vector<int> categories(design.inputs.size(), -1);
  for (std::size_t r = 0; r < data.rows.size(); ++r) {
    const auto& row = data.rows[r];
    const Cell& targetCell = row[design.targetField];
    bool usable = !targetCell.missing && (targetDef.storage == StorageString || std::isfinite(targetCell.number));
    std::fill(categories.begin(), categories.end(), -1);
    for (std::size_t k = 0; usable && k < design.inputs.size(); ++k) {
      const InputCoding& coding = design.inputs[k];
      const FieldDef& def = data.fields[coding.field];
      if (coding.continuous) {
        usable = usableNumber(def, row[coding.field]);
      } else {
        categories[k] = matchCategory(coding, def, row[coding.field]);
        usable = categories[k] >= 0;
      }
    }
    if (!usable) {
      ++design.skipped;
      continue;
    }
    design.rows.push_back(r);
    kept.insert(kept.end(), categories.begin(), categories.end());
  }
  chooseDummies(kept, design);

  design.columnNames = {kInterceptName};
  for (const InputCoding& coding : design.inputs) {
    const std::string& name = data.fields[coding.field].name;
    if (coding.continuous) design.columnNames.push_back(name);
    for (std::size_t c : coding.dummies) design.columnNames.push_back(name + "=" + coding.categories[c]);
  }
  const auto columns = static_cast<Eigen::Index>(design.columnNames.size());
  design.x.resize(static_cast<Eigen::Index>(design.rows.size()), columns);
  for (std::size_t i = 0; i < design.rows.size(); ++i) {
    const auto& row = data.rows[design.rows[i]];
    const auto at = static_cast<Eigen::Index>(i);
    Eigen::Index j = 0;
    design.x(at, j++) = 1.0;
    for (std::size_t k = 0; k < design.inputs.size(); ++k) {
      const InputCoding& coding = design.inputs[k];
      if (coding.continuous) design.x(at, j++) = row[coding.field].number;
      for (std::size_t c : coding.dummies)
        design.x(at, j++) = static_cast<int>(c) == kept[i * design.inputs.size() + k] ? 1.0 : 0.0;
    }
  }
  return std::nullopt;
}

ScaledDesign scaleDesign(const Eigen::MatrixXd& x) {
  ScaledDesign scaled;
  scaled.z = x;
  scaled.mean = Eigen::VectorXd::Zero(x.cols());
  scaled.scale = Eigen::VectorXd::Ones(x.cols());
  for (Eigen::Index j = 1; j < x.cols(); ++j) {
    scaled.mean(j) = x.col(j).mean();
    scaled.z.col(j).array() -= scaled.mean(j);
    const double norm = scaled.z.col(j).norm();
    if (norm > 0.0) {
      scaled.scale(j) = norm;
      scaled.z.col(j) /= norm;
    }
  }
  return scaled;
}

Eigen::VectorXd ScaledDesign::unscale(const Eigen::VectorXd& gamma) const {
  Eigen::VectorXd beta = gamma.cwiseQuotient(scale);
  for (Eigen::Index j = 1; j < beta.size(); ++j) beta(0) -= beta(j) * mean(j);
  return beta;
}

std::optional<std::string> findCollinearColumn(const ScaledDesign& design, const std::vector<std::string>& names) {
  // Without pivoting, |R(j,j)| is the distance of column j from the span of
  // the columns before it, so the first small one names the culprit.
  constexpr double kTolerance = 1e-9;
  const Eigen::HouseholderQR<Eigen::MatrixXd> qr(design.z);
  const Eigen::MatrixXd& r = qr.matrixQR();
  for (Eigen::Index j = 0; j < design.z.cols(); ++j) {
    const double norm = design.z.col(j).norm();
    if (norm == 0.0 || j >= r.rows() || std::fabs(r(j, j)) < kTolerance * norm)
      return "singular design: column " + names[static_cast<std::size_t>(j)] + " is collinear";
  }
  return std::nullopt;
}

std::optional<std::string> checkRecordCount(std::size_t records, std::size_t parameters) {
  if (records >= parameters) return std::nullopt;
  return "too few records: " + std::to_string(records) + " records for " + std::to_string(parameters) +
         " parameters";
}

}  // namespace splitmodels::detail

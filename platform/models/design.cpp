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
std::vector<std::string> observedCategories(const FieldDef& def, const FieldColumn& values) {
  std::vector<std::string> texts;
  if (def.storage == StorageString) {
    for (std::size_t r = 0; r < values.texts.size(); ++r)
      if (!values.missing[r]) texts.emplace_back(values.texts[r]);
    std::sort(texts.begin(), texts.end());
  } else {
    std::vector<double> numbers;
    for (std::size_t r = 0; r < values.numbers.size(); ++r)
      if (!values.missing[r]) numbers.push_back(values.numbers[r]);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    for (double number : numbers) texts.push_back(canonicalCategory(def.storage, formatNumber(number)));
  }
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  return texts;
}

InputCoding codingFor(const FieldDef& def, std::size_t field, const FieldColumn& values) {
  InputCoding coding;
  coding.field = field;
  coding.continuous = isContinuous(def);
  if (coding.continuous) return coding;
  const std::vector<std::string> raw = def.categories.empty() ? observedCategories(def, values) : def.categories;
  for (const std::string& text : raw) {
    coding.categories.push_back(pmmlCategory(def, text));
    coding.numbers.push_back(numberForStorage(def.storage, text));
  }
  return coding;
}

bool usableNumber(const FieldDef& field, const FieldColumn& values, std::size_t row) {
  return !values.missing[row] && field.storage != StorageString && std::isfinite(values.numbers[row]);
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

int matchCategory(const InputCoding& coding, const FieldDef& field, const FieldColumn& values, std::size_t row) {
  if (values.missing[row]) return -1;
  for (std::size_t i = 0; i < coding.categories.size(); ++i) {
    const bool same = field.storage == StorageString
                          ? values.texts[row] == coding.categories[i]
                          : coding.numbers[i].has_value() && *coding.numbers[i] == values.numbers[row];
    if (same) return static_cast<int>(i);
  }
  return -1;
}

std::optional<std::string> buildDesign(const GroupRecords& data, const ModelSpec& request, Design& design) {
  const std::vector<FieldDef>& fields = data.fields();
  std::map<std::string, std::size_t> byName;
  for (std::size_t i = 0; i < fields.size(); ++i) byName.emplace(fields[i].name, i);
  const auto target = byName.find(request.target);
  if (target == byName.end()) return "unknown field: " + request.target;
  design.targetField = target->second;
  std::vector<FieldColumn> inputs(request.inputs.size());
  for (std::size_t k = 0; k < request.inputs.size(); ++k) {
    const auto input = byName.find(request.inputs[k]);
    if (input == byName.end()) return "unknown field: " + request.inputs[k];
    data.readField(input->second, inputs[k]);
    design.inputs.push_back(codingFor(fields[input->second], input->second, inputs[k]));
  }
  data.readField(design.targetField, design.target);

  // Which records enter the fit, worked out field by field: a record stays
  // usable while its target and each input hold a usable value. A
  // categorical input notes the category each record holds.
  const std::size_t rowCount = data.rowCount();
  const std::size_t inputCount = design.inputs.size();
  const bool textTarget = fields[design.targetField].storage == StorageString;
  std::vector<unsigned char> usable(rowCount);
  for (std::size_t r = 0; r < rowCount; ++r)
    usable[r] = !design.target.missing[r] && (textTarget || std::isfinite(design.target.numbers[r]));
  std::vector<std::vector<int>> held(inputCount);
  bool anyCategorical = false;
  for (std::size_t k = 0; k < inputCount; ++k) {
    const InputCoding& coding = design.inputs[k];
    const FieldDef& def = fields[coding.field];
    if (coding.continuous) {
      for (std::size_t r = 0; r < rowCount; ++r) usable[r] &= usableNumber(def, inputs[k], r);
      continue;
    }
    anyCategorical = true;
    held[k].assign(rowCount, -1);
    for (std::size_t r = 0; r < rowCount; ++r) {
      if (!usable[r]) continue;
      held[k][r] = matchCategory(coding, def, inputs[k], r);
      usable[r] = held[k][r] >= 0;
    }
  }
  design.rows.reserve(rowCount);
  for (std::size_t r = 0; r < rowCount; ++r) {
    if (usable[r])
      design.rows.push_back(r);
    else
      ++design.skipped;
  }
  // kept[i * inputs + k]: the category input k holds in the i-th kept
  // record (-1 for continuous inputs).
  std::vector<int> kept;
  if (anyCategorical) {
    kept.reserve(design.rows.size() * inputCount);
    for (std::size_t r : design.rows)
      for (std::size_t k = 0; k < inputCount; ++k) kept.push_back(held[k].empty() ? -1 : held[k][r]);
  }
  chooseDummies(kept, design);

  design.columnNames = {kInterceptName};
  for (const InputCoding& coding : design.inputs) {
    const std::string& name = fields[coding.field].name;
    if (coding.continuous) design.columnNames.push_back(name);
    for (std::size_t c : coding.dummies) design.columnNames.push_back(name + "=" + coding.categories[c]);
  }
  // Filled column by column: the matrix is column-major.
  const auto n = static_cast<Eigen::Index>(design.rows.size());
  design.x.resize(n, static_cast<Eigen::Index>(design.columnNames.size()));
  design.x.col(0).setOnes();
  Eigen::Index j = 1;
  for (std::size_t k = 0; k < design.inputs.size(); ++k) {
    const InputCoding& coding = design.inputs[k];
    if (coding.continuous) {
      double* out = design.x.col(j++).data();
      const double* in = inputs[k].numbers.data();
      for (Eigen::Index i = 0; i < n; ++i) out[i] = in[design.rows[static_cast<std::size_t>(i)]];
    }
    for (std::size_t c : coding.dummies) {
      double* out = design.x.col(j++).data();
      for (Eigen::Index i = 0; i < n; ++i)
        out[i] = static_cast<int>(c) == kept[static_cast<std::size_t>(i) * design.inputs.size() + k] ? 1.0 : 0.0;
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

std::optional<std::string> findCollinearColumn(const ScaledDesign& design, const std::vector<std::string>& names,
                                               Eigen::HouseholderQR<Eigen::MatrixXd>* qrOut) {
  // Without pivoting, |R(j,j)| is the distance of column j from the span of
  // the columns before it, so the first small one names the culprit.
  constexpr double kTolerance = 1e-9;
  Eigen::HouseholderQR<Eigen::MatrixXd> own;
  Eigen::HouseholderQR<Eigen::MatrixXd>& qr = qrOut != nullptr ? *qrOut : own;
  qr.compute(design.z);
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

#include "design.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "formula_design.h"
#include "pmml_names.h"
#include "value_text.h"

namespace splitmodels::detail {

namespace {

// Largest design the builder allocates (records × columns × 8 bytes). A
// categorical input with thousands of levels held in one group would need
// more, and its least-squares fit would not finish in useful time either.
// It also bounds what grows with the rank: the rank is at most
// min(records, columns), so the covariance of the estimated columns
// (rank × rank) is never larger than the design.
constexpr double kMaxDesignBytes = 64.0 * 1024 * 1024;

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

// Index of the category a requested reference level names, or -1.
int findLevel(const InputCoding& coding, const FieldDef& def, const std::string& level) {
  if (def.storage == StorageString) {
    const auto found = coding.byText.find(std::string_view(level));
    return found == coding.byText.end() ? -1 : found->second;
  }
  const std::optional<double> number = numberForStorage(def.storage, level);
  if (!number) return -1;
  const auto found = coding.byNumber.find(*number == 0.0 ? 0.0 : *number);
  return found == coding.byNumber.end() ? -1 : found->second;
}

}  // namespace

std::optional<std::string> codingFor(const FieldDef& def, std::size_t field, const FieldColumn& values,
                                     const ModelSpec& request, InputCoding& coding) {
  coding.field = field;
  coding.continuous = isContinuous(def);
  if (coding.continuous) return std::nullopt;
  const std::vector<std::string> raw = def.categories.empty() ? observedCategories(def, values) : def.categories;
  for (const std::string& text : raw) {
    const int index = static_cast<int>(coding.categories.size());
    coding.categories.push_back(pmmlCategory(def, text));
    coding.numbers.push_back(numberForStorage(def.storage, text));
    // The first of equal categories wins, as a linear search would find it.
    if (def.storage == StorageString)
      coding.byText.emplace(coding.categories.back(), index);
    else if (coding.numbers.back())
      coding.byNumber.emplace(*coding.numbers.back() == 0.0 ? 0.0 : *coding.numbers.back(), index);
  }
  const auto requested = request.references.find(def.name);
  coding.reference = -1;
  if (requested == request.references.end()) return std::nullopt;
  coding.reference = findLevel(coding, def, requested->second);
  if (coding.reference < 0) return "unknown reference level: " + def.name + " has no category " + requested->second;
  return std::nullopt;
}

namespace {

bool usableNumber(const FieldDef& field, const FieldColumn& values, std::size_t row) {
  return !values.missing[row] && field.storage != StorageString && std::isfinite(values.numbers[row]);
}

// Codes each categorical input against its requested reference level when
// the group's kept records hold it, else against the first category they
// hold, and gives each further held category a column (kept[i * inputs + k]
// is the category of input k in the i-th kept record). Categories the group
// lacks get neither a column nor a term, as when R fits the group's records
// alone and drops their unused levels.
void chooseDummies(const std::vector<int>& kept, Design& design) {
  const std::size_t inputs = design.inputs.size();
  for (std::size_t k = 0; k < inputs; ++k) {
    InputCoding& coding = design.inputs[k];
    if (coding.continuous) continue;
    std::vector<bool> held(coding.categories.size(), false);
    for (std::size_t at = k; at < kept.size(); at += inputs) held[static_cast<std::size_t>(kept[at])] = true;
    if (coding.reference < 0 || !held[static_cast<std::size_t>(coding.reference)]) {
      const auto first = std::find(held.begin(), held.end(), true);
      coding.reference = first == held.end() ? -1 : static_cast<int>(first - held.begin());
    }
    for (std::size_t c = 0; c < held.size(); ++c)
      if (held[c] && static_cast<int>(c) != coding.reference) coding.dummies.push_back(c);
  }
}

// Names every term as R does ("(Intercept)", the field name, the field name
// followed by the level) and ties each to its design column. A categorical
// input that holds a single category in the group is constant, like a
// constant continuous input: one aliased term named by the field.
void nameTerms(const std::vector<FieldDef>& fields, Design& design) {
  design.columnNames = {kInterceptName};
  design.terms = {{kInterceptName, 0}};
  for (const InputCoding& coding : design.inputs) {
    const std::string& name = fields[coding.field].name;
    if (!coding.continuous && coding.dummies.empty()) {
      design.terms.push_back({name, -1});
      continue;
    }
    std::vector<std::string> names;
    if (coding.continuous) names.push_back(name);
    for (std::size_t c : coding.dummies) names.push_back(name + coding.categories[c]);
    for (std::string& term : names) {
      design.terms.push_back({term, static_cast<Eigen::Index>(design.columnNames.size())});
      design.columnNames.push_back(std::move(term));
    }
  }
}

}  // namespace

int matchCategory(const InputCoding& coding, const FieldDef& field, const FieldColumn& values, std::size_t row) {
  if (values.missing[row]) return -1;
  if (field.storage == StorageString) {
    const auto found = coding.byText.find(values.texts[row]);
    return found == coding.byText.end() ? -1 : found->second;
  }
  const double number = values.numbers[row];
  const auto found = coding.byNumber.find(number == 0.0 ? 0.0 : number);
  return found == coding.byNumber.end() ? -1 : found->second;
}

std::optional<std::string> buildDesign(const GroupRecords& data, const ModelSpec& request, Design& design) {
  if (!request.formula.empty()) return formula::buildFormulaDesign(data, request, design);
  const std::vector<FieldDef>& fields = data.fields();
  std::map<std::string, std::size_t> byName;
  for (std::size_t i = 0; i < fields.size(); ++i) byName.emplace(fields[i].name, i);
  const auto target = byName.find(request.target);
  if (target == byName.end()) return "unknown field: " + request.target;
  design.targetField = target->second;
  std::vector<FieldColumn> inputs(request.inputs.size());
  design.inputs.resize(request.inputs.size());
  for (std::size_t k = 0; k < request.inputs.size(); ++k) {
    const auto input = byName.find(request.inputs[k]);
    if (input == byName.end()) return "unknown field: " + request.inputs[k];
    data.readField(input->second, inputs[k]);
    if (auto reason = codingFor(fields[input->second], input->second, inputs[k], request, design.inputs[k]))
      return reason;
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
  // The prior weights and the offset of a glm, read like continuous inputs.
  std::vector<std::pair<const std::string*, FieldColumn>> extras;
  for (const std::string* name : {&request.weights, &request.offset}) {
    if (name->empty()) continue;
    const auto found = byName.find(*name);
    if (found == byName.end()) return "unknown field: " + *name;
    extras.emplace_back(name, FieldColumn{});
    data.readField(found->second, extras.back().second);
    for (std::size_t r = 0; r < rowCount; ++r) usable[r] &= usableNumber(fields[found->second], extras.back().second, r);
  }
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

  nameTerms(fields, design);
  const auto n = static_cast<Eigen::Index>(design.rows.size());
  const double bytes = static_cast<double>(n) * static_cast<double>(design.columnNames.size()) * 8.0;
  if (bytes > kMaxDesignBytes)
    return "design too large: " + std::to_string(n) + " records by " + std::to_string(design.columnNames.size()) +
           " columns would take " + std::to_string(static_cast<long long>(bytes / (1024 * 1024))) +
           " MiB; give the model fewer inputs, or a categorical input fewer levels, or split into more groups";
  for (const auto& [name, values] : extras) {
    Eigen::VectorXd& out = name == &request.weights ? design.weights : design.offset;
    out.resize(n);
    for (Eigen::Index i = 0; i < n; ++i) out(i) = values.numbers[design.rows[static_cast<std::size_t>(i)]];
  }
  // Filled column by column: the matrix is column-major.
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

bool hasIntercept(const Design& design) {
  return !design.columnNames.empty() && design.columnNames.front() == kInterceptName;
}

std::optional<std::string> checkRecordCount(std::size_t records, std::size_t parameters) {
  if (records > 0) return std::nullopt;
  return "too few records: " + std::to_string(records) + " records for " + std::to_string(parameters) +
         " parameters";
}

}  // namespace splitmodels::detail

#include "formula_design.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "formula_terms.h"
#include "pmml_names.h"

namespace splitmodels::formula {

namespace {

using detail::Design;
using detail::InputCoding;
using detail::kInterceptName;

// Largest design built, as for designs of listed inputs.
constexpr double kMaxDesignBytes = 64.0 * 1024 * 1024;

struct Variable {
  enum class Kind { Numeric, Poly, Factor } kind = Kind::Numeric;
  std::string label;
  int degree = 1;
  std::size_t input = 0;        // Factor: its index in design.inputs
  std::vector<double> values;   // Numeric and Poly: per record (of x for Poly)
  std::string predictor;        // Numeric and Poly: the field or derived input
};

// One column of one variable, over the kept records.
struct Piece {
  std::string name;
  std::vector<double> values;
  std::vector<ColumnPart> parts;
};

class Builder {
 public:
  Builder(const GroupRecords& data, const ModelSpec& request, Design& design)
      : data_(data), request_(request), design_(design), layout_(std::make_shared<Layout>()) {
    for (std::size_t i = 0; i < data.fields().size(); ++i) byName_.emplace(data.fields()[i].name, i);
  }

  std::optional<std::string> build() {
    const Node formula = parseFormula(request_.formula);
    std::vector<std::string> dotFields;
    for (const FieldDef& field : data_.fields())
      if (std::find(request_.inputs.begin(), request_.inputs.end(), field.name) != request_.inputs.end())
        dotFields.push_back(field.name);
    const Terms terms = expandTerms(formula, dotFields);
    layout_->response = deparse(terms.response);
    layout_->intercept = terms.intercept;
    rows_ = data_.rowCount();
    usable_.assign(rows_, 1);

    const auto target = byName_.find(request_.target);
    if (target == byName_.end()) return "unknown field: " + request_.target;
    design_.targetField = target->second;
    data_.readField(design_.targetField, design_.target);
    readResponse(terms.response);
    for (std::size_t v = 0; v < terms.variables.size(); ++v) addVariable(terms.variables[v], terms.nodes[v]);
    readOffset(terms.offsets);
    if (!request_.weights.empty()) {
      weights_ = numeric(request_.weights);
      markMissing(weights_);
      if (!cbindWeights_.empty())
        for (std::size_t r = 0; r < rows_; ++r) weights_[r] *= cbindWeights_[r];
    } else if (!cbindWeights_.empty()) {
      weights_ = cbindWeights_;
    }
    if (auto reason = matchFactors()) return reason;
    for (std::size_t r = 0; r < rows_; ++r) {
      if (usable_[r])
        design_.rows.push_back(r);
      else
        ++design_.skipped;
    }
    if (auto reason = checkFinite()) return reason;
    chooseLevels();
    if (auto reason = buildColumns(terms)) return reason;
    design_.formula = layout_;
    return std::nullopt;
  }

 private:
  const FieldDef& fieldDef(const std::string& name) {
    const auto found = byName_.find(name);
    if (found == byName_.end()) throw FormulaError("unknown field: " + name);
    return data_.fields()[found->second];
  }

  static bool categorical(const FieldDef& def) {
    return def.storage == StorageString || !detail::isContinuous(def);
  }

  // A numeric field's values, NaN where missing.
  const std::vector<double>& numeric(const std::string& name) {
    const auto cached = numbers_.find(name);
    if (cached != numbers_.end()) return cached->second;
    const FieldDef& def = fieldDef(name);
    if (categorical(def)) throw FormulaError("the categorical field '" + name + "' is used as a number in the formula");
    FieldColumn column;
    data_.readField(byName_.at(name), column);
    std::vector<double> values(rows_);
    for (std::size_t r = 0; r < rows_; ++r) values[r] = column.missing[r] ? std::nan("") : column.numbers[r];
    return numbers_.emplace(name, std::move(values)).first->second;
  }

  std::vector<double> evaluate(const Node& node) {
    return evaluateColumn(node, rows_, [this](const std::string& name) -> const std::vector<double>& { return numeric(name); });
  }

  // Records with a NaN (a missing value, or an undefined result such as the
  // log of a negative number) leave the fit, as R's na.omit drops them.
  void markMissing(const std::vector<double>& values) {
    for (std::size_t r = 0; r < rows_; ++r)
      if (std::isnan(values[r])) usable_[r] = 0;
  }

  void watch(const std::string& label, const std::vector<double>& values) { watched_.emplace_back(label, &values); }

  void readResponse(const Node& response) {
    const bool binomialTarget = request_.kind == ModelKind::Logistic ||
                                (request_.kind == ModelKind::Glm &&
                                 (request_.family == "binomial" || request_.family == "quasibinomial"));
    if (response.kind == Node::Kind::Call && response.text == "cbind") {
      if (!binomialTarget) throw FormulaError("a cbind() response needs a binomial family");
      const std::vector<double> successes = evaluate(response.args[0]);
      const std::vector<double> failures = evaluate(response.args[1]);
      response_.resize(rows_);
      cbindWeights_.resize(rows_);
      for (std::size_t r = 0; r < rows_; ++r) {
        cbindWeights_[r] = successes[r] + failures[r];
        response_[r] = cbindWeights_[r] == 0 ? 0.0 : successes[r] / cbindWeights_[r];
        if (std::isnan(successes[r]) || std::isnan(failures[r])) usable_[r] = 0;
      }
      watch(deparse(response), cbindWeights_);
      return;
    }
    const FieldDef& target = data_.fields()[design_.targetField];
    if (response.kind == Node::Kind::Name && categorical(target)) {
      // A two-valued categorical target, labelled by the logistic fit.
      for (std::size_t r = 0; r < rows_; ++r)
        if (design_.target.missing[r]) usable_[r] = 0;
      return;
    }
    response_ = evaluate(response);
    markMissing(response_);
    watch(deparse(response), response_);
  }

  void addDerived(const std::string& name, const Node& node) {
    for (const DerivedInput& derived : layout_->derived)
      if (derived.name == name) return;
    layout_->derived.push_back({name, node});
  }

  void addInput(const std::string& name) {
    for (const InputCoding& coding : design_.inputs)
      if (data_.fields()[coding.field].name == name) return;
    const std::size_t field = byName_.at(name);
    FieldColumn column;
    data_.readField(field, column);
    design_.inputs.emplace_back();
    if (auto reason = detail::codingFor(data_.fields()[field], field, column, request_, design_.inputs.back()))
      throw FormulaError(*reason);
  }

  void addFieldsOf(const Node& node) {
    std::vector<std::string> fields;
    collectFields(node, fields);
    for (const std::string& name : fields) addInput(name);
  }

  // The numeric predictor `node` is in the PMML: a field, or a derived input.
  std::string predictorOf(const Node& node) {
    if (node.kind == Node::Kind::Name) return node.text;
    addDerived(deparse(node), node);
    return deparse(node);
  }

  void addVariable(const std::string& label, const Node& node) {
    Variable variable;
    variable.label = label;
    if (node.kind == Node::Kind::Name && categorical(fieldDef(node.text))) {
      variable.kind = Variable::Kind::Factor;
      addInput(node.text);
      variable.input = design_.inputs.size() - 1;
      for (std::size_t k = 0; k < design_.inputs.size(); ++k)
        if (data_.fields()[design_.inputs[k].field].name == node.text) variable.input = k;
      variables_.push_back(std::move(variable));
      return;
    }
    const Node* x = &node;
    if (node.kind == Node::Kind::Call && node.text == "poly") {
      variable.kind = Variable::Kind::Poly;
      for (std::size_t i = 0; i < node.args.size(); ++i) {
        if (node.argNames[i] == "degree" || (node.argNames[i].empty() && i == 1))
          variable.degree = static_cast<int>(node.args[i].number);
        if (node.argNames[i] == "x" || (node.argNames[i].empty() && i == 0)) x = &node.args[i];
      }
    }
    variable.values = evaluate(*x);
    markMissing(variable.values);
    addFieldsOf(*x);
    variable.predictor = predictorOf(*x);
    if (std::find(layout_->covariates.begin(), layout_->covariates.end(), variable.predictor) == layout_->covariates.end())
      layout_->covariates.push_back(variable.predictor);
    variables_.push_back(std::move(variable));
  }

  void readOffset(const std::vector<Node>& offsets) {
    std::vector<Node> all = offsets;
    if (!request_.offset.empty()) {
      Node field;
      field.text = request_.offset;
      all.push_back(field);
    }
    if (all.empty()) return;
    offset_.assign(rows_, 0.0);
    Node sum = all.front();
    std::string name = deparse(all.front());
    for (std::size_t i = 0; i < all.size(); ++i) {
      const std::vector<double> values = evaluate(all[i]);
      for (std::size_t r = 0; r < rows_; ++r) offset_[r] += values[r];
      addFieldsOf(all[i]);
      if (i == 0) continue;
      Node plus;
      plus.kind = Node::Kind::Binary;
      plus.text = "+";
      plus.args = {sum, all[i]};
      sum = plus;
      name += " + " + deparse(all[i]);
    }
    markMissing(offset_);
    watch("the offset", offset_);
    layout_->offset = all.size() == 1 && sum.kind == Node::Kind::Name ? sum.text : "offset(" + name + ")";
    if (layout_->offset != sum.text) addDerived(layout_->offset, sum);
  }

  std::optional<std::string> matchFactors() {
    held_.assign(design_.inputs.size(), {});
    for (std::size_t k = 0; k < design_.inputs.size(); ++k) {
      const InputCoding& coding = design_.inputs[k];
      if (coding.continuous) continue;
      FieldColumn column;
      data_.readField(coding.field, column);
      held_[k].assign(rows_, -1);
      for (std::size_t r = 0; r < rows_; ++r) {
        held_[k][r] = detail::matchCategory(coding, data_.fields()[coding.field], column, r);
        if (held_[k][r] < 0) usable_[r] = 0;
      }
    }
    return std::nullopt;
  }

  // R keeps an infinite value in the model frame and its fit then stops;
  // so does this group, naming the value.
  std::optional<std::string> checkFinite() const {
    std::vector<std::pair<std::string, const std::vector<double>*>> all = watched_;
    for (const Variable& variable : variables_)
      if (variable.kind != Variable::Kind::Factor) all.emplace_back(variable.label, &variable.values);
    if (!weights_.empty()) all.emplace_back("the weights", &weights_);
    for (const auto& [label, values] : all)
      for (std::size_t r : design_.rows)
        if (!std::isfinite((*values)[r]))
          return "non-finite value: " + label + " is " + ((*values)[r] > 0 ? "Inf" : "-Inf") + " in record " +
                 std::to_string(r + 1) + " of the group; a model cannot be fitted to it (R's fit stops too)";
    return std::nullopt;
  }

  // Each categorical input is coded against its requested reference level
  // when the kept records hold it, else against the first level they hold;
  // levels they lack get no column, as when R fits the group alone.
  void chooseLevels() {
    for (std::size_t k = 0; k < design_.inputs.size(); ++k) {
      InputCoding& coding = design_.inputs[k];
      if (coding.continuous) continue;
      std::vector<bool> held(coding.categories.size(), false);
      for (std::size_t r : design_.rows) held[static_cast<std::size_t>(held_[k][r])] = true;
      if (coding.reference < 0 || !held[static_cast<std::size_t>(coding.reference)]) {
        const auto first = std::find(held.begin(), held.end(), true);
        coding.reference = first == held.end() ? -1 : static_cast<int>(first - held.begin());
      }
      for (std::size_t c = 0; c < held.size(); ++c)
        if (held[c] && static_cast<int>(c) != coding.reference) coding.dummies.push_back(c);
    }
  }

  std::vector<Piece> piecesOf(const Variable& variable, bool full) const {
    std::vector<Piece> pieces;
    const std::size_t n = design_.rows.size();
    if (variable.kind == Variable::Kind::Factor) {
      const InputCoding& coding = design_.inputs[variable.input];
      const std::string& field = data_.fields()[coding.field].name;
      std::vector<std::size_t> levels;
      if (full && coding.reference >= 0) levels.push_back(static_cast<std::size_t>(coding.reference));
      levels.insert(levels.end(), coding.dummies.begin(), coding.dummies.end());
      for (std::size_t c : levels) {
        Piece piece{variable.label + coding.categories[c], std::vector<double>(n), {{true, field, coding.categories[c], 1}}};
        for (std::size_t i = 0; i < n; ++i)
          piece.values[i] = held_[variable.input][design_.rows[i]] == static_cast<int>(c) ? 1.0 : 0.0;
        pieces.push_back(std::move(piece));
      }
      return pieces;
    }
    for (int power = 1; power <= variable.degree; ++power) {
      Piece piece{variable.kind == Variable::Kind::Poly ? variable.label + std::to_string(power) : variable.label,
                  std::vector<double>(n), {{false, variable.predictor, "", power}}};
      for (std::size_t i = 0; i < n; ++i) {
        const double x = variable.values[design_.rows[i]];
        piece.values[i] = power == 1 ? x : power == 2 ? x * x : std::pow(x, power);
      }
      pieces.push_back(std::move(piece));
    }
    return pieces;
  }

  // R's rule for a factor in a term: coded by contrasts when the term
  // without it is empty or lies within an earlier term, else by an
  // indicator per level. Without an intercept, the first factor of the
  // first term that has one takes all its levels.
  std::vector<std::vector<bool>> fullCoding(const Terms& terms) const {
    std::vector<std::vector<bool>> full(terms.terms.size());
    bool adjusted = terms.intercept;
    for (std::size_t t = 0; t < terms.terms.size(); ++t) {
      const std::vector<int>& term = terms.terms[t];
      full[t].assign(term.size(), false);
      for (std::size_t i = 0; i < term.size(); ++i) {
        if (variables_[static_cast<std::size_t>(term[i])].kind != Variable::Kind::Factor) continue;
        std::vector<int> margin = term;
        margin.erase(margin.begin() + static_cast<std::ptrdiff_t>(i));
        bool contrasts = margin.empty();
        for (std::size_t s = 0; s < t && !contrasts; ++s)
          contrasts = std::includes(terms.terms[s].begin(), terms.terms[s].end(), margin.begin(), margin.end());
        full[t][i] = !contrasts;
        if (!adjusted) {
          full[t][i] = true;
          adjusted = true;
        }
      }
    }
    return full;
  }

  std::optional<std::string> buildColumns(const Terms& terms) {
    const std::size_t n = design_.rows.size();
    std::vector<Piece> columns;
    if (terms.intercept) {
      columns.push_back({kInterceptName, std::vector<double>(n, 1.0), {}});
      design_.terms.push_back({kInterceptName, 0});
    }
    const std::vector<std::vector<bool>> full = fullCoding(terms);
    const std::vector<std::string> labels = termLabels(terms);
    for (std::size_t t = 0; t < terms.terms.size(); ++t) {
      // The first variable varies fastest, as in R's model.matrix.
      std::vector<Piece> product{{"", std::vector<double>(n, 1.0), {}}};
      for (std::size_t i = 0; i < terms.terms[t].size(); ++i) {
        const Variable& variable = variables_[static_cast<std::size_t>(terms.terms[t][i])];
        std::vector<Piece> next;
        for (const Piece& piece : piecesOf(variable, full[t][i]))
          for (const Piece& earlier : product) {
            Piece joined{earlier.name.empty() ? piece.name : earlier.name + ":" + piece.name, earlier.values,
                         earlier.parts};
            for (std::size_t r = 0; r < n; ++r) joined.values[r] *= piece.values[r];
            joined.parts.insert(joined.parts.end(), piece.parts.begin(), piece.parts.end());
            next.push_back(std::move(joined));
          }
        product = std::move(next);
      }
      if (product.empty()) design_.terms.push_back({labels[t], -1});
      for (Piece& piece : product) {
        design_.terms.push_back({piece.name, static_cast<Eigen::Index>(columns.size())});
        columns.push_back(std::move(piece));
      }
      const double bytes = static_cast<double>(n) * static_cast<double>(columns.size()) * 8.0;
      if (bytes > kMaxDesignBytes)
        return "design too large: " + std::to_string(n) + " records by " + std::to_string(columns.size()) +
               "+ columns would take more than " + std::to_string(static_cast<long long>(kMaxDesignBytes / (1024 * 1024))) +
               " MiB";
    }
    const auto rows = static_cast<Eigen::Index>(n);
    design_.x.resize(rows, static_cast<Eigen::Index>(columns.size()));
    for (std::size_t j = 0; j < columns.size(); ++j) {
      design_.columnNames.push_back(columns[j].name);
      layout_->columns.push_back(columns[j].parts);
      design_.x.col(static_cast<Eigen::Index>(j)) = Eigen::Map<const Eigen::VectorXd>(columns[j].values.data(), rows);
    }
    const auto pick = [&](const std::vector<double>& all, Eigen::VectorXd& out) {
      if (all.empty()) return;
      out.resize(rows);
      for (std::size_t i = 0; i < n; ++i) out(static_cast<Eigen::Index>(i)) = all[design_.rows[i]];
    };
    pick(response_, design_.response);
    pick(weights_, design_.weights);
    pick(offset_, design_.offset);
    pick(cbindWeights_, design_.trials);
    for (std::size_t k = 0; k < design_.inputs.size(); ++k)
      if (!design_.inputs[k].continuous) layout_->factors.push_back(k);
    return std::nullopt;
  }

  const GroupRecords& data_;
  const ModelSpec& request_;
  Design& design_;
  std::shared_ptr<Layout> layout_;
  std::map<std::string, std::size_t> byName_;
  std::map<std::string, std::vector<double>> numbers_;
  std::size_t rows_ = 0;
  std::vector<unsigned char> usable_;
  std::vector<Variable> variables_;
  std::vector<std::vector<int>> held_;  // per input: the category of each record (-1: none)
  std::vector<double> response_, weights_, offset_, cbindWeights_;
  std::vector<std::pair<std::string, const std::vector<double>*>> watched_;
};

}  // namespace

std::optional<std::string> buildFormulaDesign(const GroupRecords& data, const ModelSpec& request, Design& design) {
  try {
    return Builder(data, request, design).build();
  } catch (const FormulaError& error) {
    return std::string(error.what());
  }
}

}  // namespace splitmodels::formula

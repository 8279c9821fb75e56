// Evaluating predicates (three-valued) and regression tables on a row.
#include <algorithm>
#include <cmath>

#include "scorer_model.h"

namespace splitmodels::detail {

namespace {

using Op = Predicate::Op;

Truth fromBool(bool value) { return value ? Truth::True : Truth::False; }

Truth evaluateSimple(const Predicate& predicate, const Datum& datum) {
  if (predicate.op == Op::IsMissing) return fromBool(datum.missing);
  if (predicate.op == Op::IsNotMissing) return fromBool(!datum.missing);
  if (datum.missing || datum.invalid) return Truth::Unknown;
  const int order = compareData(datum, predicate.value);
  switch (predicate.op) {
    case Op::Equal: return fromBool(order == 0);
    case Op::NotEqual: return fromBool(order != 0);
    case Op::Less: return fromBool(order < 0);
    case Op::LessOrEqual: return fromBool(order <= 0);
    case Op::Greater: return fromBool(order > 0);
    case Op::GreaterOrEqual: return fromBool(order >= 0);
    default: return Truth::Unknown;
  }
}

Truth evaluateSet(const Predicate& predicate, const Datum& datum) {
  if (datum.missing || datum.invalid) return Truth::Unknown;
  const bool found = std::any_of(predicate.set.begin(), predicate.set.end(),
                                 [&](const Datum& entry) { return compareData(datum, entry) == 0; });
  return fromBool(predicate.op == Op::IsIn ? found : !found);
}

Truth evaluateCompound(const Predicate& predicate, const std::vector<Datum>& row) {
  bool unknown = false;
  bool parity = false;
  for (const Predicate& child : predicate.children) {
    const Truth truth = evaluate(child, row);
    switch (predicate.op) {
      case Op::And:
        if (truth == Truth::False) return Truth::False;
        break;
      case Op::Or:
        if (truth == Truth::True) return Truth::True;
        break;
      case Op::Surrogate:
        if (truth != Truth::Unknown) return truth;
        break;
      default:  // xor
        parity ^= truth == Truth::True;
        break;
    }
    unknown |= truth == Truth::Unknown;
  }
  if (unknown) return Truth::Unknown;
  switch (predicate.op) {
    case Op::And: return Truth::True;
    case Op::Or: return Truth::False;
    case Op::Xor: return fromBool(parity);
    default: return Truth::Unknown;
  }
}

double sigmoid(double t) {
  if (t >= 0) return 1.0 / (1.0 + std::exp(-t));
  const double e = std::exp(t);
  return e / (1.0 + e);
}

// The values of the model being evaluated's derived fields, for this row.
thread_local std::vector<Datum> derivedValues;

// The row's value of a predictor's field (or derived field), after the
// model's replacement of a missing value; null when it stays missing or is
// invalid.
const Datum* inputFor(const Regression& model, const std::vector<Datum>& row, int field, bool& invalid) {
  const auto index = static_cast<std::size_t>(field);
  const Datum& datum = model.derived.empty() || index < model.derivedBase ? row[index]
                                                                          : derivedValues[index - model.derivedBase];
  if (datum.invalid) {
    invalid = true;
    return nullptr;
  }
  if (!datum.missing) return &datum;
  for (const auto& [index, replacement] : model.replacements)
    if (index == field) return &replacement;
  return nullptr;
}

std::optional<double> evaluateTable(const Regression& model, const RegressionTable& table,
                                    const std::vector<Datum>& row, bool& invalid) {
  double sum = table.intercept;
  for (const NumericTerm& term : table.numeric) {
    const Datum* datum = inputFor(model, row, term.field, invalid);
    if (!datum || !datum->numeric) return std::nullopt;
    sum += term.coefficient * (term.exponent == 1 ? datum->number : std::pow(datum->number, term.exponent));
  }
  for (const CategoricalTerm& term : table.categorical) {
    const Datum* datum = inputFor(model, row, term.field, invalid);
    if (!datum) return std::nullopt;
    if (compareData(*datum, term.value) == 0) sum += term.coefficient;
  }
  for (const ProductTerm& term : table.products) {
    double product = term.coefficient;
    for (const ProductPart& part : term.parts) {
      const Datum* datum = inputFor(model, row, part.field, invalid);
      if (!datum || (!part.categorical && !datum->numeric)) return std::nullopt;
      if (part.categorical)
        product *= compareData(*datum, part.value) == 0 ? 1.0 : 0.0;
      else
        product *= part.exponent == 1 ? datum->number : std::pow(datum->number, part.exponent);
    }
    sum += product;
  }
  return sum;
}

std::vector<double> normalize(Normalization method, const std::vector<double>& y) {
  std::vector<double> p(y.size());
  const std::size_t last = y.size() - 1;
  switch (method) {
    case Normalization::Softmax: {
      const double top = *std::max_element(y.begin(), y.end());
      double total = 0.0;
      for (std::size_t k = 0; k < y.size(); ++k) total += p[k] = std::exp(y[k] - top);
      for (double& value : p) value /= total;
      return p;
    }
    case Normalization::Simplemax: {
      double total = 0.0;
      for (double value : y) total += value;
      for (std::size_t k = 0; k < y.size(); ++k) p[k] = y[k] / total;
      return p;
    }
    default: {  // logit and none: the last class takes what the others leave
      double rest = 1.0;
      for (std::size_t k = 0; k < last; ++k) rest -= p[k] = method == Normalization::Logit ? sigmoid(y[k]) : y[k];
      p[last] = y.size() == 1 && method == Normalization::Logit ? sigmoid(y[0]) : rest;
      return p;
    }
  }
}

}  // namespace

Truth evaluate(const Predicate& predicate, const std::vector<Datum>& row) {
  switch (predicate.kind) {
    case Predicate::Kind::True: return Truth::True;
    case Predicate::Kind::False: return Truth::False;
    case Predicate::Kind::Simple: return evaluateSimple(predicate, row[static_cast<std::size_t>(predicate.field)]);
    case Predicate::Kind::Set: return evaluateSet(predicate, row[static_cast<std::size_t>(predicate.field)]);
    case Predicate::Kind::Compound: return evaluateCompound(predicate, row);
  }
  return Truth::Unknown;
}

const std::vector<Datum>& lastDerivedValues() { return derivedValues; }

std::optional<RegressionOutput> evaluate(const Regression& model, const std::vector<Datum>& row,
                                         std::size_t labelCount, bool& invalid, bool linkScale) {
  for (const auto& [field, known] : model.knownLevels) {
    const Datum& datum = row[static_cast<std::size_t>(field)];
    if (datum.missing || datum.invalid) continue;
    thread_local std::string key;
    key.clear();
    appendIndexKey(datum, key);
    if (!known.count(key)) {  // a category this model never saw
      invalid = true;
      return std::nullopt;
    }
  }
  if (!model.derived.empty()) {
    derivedValues.resize(model.derived.size());
    for (std::size_t k = 0; k < model.derived.size(); ++k) {
      const double value = evaluateExpression(model.derived[k], row, derivedValues, model.derivedBase);
      Datum& datum = derivedValues[k];
      datum.missing = std::isnan(value);
      datum.invalid = datum.integral = false;
      datum.numeric = true;
      datum.number = value;
    }
  }
  RegressionOutput output;
  if (!model.classification) {
    // The first table's value; any further table must still compute. No
    // vector of values, so that scoring a record allocates nothing.
    double value = 0.0;
    for (std::size_t k = 0; k < model.tables.size(); ++k) {
      const std::optional<double> sum = evaluateTable(model, model.tables[k], row, invalid);
      if (!sum) return std::nullopt;
      if (k == 0) value = *sum;
    }
    if (model.generalized) {
      if (model.offsetField >= 0) {
        const Datum* offset = inputFor(model, row, model.offsetField, invalid);
        if (!offset || !offset->numeric) return std::nullopt;
        value += offset->number;
      }
      output.value = linkScale ? value : inverseLink(model.link, value);
      return output;
    }
    if (linkScale) {
      output.value = value;
      return output;
    }
    switch (model.normalization) {
      case Normalization::Logit:
      case Normalization::Softmax: output.value = sigmoid(value); break;
      case Normalization::Exp: output.value = std::exp(value); break;
      default: output.value = value; break;
    }
    return output;
  }
  std::vector<double> y;
  for (const RegressionTable& table : model.tables) {
    const std::optional<double> value = evaluateTable(model, table, row, invalid);
    if (!value) return std::nullopt;
    y.push_back(*value);
  }
  if (model.generalized) {
    if (model.offsetField >= 0) {
      const Datum* offset = inputFor(model, row, model.offsetField, invalid);
      if (!offset || !offset->numeric) return std::nullopt;
      y[0] += offset->number;
    }
    if (linkScale) {
      output.value = y[0];
      return output;
    }
    y[0] = inverseLink(model.link, y[0]);
  } else if (linkScale) {  // the first table's linear predictor, as for regression
    output.value = y[0];
    return output;
  }
  const std::vector<double> p = normalize(model.normalization, y);
  output.probabilities.assign(labelCount, 0.0);
  for (std::size_t k = 0; k < p.size(); ++k)
    output.probabilities[static_cast<std::size_t>(model.labelIndex[k])] += p[k];
  return output;
}

}  // namespace splitmodels::detail

// Values of the arithmetic inside a formula, record by record.
#include <cmath>

#include "formula_design.h"

namespace splitmodels::formula {

namespace {

using Column = std::vector<double>;

Column mapValues(Column values, double (*function)(double)) {
  for (double& v : values) v = function(v);
  return values;
}

}  // namespace

std::vector<double> evaluateColumn(const Node& node, std::size_t rows,
                                   const std::function<const std::vector<double>&(const std::string&)>& field) {
  switch (node.kind) {
    case Node::Kind::Name: return field(node.text);
    case Node::Kind::Number: return Column(rows, node.number);
    case Node::Kind::Paren: return evaluateColumn(node.args[0], rows, field);
    case Node::Kind::Unary: {
      Column values = evaluateColumn(node.args[0], rows, field);
      if (node.text == "-")
        for (double& v : values) v = -v;
      return values;
    }
    case Node::Kind::Binary: {
      Column a = evaluateColumn(node.args[0], rows, field);
      const Column b = evaluateColumn(node.args[1], rows, field);
      const char op = node.text[0];
      for (std::size_t i = 0; i < rows; ++i) {
        switch (op) {
          case '+': a[i] += b[i]; break;
          case '-': a[i] -= b[i]; break;
          case '*': a[i] *= b[i]; break;
          case '/': a[i] /= b[i]; break;
          default: a[i] = b[i] == 2 ? a[i] * a[i] : std::pow(a[i], b[i]); break;
        }
      }
      return a;
    }
    case Node::Kind::Call: break;
  }
  Column values = evaluateColumn(node.args[0], rows, field);
  const std::string& name = node.text;
  if (name == "I") return values;
  if (name == "log" && node.args.size() == 2) {
    const Column base = evaluateColumn(node.args[1], rows, field);
    for (std::size_t i = 0; i < rows; ++i) values[i] = std::log(values[i]) / std::log(base[i]);
    return values;
  }
  if (name == "log") return mapValues(std::move(values), [](double v) { return std::log(v); });
  if (name == "log2") return mapValues(std::move(values), [](double v) { return std::log2(v); });
  if (name == "log10") return mapValues(std::move(values), [](double v) { return std::log10(v); });
  if (name == "exp") return mapValues(std::move(values), [](double v) { return std::exp(v); });
  if (name == "sqrt") return mapValues(std::move(values), [](double v) { return std::sqrt(v); });
  return mapValues(std::move(values), [](double v) { return std::fabs(v); });
}

}  // namespace splitmodels::formula

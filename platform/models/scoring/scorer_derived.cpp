// Values of derived fields: PMML's Apply of arithmetic and the functions of
// transformed inputs, on one row.
#include <cmath>

#include "scorer_model.h"

namespace splitmodels::detail {

double evaluateExpression(const Expression& expression, const std::vector<Datum>& row,
                          const std::vector<Datum>& derived, std::size_t derivedBase) {
  switch (expression.kind) {
    case Expression::Kind::Constant: return expression.value;
    case Expression::Kind::Field: {
      const auto index = static_cast<std::size_t>(expression.field);
      const Datum& datum = index < derivedBase ? row[index] : derived[index - derivedBase];
      return datum.missing || datum.invalid || !datum.numeric ? std::nan("") : datum.number;
    }
    case Expression::Kind::Apply: break;
  }
  const double a = evaluateExpression(expression.args[0], row, derived, derivedBase);
  using Function = Expression::Function;
  switch (expression.function) {
    case Function::Ln: return std::log(a);
    case Function::Log10: return std::log10(a);
    case Function::Exp: return std::exp(a);
    case Function::Sqrt: return std::sqrt(a);
    case Function::Abs: return std::fabs(a);
    default: break;
  }
  const double b = evaluateExpression(expression.args[1], row, derived, derivedBase);
  switch (expression.function) {
    case Function::Add: return a + b;
    case Function::Subtract: return a - b;
    case Function::Multiply: return a * b;
    case Function::Divide: return a / b;
    default: return b == 2 ? a * a : std::pow(a, b);
  }
}

}  // namespace splitmodels::detail

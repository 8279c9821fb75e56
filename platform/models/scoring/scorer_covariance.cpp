#include <cmath>

#include "scorer_model.h"

namespace splitmodels::detail {

namespace {

// A numeric input to a whole power.
double power(double number, int exponent) { return exponent == 1 ? number : std::pow(number, exponent); }

}  // namespace

std::optional<double> linkStandardError(const Covariance& covariance, const std::vector<Datum>& row,
                                        const std::vector<Datum>& derived, std::size_t derivedBase,
                                        double* startPredictor) {
  const auto datumAt = [&](int field) -> const Datum& {
    const auto index = static_cast<std::size_t>(field);
    return index < derivedBase || derived.empty() ? row[index] : derived[index - derivedBase];
  };
  const std::size_t count = covariance.terms.size();
  thread_local std::vector<double> x;
  x.assign(count, 0.0);
  for (std::size_t k = 0; k < count; ++k) {
    const CovarianceTerm& term = covariance.terms[k];
    if (term.field < 0) {
      if (term.parts.empty()) {  // the intercept
        x[k] = 1.0;
        continue;
      }
      // A product: a missing category zeroes it, a missing number leaves no
      // standard error, as for a single term.
      double product = 1.0;
      for (const ProductPart& part : term.parts) {
        const Datum& datum = datumAt(part.field);
        if (part.categorical) {
          if (datum.missing || datum.invalid || compareData(datum, part.value) != 0) product = 0.0;
          continue;
        }
        if (datum.missing || datum.invalid || !datum.numeric) return std::nullopt;
        product *= power(datum.number, part.exponent);
      }
      x[k] = product;
      continue;
    }
    const Datum& datum = datumAt(term.field);
    if (term.categorical) {
      // A missing category matches no term: as the table, it contributes 0.
      x[k] = !datum.missing && !datum.invalid && compareData(datum, term.value) == 0 ? 1.0 : 0.0;
      continue;
    }
    if (datum.missing || datum.invalid || !datum.numeric) return std::nullopt;
    x[k] = power(datum.number, term.exponent);
  }
  if (startPredictor && !covariance.start.empty()) {
    *startPredictor = 0.0;
    for (std::size_t k = 0; k < count; ++k) *startPredictor += x[k] * covariance.start[k];
  }
  double variance = 0.0;
  for (std::size_t a = 0; a < count; ++a) {
    if (x[a] == 0.0) continue;
    double sum = 0.0;
    for (std::size_t b = 0; b < count; ++b) sum += covariance.matrix[a * count + b] * x[b];
    variance += x[a] * sum;
  }
  // Rounding can leave a variance of 0 slightly negative.
  return std::sqrt(std::max(variance, 0.0));
}

}  // namespace splitmodels::detail

#include <cmath>

#include "scorer_model.h"

namespace splitmodels::detail {

std::optional<double> linkStandardError(const Covariance& covariance, const std::vector<Datum>& row,
                                        double* startPredictor) {
  const std::size_t count = covariance.terms.size();
  thread_local std::vector<double> x;
  x.assign(count, 0.0);
  for (std::size_t k = 0; k < count; ++k) {
    const CovarianceTerm& term = covariance.terms[k];
    if (term.field < 0) {
      x[k] = 1.0;
      continue;
    }
    const Datum& datum = row[static_cast<std::size_t>(term.field)];
    if (term.categorical) {
      // A missing category matches no term: as the table, it contributes 0.
      x[k] = !datum.missing && !datum.invalid && compareData(datum, term.value) == 0 ? 1.0 : 0.0;
      continue;
    }
    if (datum.missing || datum.invalid || !datum.numeric) return std::nullopt;
    x[k] = term.exponent == 1 ? datum.number : std::pow(datum.number, term.exponent);
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

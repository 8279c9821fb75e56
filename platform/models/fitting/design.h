// Turning a group's records into a regression design: one column per
// continuous input, one dummy column per category of a categorical input
// that the group's fitted records hold, but the reference category, and an
// intercept column in front.
#pragma once

#include <Eigen/Dense>

#include <cstddef>
#include <optional>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "splitmodels/data.h"

namespace splitmodels::formula {
struct Layout;
}

namespace splitmodels::detail {

// How one input field enters the design.
struct InputCoding {
  std::size_t field = 0;  // index into the group's fields
  bool continuous = true;
  // Categorical inputs: the category texts in PMML form (first = base) and,
  // for numeric storage, their numbers.
  std::vector<std::string> categories;
  std::vector<std::optional<double>> numbers;
  // Category index by text (string storage) or by number (numeric storage).
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  std::unordered_map<std::string, int, TextHash, std::equal_to<>> byText;
  std::unordered_map<double, int> byNumber;
  // The category the input is coded against: the requested reference level
  // when the group's fitted records hold it, else the first category they
  // hold (-1 before buildDesign, or when none is held).
  int reference = -1;
  // Set by buildDesign from the fitted records: in category order, the
  // indexes of the held categories other than the reference, one dummy
  // column each. A category no fitted record holds gets no column.
  std::vector<std::size_t> dummies;
};

// A term of the model as R names it, and the design column that carries it
// (-1 when no column does: a categorical input with a single held category).
struct DesignTerm {
  std::string name;
  Eigen::Index column = -1;
};

// Index of the category that record `row` of `values` holds, or -1 when it
// holds none of them.
int matchCategory(const InputCoding& coding, const FieldDef& field, const FieldColumn& values, std::size_t row);

struct Design {
  std::vector<InputCoding> inputs;
  std::vector<std::string> columnNames;  // "(Intercept)" first
  std::vector<DesignTerm> terms;         // every term, in model order
  Eigen::MatrixXd x;                     // complete records × columns
  std::vector<std::size_t> rows;         // source row of each design row
  std::size_t targetField = 0;
  FieldColumn target;                    // the target's values, every record
  std::size_t skipped = 0;  // records with a missing/unknown target or input
  // Per design row: the prior weights and the offset, when the request
  // names their fields (else empty).
  Eigen::VectorXd weights;
  Eigen::VectorXd offset;
  // Per design row: a cbind() response's trials (successes plus failures),
  // else empty. They start the fit and count in the binomial AIC, apart
  // from any prior weights.
  Eigen::VectorXd trials;
  // A design built from an R formula: its columns' layout, and the response
  // per design row (the formula's response may transform the target).
  std::shared_ptr<const formula::Layout> formula;
  Eigen::VectorXd response;
};

// Whether the design's first column is the intercept (a formula may leave
// it out).
bool hasIntercept(const Design& design);

// Sets up the coding of input `field` (its categories, and the requested
// reference level); the reason when the reference level is unknown.
std::optional<std::string> codingFor(const FieldDef& def, std::size_t field, const FieldColumn& values,
                                     const ModelSpec& request, InputCoding& coding);

// Builds the design for `request` over `data`. A record is left out (and
// counted in `skipped`) when its target is missing or not a finite number,
// its weight or offset is missing or not a finite number, an input is missing, or a categorical input holds none of its categories.
// Each categorical input is then dummy-coded against its reference
// category. Returns a failure reason (unknown field, unknown reference
// level, a design too large to hold) or nothing.
std::optional<std::string> buildDesign(const GroupRecords& data, const ModelSpec& request, Design& design);

// The failure reason for a group without a usable record. Fewer records
// than parameters is no failure: the columns beyond the records are
// aliased, as in R's lm.
std::optional<std::string> checkRecordCount(std::size_t records, std::size_t parameters);

}  // namespace splitmodels::detail

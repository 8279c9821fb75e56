// Turning a group's records into a regression design: one column per
// continuous input, one dummy column per category of a categorical input
// that the group's fitted records hold, but the first of them, and an
// intercept column in front.
#pragma once

#include <Eigen/Dense>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "splitmodels/data.h"

namespace splitmodels::detail {

// How one input field enters the design.
struct InputCoding {
  std::size_t field = 0;  // index into the group's fields
  bool continuous = true;
  // Categorical inputs: the category texts in PMML form (first = base) and,
  // for numeric storage, their numbers.
  std::vector<std::string> categories;
  std::vector<std::optional<double>> numbers;
  // Set by buildDesign from the fitted records: the index of the category
  // the input is coded against (the first one any fitted record holds; -1
  // when none does) and, in category order, the indexes of the other held
  // categories, one dummy column each. Categories no fitted record holds
  // get no column.
  int reference = -1;
  std::vector<std::size_t> dummies;
};

// Index of the category that record `row` of `values` holds, or -1 when it
// holds none of them.
int matchCategory(const InputCoding& coding, const FieldDef& field, const FieldColumn& values, std::size_t row);

struct Design {
  std::vector<InputCoding> inputs;
  std::vector<std::string> columnNames;  // "(intercept)" first
  Eigen::MatrixXd x;                     // complete records × columns
  std::vector<std::size_t> rows;         // source row of each design row
  std::size_t targetField = 0;
  FieldColumn target;                    // the target's values, every record
  std::size_t skipped = 0;  // records with a missing/unknown target or input
};

// Builds the design for `request` over `data`. A record is left out (and
// counted in `skipped`) when its target is missing or not a finite number,
// an input is missing, or a categorical input holds none of its categories.
// Each categorical input is then dummy-coded against the first of its
// categories that a kept record holds.
// Returns a failure reason (unknown field) or nothing.
std::optional<std::string> buildDesign(const GroupRecords& data, const ModelSpec& request, Design& design);

// The design with every non-intercept column centred and scaled to unit
// norm, which keeps the solvers accurate whatever the inputs' scales.
struct ScaledDesign {
  Eigen::MatrixXd z;
  Eigen::VectorXd mean;   // per column (0 for the intercept)
  Eigen::VectorXd scale;  // per column (1 for the intercept)
  // Coefficients of the original columns from those of the scaled ones.
  Eigen::VectorXd unscale(const Eigen::VectorXd& gamma) const;
};

ScaledDesign scaleDesign(const Eigen::MatrixXd& x);

// Checks that the design has full column rank. Returns the reason naming the
// first column (in design order) that lies in the span of the columns before
// it, or nothing when every column adds a direction.
// The factorisation it made is left in `qr` when given (for solving with).
std::optional<std::string> findCollinearColumn(const ScaledDesign& design, const std::vector<std::string>& names,
                                               Eigen::HouseholderQR<Eigen::MatrixXd>* qr = nullptr);

// The failure reason for fewer records than parameters, if that is the case.
std::optional<std::string> checkRecordCount(std::size_t records, std::size_t parameters);

}  // namespace splitmodels::detail

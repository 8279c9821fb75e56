// The design matrix of an R formula over a group's records, as R's
// model.matrix builds it with treatment contrasts, and the layout of its
// columns that the PMML writer needs.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "design.h"
#include "formula.h"

namespace splitmodels::formula {

// One factor of a design column: a numeric predictor (a field, or a
// transformed input by its R label) raised to `power`, or a categorical
// field's indicator of `level`.
struct ColumnPart {
  bool categorical = false;
  std::string predictor;
  std::string level;  // categorical: the category in PMML form
  int power = 1;      // numeric
};

// A transformed input: R's label and the expression that computes it.
struct DerivedInput {
  std::string name;
  Node expression;
};

// How a formula design's columns are made from the record's fields.
struct Layout {
  std::string response;                        // R's printed response ("log(y)", "cbind(s, f)")
  bool intercept = true;
  std::vector<DerivedInput> derived;           // in order of first use
  std::vector<std::string> covariates;         // numeric predictors, fields or derived names
  std::vector<std::size_t> factors;            // design.inputs indexes of the categorical fields
  std::vector<std::vector<ColumnPart>> columns;  // per design column; empty for the intercept
  std::string offset;                          // the offset's field or derived name; empty: none
};

// The values of an arithmetic expression (checkArithmetic) for every record:
// `field(name)` gives a field's numbers (NaN for a missing value). R's
// arithmetic: log of a negative number is NaN, of 0 is -Inf.
std::vector<double> evaluateColumn(const Node& node, std::size_t rows,
                                   const std::function<const std::vector<double>&(const std::string&)>& field);

// Builds the design of `request.formula` over `data`: the response (with
// cbind(s, f), s / (s + f) and prior weights s + f), the offsets summed,
// the columns named as R's coef() names them. A record is left out when a
// value it needs is missing or NaN, as R's na.omit leaves it; an infinite
// value among the kept records fails the group, as R's fit stops on it.
std::optional<std::string> buildFormulaDesign(const GroupRecords& data, const ModelSpec& request,
                                              detail::Design& design);

}  // namespace splitmodels::formula

// R's expansion of a formula's right side into terms (terms.formula): the
// variables in order of appearance, the terms as sets of variables ordered
// by their number of variables and then by appearance, the intercept and
// the offsets.
#pragma once

#include <string>
#include <vector>

#include "formula.h"

namespace splitmodels::formula {

struct Terms {
  Node response;
  // Every variable of the right side by its printed form ("x", "log(x2)",
  // "poly(x, 2, raw = TRUE)"), in order of first appearance; `nodes` holds
  // the expression of each.
  std::vector<std::string> variables;
  std::vector<Node> nodes;
  // Each term as the indexes of its variables, ascending.
  std::vector<std::vector<int>> terms;
  bool intercept = true;
  std::vector<Node> offsets;  // the arguments of offset(), in order
};

// Expands the right side of `formula` (from parseFormula, which refused
// what cannot be expanded). "." stands for `dotFields` minus the fields the
// response reads. A formula left without terms ("y ~ 1", "y ~ 0") is valid.
Terms expandTerms(const Node& formula, const std::vector<std::string>& dotFields);

// R's label of each term: its variables joined by ":".
std::vector<std::string> termLabels(const Terms& terms);

}  // namespace splitmodels::formula

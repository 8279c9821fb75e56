// platform/models/formula: part of the workers' model library (splitmodels).
// Owns R model formulas: their syntax tree and parser (this header,
// formula.cpp), R's expansion into terms (formula_terms.h), the values of
// transformed fields (formula_values.cpp) and the design matrix a formula
// gives (formula_design.h). Includes splitmodels/ and models/fitting; the
// PMML of a formula model is written in models/pmml (formula_pmml.cpp).
//
// The syntax tree of an R model formula, its parser, and the text R prints
// for a tree (which names terms and coefficients).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace splitmodels::formula {

// Raised for a formula this system cannot fit; the message names the part.
class FormulaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One node of an R expression as the formula writes it.
struct Node {
  enum class Kind {
    Name,    // a field, or "." (every other field); `text` is the name
    Number,  // `number`
    Call,    // `text` is the function, `args` its arguments, `argNames` their names ("" when positional)
    Binary,  // `text` is the operator (~ + - * / ^ :), `args` its two operands
    Unary,   // `text` is "-" or "+", `args` its operand
    Paren,   // `args` the parenthesised expression
  };
  Kind kind = Kind::Name;
  std::string text;
  double number = 0.0;
  std::vector<Node> args;
  std::vector<std::string> argNames;
};

// Parses "response ~ terms". The response is a field, a transformation of
// fields, or cbind(successes, failures); the right side uses + - * : ^ ( ),
// 0 and 1, ".", I(), log(), log2(), log10(), exp(), sqrt(), abs(),
// poly(x, k, raw = TRUE) and offset(). Throws FormulaError naming the first
// part outside that set.
Node parseFormula(const std::string& text);

// The text R's deparse gives for `node`: spaces around + - * / ~, none
// around ^ and :, numbers with up to 15 significant digits in the shorter
// of fixed and scientific notation, and backquotes around names that are not
// syntactic.
std::string deparse(const Node& node);

// R's printed form of a double (15 significant digits, fixed or scientific
// by width as R chooses).
std::string formatRNumber(double value);

// Checks that `node` is arithmetic this system evaluates: fields, numbers,
// + - * / ^, unary minus, parentheses, I(), log() (with an optional base),
// log2(), log10(), exp(), sqrt() and abs(). Throws FormulaError otherwise.
void checkArithmetic(const Node& node);

// The field names `node` reads, in order of first appearance (no ".").
void collectFields(const Node& node, std::vector<std::string>& names);

}  // namespace splitmodels::formula

// The check of a formula before any data is read, for the command line.
#include "formula_terms.h"
#include "splitmodels/group_model.h"

namespace splitmodels {

namespace {

// Whether "." is among the terms.
bool hasDot(const formula::Node& node) {
  if (node.kind == formula::Node::Kind::Name) return node.text == ".";
  if (node.kind == formula::Node::Kind::Call) return false;
  for (const formula::Node& arg : node.args)
    if (hasDot(arg)) return true;
  return false;
}

}  // namespace

std::optional<std::string> checkFormula(const std::string& text, FormulaFields& out) {
  try {
    const formula::Node root = formula::parseFormula(text);
    out = FormulaFields{};
    std::vector<std::string> response;
    formula::collectFields(root.args[0], response);
    out.target = response.front();
    out.responseFields = response;
    out.plainResponse = root.args[0].kind == formula::Node::Kind::Name;
    out.cbind = root.args[0].kind == formula::Node::Kind::Call && root.args[0].text == "cbind";
    const formula::Terms terms = formula::expandTerms(root, {});
    for (const formula::Node& node : terms.nodes) formula::collectFields(node, out.inputs);
    for (const formula::Node& node : terms.offsets) formula::collectFields(node, out.inputs);
    out.dot = hasDot(root.args[1]);
    return std::nullopt;
  } catch (const formula::FormulaError& error) {
    return std::string(error.what());
  }
}

}  // namespace splitmodels

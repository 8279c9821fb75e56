#include "formula_terms.h"

#include <algorithm>

namespace splitmodels::formula {

namespace {

using Term = std::vector<int>;
using TermList = std::vector<Term>;

Term join(const Term& a, const Term& b) {
  Term out;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

void append(TermList& list, const Term& term) {
  if (std::find(list.begin(), list.end(), term) == list.end()) list.push_back(term);
}

TermList cross(const TermList& a, const TermList& b) {
  TermList out;
  for (const Term& left : a)
    for (const Term& right : b) append(out, join(left, right));
  return out;
}

class Expander {
 public:
  Expander(Terms& out, const std::vector<std::string>& dotFields) : out_(out), dotFields_(dotFields) {}

  // The terms `node` stands for; 0 and 1 set the intercept, and under a
  // minus (`negated`) they clear and set it the other way round.
  TermList expand(const Node& node, bool negated) {
    switch (node.kind) {
      case Node::Kind::Number:
        out_.intercept = (node.number == 1) != negated;
        return {};
      case Node::Kind::Name:
        if (node.text == ".") {
          TermList list;
          std::vector<std::string> response;
          collectFields(out_.response, response);
          for (const std::string& field : dotFields_) {
            if (std::find(response.begin(), response.end(), field) != response.end()) continue;
            Node name;
            name.text = field;
            append(list, {variable(name)});
          }
          return list;
        }
        return {{variable(node)}};
      case Node::Kind::Paren: return expand(node.args[0], negated);
      case Node::Kind::Unary: {
        // "+" keeps the terms under it. "-" removes them from nothing, as R
        // does (y ~ x + -x keeps x; only a - b removes b from a), and turns
        // an intercept under it round.
        TermList inner = expand(node.args[0], negated != (node.text == "-"));
        if (node.text == "+") return inner;
        return {};
      }
      case Node::Kind::Call:
        if (node.text == "offset") {
          out_.offsets.push_back(node.args[0]);
          return {};
        }
        return {{variable(node)}};
      case Node::Kind::Binary: break;
    }
    const std::string& op = node.text;
    TermList left = expand(node.args[0], negated);
    if (op == "^") {  // (a + b)^2: every product of up to two of the terms
      TermList result = left;
      for (int k = 1; k < static_cast<int>(node.args[1].number); ++k) result = cross(result, left);
      return result;
    }
    TermList right = expand(node.args[1], negated != (op == "-"));
    if (op == "+") {
      for (const Term& term : right) append(left, term);
      return left;
    }
    if (op == "-") {
      left.erase(std::remove_if(left.begin(), left.end(),
                                [&](const Term& t) { return std::find(right.begin(), right.end(), t) != right.end(); }),
                 left.end());
      return left;
    }
    if (op == ":") return cross(left, right);
    // a * b: a + b + a:b
    TermList result = left;
    for (const Term& term : right) append(result, term);
    for (const Term& term : cross(left, right)) append(result, term);
    return result;
  }

 private:
  int variable(const Node& node) {
    const std::string label = deparse(node);
    for (std::size_t i = 0; i < out_.variables.size(); ++i)
      if (out_.variables[i] == label) return static_cast<int>(i);
    out_.variables.push_back(label);
    out_.nodes.push_back(node);
    return static_cast<int>(out_.variables.size()) - 1;
  }

  Terms& out_;
  const std::vector<std::string>& dotFields_;
};

}  // namespace

Terms expandTerms(const Node& formula, const std::vector<std::string>& dotFields) {
  Terms out;
  out.response = formula.args[0];
  Expander expander(out, dotFields);
  TermList list = expander.expand(formula.args[1], false);
  // By number of variables, then in the order the expansion found them.
  std::stable_sort(list.begin(), list.end(), [](const Term& a, const Term& b) { return a.size() < b.size(); });
  list.erase(std::remove_if(list.begin(), list.end(), [](const Term& t) { return t.empty(); }), list.end());
  out.terms = std::move(list);
  return out;
}

std::vector<std::string> termLabels(const Terms& terms) {
  std::vector<std::string> labels;
  for (const std::vector<int>& term : terms.terms) {
    std::string label;
    for (int v : term) label += (label.empty() ? "" : ":") + terms.variables[static_cast<std::size_t>(v)];
    labels.push_back(std::move(label));
  }
  return labels;
}

}  // namespace splitmodels::formula

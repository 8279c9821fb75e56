#include "formula.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace splitmodels::formula {

namespace {

struct Token {
  enum class Kind { Name, Number, Op, End } kind = Kind::End;
  std::string text;
  double number = 0.0;
  std::size_t at = 0;
};

bool nameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '.'; }
bool nameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_'; }

std::vector<Token> tokenize(const std::string& text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    Token token;
    token.at = i;
    const bool digitAfterDot = c == '.' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]));
    if (std::isdigit(static_cast<unsigned char>(c)) || digitAfterDot) {
      const char* start = text.c_str() + i;
      char* end = nullptr;
      token.kind = Token::Kind::Number;
      token.number = std::strtod(start, &end);
      i += static_cast<std::size_t>(end - start);
      if (i < text.size() && (text[i] == 'L' || text[i] == 'i' || nameChar(text[i])))
        throw FormulaError("unsupported number '" + text.substr(token.at, i + 1 - token.at) + "'");
    } else if (nameStart(c)) {
      token.kind = Token::Kind::Name;
      while (i < text.size() && nameChar(text[i])) token.text += text[i++];
    } else if (c == '`') {
      const std::size_t close = text.find('`', i + 1);
      if (close == std::string::npos) throw FormulaError("unclosed backquote in the formula");
      token.kind = Token::Kind::Name;
      token.text = text.substr(i + 1, close - i - 1);
      if (token.text.empty()) throw FormulaError("empty backquoted name in the formula");
      i = close + 1;
    } else if (std::string("~+-*/^:(),=").find(c) != std::string::npos) {
      token.kind = Token::Kind::Op;
      token.text = std::string(1, c);
      ++i;
      if (c == '=' && i < text.size() && text[i] == '=') throw FormulaError("unsupported operator '=='");
    } else if (c == '%') {
      const std::size_t close = text.find('%', i + 1);
      throw FormulaError("unsupported operator '" + text.substr(i, close == std::string::npos ? 1 : close - i + 1) + "'");
    } else {
      throw FormulaError(std::string("unsupported character '") + c + "' in the formula");
    }
    tokens.push_back(std::move(token));
  }
  Token end;
  end.at = text.size();
  tokens.push_back(end);
  return tokens;
}

// Recursive descent over R's precedence, lowest first: ~, binary + -,
// * /, :, unary + -, ^ (right-associative, its exponent may be negated).
class Parser {
 public:
  explicit Parser(const std::string& text) : tokens_(tokenize(text)) {}

  Node formula() {
    if (isOp("~")) throw FormulaError("the formula needs a response before '~' (y ~ ...)");
    Node lhs = sum();
    if (!isOp("~")) throw FormulaError("the formula needs '~' between the response and the terms");
    ++pos_;
    Node rhs = sum();
    if (peek().kind != Token::Kind::End) unexpected();
    return binary("~", std::move(lhs), std::move(rhs));
  }

 private:
  const Token& peek() const { return tokens_[pos_]; }
  bool isOp(const char* op) const { return peek().kind == Token::Kind::Op && peek().text == op; }
  [[noreturn]] void unexpected() const {
    if (peek().kind == Token::Kind::End) throw FormulaError("the formula ends too early");
    throw FormulaError("unexpected '" + (peek().kind == Token::Kind::Number ? formatRNumber(peek().number) : peek().text) +
                       "' in the formula");
  }
  void expect(const char* op) {
    if (!isOp(op)) unexpected();
    ++pos_;
  }

  static Node binary(std::string op, Node lhs, Node rhs) {
    Node node;
    node.kind = Node::Kind::Binary;
    node.text = std::move(op);
    node.args.push_back(std::move(lhs));
    node.args.push_back(std::move(rhs));
    return node;
  }

  // The tree is walked recursively, here and by every later step, so its
  // depth is bounded: each nested parenthesis, call, sign or power and each
  // operator of a chain (x + x + ...) is a level. A deeper formula would
  // overflow the stack.
  static constexpr std::size_t kMaxDepth = 2000;
  void deeper(std::size_t levels = 1) {
    depth_ += levels;
    if (depth_ > kMaxDepth)
      throw FormulaError("the formula is nested more than " + std::to_string(kMaxDepth) +
                         " levels deep (terms joined by operators, parentheses, calls, signs or powers); "
                         "write it with fewer terms or parentheses");
  }

  Node sum() {
    deeper();
    const std::size_t base = depth_;
    Node node = product();
    while (isOp("+") || isOp("-")) {
      deeper();
      std::string op = tokens_[pos_++].text;
      node = binary(std::move(op), std::move(node), product());
    }
    depth_ = base - 1;
    return node;
  }
  Node product() {
    const std::size_t base = depth_;
    Node node = interaction();
    while (isOp("*") || isOp("/")) {
      deeper();
      std::string op = tokens_[pos_++].text;
      node = binary(std::move(op), std::move(node), interaction());
    }
    depth_ = base;
    return node;
  }
  Node interaction() {
    const std::size_t base = depth_;
    Node node = unary();
    while (isOp(":")) {
      deeper();
      ++pos_;
      node = binary(":", std::move(node), unary());
    }
    depth_ = base;
    return node;
  }
  Node unary() {
    if (isOp("-") || isOp("+")) {
      deeper();
      Node node;
      node.kind = Node::Kind::Unary;
      node.text = tokens_[pos_++].text;
      node.args.push_back(unary());
      --depth_;
      return node;
    }
    return power();
  }
  Node power() {
    Node node = primary();
    if (!isOp("^")) return node;
    ++pos_;
    deeper();
    Node power = binary("^", std::move(node), unary());
    --depth_;
    return power;
  }
  Node primary() {
    const Token& token = peek();
    Node node;
    if (token.kind == Token::Kind::Number) {
      node.kind = Node::Kind::Number;
      node.number = token.number;
      ++pos_;
      return node;
    }
    if (isOp("(")) {
      ++pos_;
      node.kind = Node::Kind::Paren;
      node.args.push_back(sum());
      expect(")");
      return node;
    }
    if (token.kind != Token::Kind::Name) unexpected();
    node.text = token.text;
    ++pos_;
    if (!isOp("(")) return node;
    ++pos_;
    node.kind = Node::Kind::Call;
    while (!isOp(")")) {
      if (!node.args.empty()) expect(",");
      std::string name;
      if (peek().kind == Token::Kind::Name && tokens_[pos_ + 1].kind == Token::Kind::Op &&
          tokens_[pos_ + 1].text == "=") {
        name = peek().text;
        pos_ += 2;
      }
      node.argNames.push_back(std::move(name));
      node.args.push_back(sum());
    }
    ++pos_;
    return node;
  }

  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;
};

bool syntactic(const std::string& name) {
  static const std::set<std::string> reserved = {"if", "else", "repeat", "while", "function", "for", "next", "break",
                                                 "in"};
  if (name.empty() || reserved.count(name)) return false;
  if (!nameStart(name[0])) return false;
  if (name[0] == '.' && name.size() > 1 && std::isdigit(static_cast<unsigned char>(name[1]))) return false;
  for (char c : name)
    if (!nameChar(c)) return false;
  return true;
}

bool isTrue(const Node& node) { return node.kind == Node::Kind::Name && (node.text == "TRUE" || node.text == "T"); }

bool positiveInteger(const Node& node) {
  return node.kind == Node::Kind::Number && node.number >= 1 && node.number == std::floor(node.number) &&
         node.number <= 64;
}

const std::set<std::string>& arithmeticFunctions() {
  static const std::set<std::string> names = {"I", "log", "log2", "log10", "exp", "sqrt", "abs"};
  return names;
}

[[noreturn]] void unsupportedFunction(const Node& call) {
  if (call.text == "poly") throw FormulaError("unsupported here: " + deparse(call) + " (poly() is a term of its own)");
  if (call.text == "offset") throw FormulaError("unsupported here: " + deparse(call) + " (offset() is a term of its own)");
  if (call.text == "cbind") throw FormulaError("unsupported here: " + deparse(call) + " (cbind() is only a response)");
  throw FormulaError("unsupported function '" + call.text + "'");
}

void checkCall(const Node& call, std::size_t least, std::size_t most) {
  if (call.args.size() < least || call.args.size() > most)
    throw FormulaError("unsupported: " + deparse(call) + " (" + call.text + "() takes " +
                       (least == most ? std::to_string(least) : std::to_string(least) + " or " + std::to_string(most)) +
                       " argument" + (most == 1 ? "" : "s") + ")");
}

// poly(x, k, raw = TRUE) with k a whole number from 1 to 64.
void checkPoly(const Node& call) {
  bool raw = false;
  int positional = 0;
  bool degree = false;
  for (std::size_t i = 0; i < call.args.size(); ++i) {
    const std::string& name = call.argNames[i];
    if (name == "raw") {
      raw = isTrue(call.args[i]);
    } else if ((name.empty() && positional == 1) || name == "degree") {
      if (!positiveInteger(call.args[i]))
        throw FormulaError("unsupported: " + deparse(call) + " (the degree must be a whole number from 1 to 64)");
      degree = true;
      if (name.empty()) ++positional;
    } else if ((name.empty() && positional == 0) || name == "x") {
      checkArithmetic(call.args[i]);
      if (name.empty()) ++positional;
    } else {
      throw FormulaError("unsupported: " + deparse(call) + " (poly() takes x, a degree and raw = TRUE)");
    }
  }
  if (positional == 0 || call.args.empty()) throw FormulaError("unsupported: " + deparse(call) + " (poly() needs a field)");
  if (!raw) throw FormulaError("unsupported: " + deparse(call) + " without raw = TRUE (only raw polynomials are fitted)");
  if (!degree) throw FormulaError("unsupported: " + deparse(call) + " without a degree");
}

void checkTerms(const Node& node) {
  switch (node.kind) {
    case Node::Kind::Name: return;
    case Node::Kind::Number:
      if (node.number != 0 && node.number != 1)
        throw FormulaError("unsupported term '" + formatRNumber(node.number) + "' (only 0 and 1 set the intercept)");
      return;
    case Node::Kind::Paren:
    case Node::Kind::Unary: checkTerms(node.args[0]); return;
    case Node::Kind::Binary:
      if (node.text == "/")
        throw FormulaError("unsupported operator '/' outside I() (write a + a:b for nesting, I(a / b) for a ratio)");
      if (node.text == "~") throw FormulaError("unsupported: a second '~' in the formula");
      checkTerms(node.args[0]);
      if (node.text == "^") {
        if (!positiveInteger(node.args[1]))
          throw FormulaError("unsupported: " + deparse(node) + " (the power of terms must be a whole number; write I(" +
                             deparse(node) + ") for arithmetic)");
        return;
      }
      checkTerms(node.args[1]);
      return;
    case Node::Kind::Call:
      if (node.text == "poly") return checkPoly(node);
      if (node.text == "offset") {
        checkCall(node, 1, 1);
        checkArithmetic(node.args[0]);
        return;
      }
      if (arithmeticFunctions().count(node.text)) return checkArithmetic(node);
      unsupportedFunction(node);
  }
}

void checkResponse(const Node& node) {
  if (node.kind == Node::Kind::Call && node.text == "cbind") {
    checkCall(node, 2, 2);
    for (std::size_t i = 0; i < 2; ++i) {
      if (!node.argNames[i].empty())
        throw FormulaError("unsupported: " + deparse(node) + " (cbind() takes two unnamed arguments)");
      checkArithmetic(node.args[i]);
    }
    return;
  }
  checkArithmetic(node);
  std::vector<std::string> fields;
  collectFields(node, fields);
  if (fields.empty()) throw FormulaError("the response " + deparse(node) + " reads no field");
}

}  // namespace

void checkArithmetic(const Node& node) {
  switch (node.kind) {
    case Node::Kind::Name:
      if (node.text == ".") throw FormulaError("unsupported: '.' inside an expression");
      if (node.text == "TRUE" || node.text == "FALSE" || node.text == "T" || node.text == "F" || node.text == "pi")
        throw FormulaError("unsupported constant '" + node.text + "'");
      return;
    case Node::Kind::Number: return;
    case Node::Kind::Paren:
    case Node::Kind::Unary: checkArithmetic(node.args[0]); return;
    case Node::Kind::Binary:
      if (node.text == ":" || node.text == "~")
        throw FormulaError("unsupported operator '" + node.text + "' inside an expression");
      checkArithmetic(node.args[0]);
      checkArithmetic(node.args[1]);
      return;
    case Node::Kind::Call:
      if (!arithmeticFunctions().count(node.text)) unsupportedFunction(node);
      if (node.text == "log") {
        checkCall(node, 1, 2);
        if (node.args.size() == 2 && !(node.argNames[1].empty() || node.argNames[1] == "base"))
          throw FormulaError("unsupported: " + deparse(node) + " (log() takes x and base)");
      } else {
        checkCall(node, 1, 1);
      }
      if (!node.argNames[0].empty() && node.argNames[0] != "x")
        throw FormulaError("unsupported: " + deparse(node) + " (a named argument '" + node.argNames[0] + "')");
      for (const Node& arg : node.args) checkArithmetic(arg);
      return;
  }
}

void collectFields(const Node& node, std::vector<std::string>& names) {
  if (node.kind == Node::Kind::Name) {
    if (node.text == "." || (node.text == "TRUE" || node.text == "T")) return;
    for (const std::string& name : names)
      if (name == node.text) return;
    names.push_back(node.text);
    return;
  }
  for (std::size_t i = 0; i < node.args.size(); ++i) {
    // poly()'s degree and raw flag, log()'s base are not fields
    if (node.kind == Node::Kind::Call && i > 0 && node.text == "poly") continue;
    collectFields(node.args[i], names);
  }
}

Node parseFormula(const std::string& text) {
  Node root = Parser(text).formula();
  checkResponse(root.args[0]);
  checkTerms(root.args[1]);
  return root;
}

std::string formatRNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
  char buffer[64];
  // Fewest significant digits (up to 15) that give the value back at 15.
  int digits = 1;
  std::snprintf(buffer, sizeof buffer, "%.14e", value);
  const double target = std::strtod(buffer, nullptr);
  for (; digits < 15; ++digits) {
    std::snprintf(buffer, sizeof buffer, "%.*e", digits - 1, value);
    if (std::strtod(buffer, nullptr) == target) break;
  }
  std::snprintf(buffer, sizeof buffer, "%.*e", digits - 1, value);
  std::string scientific = buffer;
  // R writes the exponent with at least two digits: 1e+05, 1e-04.
  const std::size_t e = scientific.find('e');
  std::string mantissa = scientific.substr(0, e);
  std::string exponent = scientific.substr(e + 1);
  const char sign = exponent[0];
  std::string magnitude = exponent.substr(1);
  while (magnitude.size() > 2 && magnitude[0] == '0') magnitude.erase(0, 1);
  scientific = mantissa + "e" + sign + magnitude;
  const int power = std::atoi(exponent.c_str());
  const int decimals = std::max(0, digits - 1 - power);
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  const std::string fixed = buffer;
  return fixed.size() <= scientific.size() ? fixed : scientific;
}

std::string deparse(const Node& node) {
  switch (node.kind) {
    case Node::Kind::Name: return syntactic(node.text) || node.text == "." ? node.text : "`" + node.text + "`";
    case Node::Kind::Number: return formatRNumber(node.number);
    case Node::Kind::Paren: return "(" + deparse(node.args[0]) + ")";
    case Node::Kind::Unary: return node.text + deparse(node.args[0]);
    case Node::Kind::Binary: {
      const bool tight = node.text == "^" || node.text == ":";
      const std::string op = tight ? node.text : " " + node.text + " ";
      return deparse(node.args[0]) + op + deparse(node.args[1]);
    }
    case Node::Kind::Call: {
      std::string text = node.text + "(";
      for (std::size_t i = 0; i < node.args.size(); ++i) {
        if (i) text += ", ";
        if (!node.argNames[i].empty()) text += node.argNames[i] + " = ";
        text += deparse(node.args[i]);
      }
      return text + ")";
    }
  }
  return {};
}

}  // namespace splitmodels::formula

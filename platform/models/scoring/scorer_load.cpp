// Reading a PMML document into the scorer's model, checking everything the
// scorer relies on and naming the offending element when something is off.
#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include <sys/stat.h>


#include "character_references.h"
#include "scorer_model.h"
#include "segment_chunks.h"
#include "splitmodels/scorer.h"
#include "value_text.h"
#include "xml_out.h"

namespace splitmodels::detail {

namespace {

using Op = Predicate::Op;

[[noreturn]] void fail(const std::string& message) { throw ScoreError(message); }

bool isElement(const pugi::xml_node& node) { return node.type() == pugi::node_element; }

// localName without a copy, for comparisons.
std::string_view nameOf(const pugi::xml_node& node) {
  const std::string_view name = node.name();
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// "<Name>" and, when it has one, its identifying attribute.
std::string describe(const pugi::xml_node& node) {
  std::string text = localName(node);
  for (const char* key : {"name", "field", "id", "targetCategory"}) {
    if (const pugi::xml_attribute attribute = node.attribute(key)) {
      text += " " + std::string(key) + "=\"" + attribute.value() + "\"";
      break;
    }
  }
  return text;
}

std::string requireAttribute(const pugi::xml_node& node, const char* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) fail(describe(node) + ": attribute " + name + " is missing");
  return attribute.value();
}

double requireNumber(const pugi::xml_node& node, const char* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) fail(describe(node) + ": attribute " + name + " is missing");
  const std::optional<double> number = parseNumber(attribute.value());
  if (!number) fail(describe(node) + ": attribute " + name + "=\"" + attribute.value() + "\" is not a number");
  return *number;
}

// Children that carry content (Extension elements are skipped).
std::vector<pugi::xml_node> contentChildren(const pugi::xml_node& node) {
  std::vector<pugi::xml_node> children;
  children.reserve(8);  // one allocation for the elements of a segment's model
  for (pugi::xml_node child : node.children())
    if (isElement(child) && nameOf(child) != "Extension") children.push_back(child);
  return children;
}

bool configureType(DictionaryField& field) {
  const std::string& type = field.dataType;
  const auto since = [&](const char* prefix, TypeKind kind, double unit) {
    const std::size_t length = std::strlen(prefix);
    if (type.compare(0, length, prefix) != 0 || type.size() < length + 2 || type.back() != ']') return false;
    const std::optional<std::int64_t> year = parseInteger(type.substr(length, type.size() - length - 1));
    if (!year || *year < -kMaxCivilYear || *year > kMaxCivilYear) return false;
    field.kind = kind;
    field.origin = static_cast<double>(daysFromCivil(*year, 1, 1)) * unit;
    return true;
  };
  if (type == "string") field.kind = TypeKind::String;
  else if (type == "integer") field.kind = TypeKind::Integer;
  else if (type == "float" || type == "double") field.kind = TypeKind::Number;
  else if (type == "boolean") field.kind = TypeKind::Boolean;
  else if (type == "date") field.kind = TypeKind::Date;
  else if (type == "time" || type == "timeSeconds") field.kind = TypeKind::Time;
  else if (type == "dateTime") field.kind = TypeKind::Timestamp;
  else return since("dateDaysSince[", TypeKind::Date, 1.0) || since("dateTimeSecondsSince[", TypeKind::Timestamp, 86400.0);
  return true;
}

// Entries of an Array's content: blank-separated, double-quoted entries may
// hold blanks and \" for a quote.
std::vector<std::string> arrayEntries(const pugi::xml_node& array) {
  const std::string content = array.text().get();
  std::vector<std::string> entries;
  std::size_t pos = 0;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (true) {
    while (pos < content.size() && blank(content[pos])) ++pos;
    if (pos >= content.size()) break;
    std::string entry;
    if (content[pos] == '"') {
      ++pos;
      bool closed = false;
      while (pos < content.size()) {
        if (content[pos] == '\\' && pos + 1 < content.size() && content[pos + 1] == '"') {
          entry += '"';
          pos += 2;
        } else if (content[pos] == '"') {
          closed = true;
          ++pos;
          break;
        } else {
          entry += content[pos++];
        }
      }
      if (!closed) fail("Array: unterminated quoted entry");
    } else {
      while (pos < content.size() && !blank(content[pos])) entry += content[pos++];
    }
    entries.push_back(entry);
  }
  return entries;
}

// The value text of `attribute`, decoded when the element marks it as
// percent-encoded (an Extension child named "value-encoding" with value
// "percent"), which is how texts XML cannot hold are written.
std::string valueText(const pugi::xml_node& node, const char* attribute) {
  const std::string text = requireAttribute(node, attribute);
  for (const pugi::xml_node& child : node.children()) {
    if (!isElement(child) || nameOf(child) != "Extension" ||
        std::strcmp(child.attribute("name").value(), "value-encoding") != 0)
      continue;
    const std::string encoding = child.attribute("value").value();
    if (encoding != "percent") fail(describe(node) + ": value-encoding \"" + encoding + "\" is not supported");
    const std::optional<std::string> decoded = percentDecode(text);
    if (!decoded) fail(describe(node) + ": " + attribute + "=\"" + text + "\" is not percent-encoded");
    return *decoded;
  }
  return text;
}

// The position of `segmentation` among the elements named Segmentation two
// levels below the root, in document order (as cutSegments counts them).
std::size_t segmentationOrdinal(const pugi::xml_node& root, const pugi::xml_node& segmentation) {
  std::size_t ordinal = 0;
  for (const pugi::xml_node& model : root.children()) {
    if (!isElement(model)) continue;
    for (const pugi::xml_node& child : model.children()) {
      if (child == segmentation) return ordinal;
      if (isElement(child) && localName(child) == "Segmentation") ++ordinal;
    }
  }
  return ordinal;
}

// A NumericPredictor's exponent: a whole number, as PMML defines it, of a
// size a power can take; a fraction or a huge value is refused rather than
// truncated or cast out of range.
int wholeExponent(const pugi::xml_node& node) {
  const double value = requireNumber(node, "exponent");
  if (!(value == std::trunc(value) && std::fabs(value) <= 1024))
    fail(std::string("NumericPredictor: exponent '") + node.attribute("exponent").value() +
         "' is not a whole number from -1024 to 1024");
  return static_cast<int>(value);
}

// True when the document's DTD declares entities or attribute defaults. The
// parser applies neither: a reference to an entity would be read as its
// literal text, and an attribute left to its declared default (an exponent,
// say) would be read as absent; such documents are refused.
bool declaresEntities(const pugi::xml_document& doc) {
  for (const pugi::xml_node& node : doc.children())
    if (node.type() == pugi::node_doctype &&
        (std::strstr(node.value(), "<!ENTITY") != nullptr || std::strstr(node.value(), "<!ATTLIST") != nullptr))
      return true;
  return false;
}

// "Element attr" for the first element whose start tag gives an attribute
// twice, which makes the text no XML document; empty when none does. The
// parser keeps both, and the scorer would read the first. The tree is
// walked without recursion (a model may nest deeply), and an element's
// names are sorted, so a tag of many attributes costs no more than reading it.
std::string repeatedAttribute(const pugi::xml_node& root) {
  std::vector<const char*> names;
  for (pugi::xml_node node = root; node;) {
    names.clear();
    for (const pugi::xml_attribute& attribute : node.attributes()) names.push_back(attribute.name());
    std::sort(names.begin(), names.end(), [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
    const auto same = std::adjacent_find(names.begin(), names.end(),
                                         [](const char* a, const char* b) { return std::strcmp(a, b) == 0; });
    if (same != names.end()) return std::string(node.name()) + " " + *same;
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node != root && !node.next_sibling()) node = node.parent();
    if (node == root) break;
    node = node.next_sibling();
  }
  return "";
}

class Loader {
 public:
  // The text of a piece cut out of the document; called for the pieces in
  // document order.
  using PieceText = std::function<std::string_view(const SegmentChunks::Piece&)>;

  // `cut`, when given, holds the Segment elements taken out of the document
  // `load` reads (see SegmentCutter); each is parsed on its own, in turn.
  explicit Loader(ScoringModel& model, const SegmentChunks* cut = nullptr, PieceText pieceText = {})
      : model_(model), cut_(cut), pieceText_(std::move(pieceText)) {}

  void load(const pugi::xml_node& root) {
    if (localName(root) != "PMML") fail("root element " + localName(root) + " is not PMML");
    const pugi::xml_node dictionary = childByLocalName(root, "DataDictionary");
    if (!dictionary) fail("PMML: DataDictionary element is missing");
    loadDictionary(dictionary);
    pugi::xml_node modelNode;
    for (const pugi::xml_node& child : contentChildren(root)) {
      const std::string name = localName(child);
      if (name.size() > 5 && name.compare(name.size() - 5, 5, "Model") == 0) {
        modelNode = child;
        break;
      }
      if (name == "NeuralNetwork" || name == "Scorecard") fail("PMML: model element " + name + " is not supported");
    }
    if (!modelNode) fail("PMML: no model element");
    const std::string kind = localName(modelNode);
    if (kind == "MiningModel")
      loadMining(modelNode);
    else if (kind == "RegressionModel" || kind == "GeneralRegressionModel")
      loadBare(modelNode);
    else
      fail("PMML: model element " + kind +
           " is not supported (MiningModel, RegressionModel or GeneralRegressionModel expected)");
    finish();
  }

 private:
  void loadDictionary(const pugi::xml_node& dictionary) {
    for (const pugi::xml_node& node : contentChildren(dictionary)) {
      if (localName(node) != "DataField") continue;
      DictionaryField field;
      field.name = requireAttribute(node, "name");
      field.dataType = requireAttribute(node, "dataType");
      field.optype = requireAttribute(node, "optype");
      if (!configureType(field)) fail(describe(node) + ": dataType=\"" + field.dataType + "\" is not supported");
      for (const pugi::xml_node& value : node.children()) {
        if (!isElement(value) || localName(value) != "Value") continue;
        const std::string text = valueText(value, "value");
        const std::string property = value.attribute("property").as_string("valid");
        if (property == "missing")
          field.missingValues.push_back(text);
        else if (property == "valid")
          field.validValues.push_back(text);
      }
      if (!index_.emplace(field.name, static_cast<int>(model_.dictionary.size())).second)
        fail(describe(node) + ": field is defined twice in the DataDictionary");
      model_.dictionary.push_back(std::move(field));
    }
  }

  int fieldOf(const pugi::xml_node& node, const char* attribute, bool uses = true) {
    const pugi::xml_attribute named = node.attribute(attribute);
    if (!named) fail(describe(node) + ": attribute " + attribute + " is missing");
    const std::string_view name = named.value();
    if (const auto local = local_.find(name); local != local_.end()) return local->second;
    const auto found = index_.find(name);
    if (found == index_.end())
      fail(describe(node) + ": field \"" + std::string(name) + "\" is not in the DataDictionary");
    if (uses) used_.insert(found->second);
    return found->second;
  }

  Datum literal(const pugi::xml_node& node, int field, const std::string& text, const char* what) {
    const DictionaryField& def = model_.dictionary[static_cast<std::size_t>(field)];
    const std::optional<Datum> datum = convertLiteral(def, text);
    if (!datum) fail(describe(node) + ": " + what + "=\"" + text + "\" is not a valid " + def.dataType);
    return *datum;
  }

  Predicate loadPredicate(const pugi::xml_node& node, int depth = 1) {
    if (depth > kMaxPredicateDepth)
      fail(describe(node) + ": predicates nested deeper than " + std::to_string(kMaxPredicateDepth) +
           " levels are not supported");
    static const std::map<std::string, Op> simpleOps = {
        {"equal", Op::Equal},          {"notEqual", Op::NotEqual},     {"lessThan", Op::Less},
        {"lessOrEqual", Op::LessOrEqual}, {"greaterThan", Op::Greater}, {"greaterOrEqual", Op::GreaterOrEqual},
        {"isMissing", Op::IsMissing},  {"isNotMissing", Op::IsNotMissing}};
    static const std::map<std::string, Op> compoundOps = {
        {"and", Op::And}, {"or", Op::Or}, {"xor", Op::Xor}, {"surrogate", Op::Surrogate}};
    const std::string_view name = nameOf(node);
    Predicate predicate;
    if (name == "True") {
      predicate.kind = Predicate::Kind::True;
    } else if (name == "False") {
      predicate.kind = Predicate::Kind::False;
    } else if (name == "SimplePredicate") {
      predicate.kind = Predicate::Kind::Simple;
      predicate.field = fieldOf(node, "field");
      const std::string op = requireAttribute(node, "operator");
      const auto found = simpleOps.find(op);
      if (found == simpleOps.end()) fail(describe(node) + ": operator=\"" + op + "\" is not supported");
      predicate.op = found->second;
      if (predicate.op != Op::IsMissing && predicate.op != Op::IsNotMissing)
        predicate.value = literal(node, predicate.field, valueText(node, "value"), "value");
    } else if (name == "CompoundPredicate") {
      predicate.kind = Predicate::Kind::Compound;
      const std::string op = requireAttribute(node, "booleanOperator");
      const auto found = compoundOps.find(op);
      if (found == compoundOps.end()) fail(describe(node) + ": booleanOperator=\"" + op + "\" is not supported");
      predicate.op = found->second;
      for (const pugi::xml_node& child : contentChildren(node)) predicate.children.push_back(loadPredicate(child, depth + 1));
      if (predicate.children.empty()) fail(describe(node) + ": holds no predicate");
    } else if (name == "SimpleSetPredicate") {
      predicate.kind = Predicate::Kind::Set;
      predicate.field = fieldOf(node, "field");
      const std::string op = requireAttribute(node, "booleanOperator");
      if (op != "isIn" && op != "isNotIn") fail(describe(node) + ": booleanOperator=\"" + op + "\" is not supported");
      predicate.op = op == "isIn" ? Op::IsIn : Op::IsNotIn;
      const pugi::xml_node array = childByLocalName(node, "Array");
      if (!array) fail(describe(node) + ": Array element is missing");
      const std::string type = requireAttribute(array, "type");
      if (type != "string" && type != "int" && type != "real")
        fail(describe(node) + ": Array type=\"" + type + "\" is not supported");
      const std::vector<std::string> entries = arrayEntries(array);
      if (const pugi::xml_attribute n = array.attribute("n"); n && n.as_llong(-1) != static_cast<long long>(entries.size()))
        fail(describe(node) + ": Array n=\"" + n.value() + "\" but it holds " + std::to_string(entries.size()) +
             " entries");
      for (const std::string& entry : entries) predicate.set.push_back(literal(array, predicate.field, entry, "entry"));
    } else {
      fail("predicate element " + std::string(name) + " is not supported");
    }
    return predicate;
  }

  static Normalization normalizationOf(const pugi::xml_node& node, bool classification) {
    const std::string method = node.attribute("normalizationMethod").as_string("none");
    if (method == "none") return Normalization::None;
    if (method == "softmax") return Normalization::Softmax;
    if (method == "logit") return Normalization::Logit;
    if (classification && method == "simplemax") return Normalization::Simplemax;
    if (!classification && method == "exp") return Normalization::Exp;
    fail(describe(node) + ": normalizationMethod=\"" + method + "\" is not supported");
  }

  // The target named by a MiningSchema, or empty.
  std::string schemaTarget(const pugi::xml_node& schema) {
    for (const pugi::xml_node& field : contentChildren(schema)) {
      const std::string usage = field.attribute("usageType").as_string("active");
      if (usage == "target" || usage == "predicted") return requireAttribute(field, "name");
    }
    return {};
  }

  // The DerivedFields of a model's LocalTransformations: each is known by
  // its name within the model, after the dictionary's fields.
  void loadTransformations(const pugi::xml_node& node, Regression& model) {
    model.derivedBase = model_.dictionary.size();
    for (const pugi::xml_node& field : contentChildren(node)) {
      if (localName(field) != "DerivedField") continue;
      const std::vector<pugi::xml_node> children = contentChildren(field);
      if (children.empty()) fail(describe(field) + ": expression is missing");
      model.derived.push_back(loadExpression(children.front()));
      const int index = static_cast<int>(model_.dictionary.size() + model.derived.size() - 1);
      if (!local_.emplace(requireAttribute(field, "name"), index).second)
        fail(describe(field) + ": field is defined twice in the LocalTransformations");
    }
  }

  Expression loadExpression(const pugi::xml_node& node) {
    using Function = Expression::Function;
    static const std::map<std::string, std::pair<Function, std::size_t>> functions = {
        {"+", {Function::Add, 2}},   {"-", {Function::Subtract, 2}}, {"*", {Function::Multiply, 2}},
        {"/", {Function::Divide, 2}}, {"pow", {Function::Pow, 2}},   {"ln", {Function::Ln, 1}},
        {"log10", {Function::Log10, 1}}, {"exp", {Function::Exp, 1}}, {"sqrt", {Function::Sqrt, 1}},
        {"abs", {Function::Abs, 1}}};
    Expression expression;
    const std::string kind = localName(node);
    if (kind == "FieldRef") {
      expression.kind = Expression::Kind::Field;
      expression.field = fieldOf(node, "field");
    } else if (kind == "Constant") {
      expression.kind = Expression::Kind::Constant;
      const std::optional<double> value = parseNumber(node.text().get());
      if (!value) fail(describe(node) + ": \"" + std::string(node.text().get()) + "\" is not a number");
      expression.value = *value;
    } else if (kind == "Apply") {
      expression.kind = Expression::Kind::Apply;
      const std::string function = requireAttribute(node, "function");
      const auto found = functions.find(function);
      if (found == functions.end()) fail(describe(node) + ": function=\"" + function + "\" is not supported");
      expression.function = found->second.first;
      for (const pugi::xml_node& child : contentChildren(node))
        if (localName(child) != "Extension") expression.args.push_back(loadExpression(child));
      if (expression.args.size() != found->second.second)
        fail(describe(node) + ": function=\"" + function + "\" takes " + std::to_string(found->second.second) +
             " arguments");
    } else {
      fail(describe(node) + ": expression " + kind + " is not supported");
    }
    return expression;
  }

  Regression loadRegression(const pugi::xml_node& node, std::string& target) {
    Regression model;
    local_.clear();
    const std::string function = requireAttribute(node, "functionName");
    if (function != "regression" && function != "classification")
      fail(describe(node) + ": functionName=\"" + function + "\" is not supported");
    model.classification = function == "classification";
    model.normalization = normalizationOf(node, model.classification);
    const pugi::xml_node schema = childByLocalName(node, "MiningSchema");
    if (!schema) fail(describe(node) + ": MiningSchema element is missing");
    std::vector<int> returnInvalid;
    for (const pugi::xml_node& field : contentChildren(schema)) {
      const int index = fieldOf(field, "name", false);
      if (std::strcmp(field.attribute("invalidValueTreatment").value(), "returnInvalid") == 0)
        returnInvalid.push_back(index);
      if (const pugi::xml_attribute replacement = field.attribute("missingValueReplacement"))
        model.replacements.emplace_back(index, literal(field, index, replacement.value(), "missingValueReplacement"));
    }
    target = schemaTarget(schema);
    if (target.empty()) target = node.attribute("targetFieldName").value();
    if (target.empty()) fail(describe(node) + ": no target field (MiningField usageType=\"target\")");
    for (const pugi::xml_node& child : contentChildren(node)) {
      const std::string_view name = nameOf(child);
      if (name == "LocalTransformations" && nameOf(node) == "GeneralRegressionModel") {
        loadTransformations(child, model);
        continue;
      }
      if (name == "LocalTransformations" || name == "Targets")
        fail(describe(node) + ": " + std::string(name) + " is not supported");
      if (name == "RegressionTable") model.tables.push_back(loadTable(child, model.classification));
    }
    if (nameOf(node) == "GeneralRegressionModel") loadGeneralRegression(node, model);
    if (!model.generalized && model.classification && model.normalization == Normalization::Logit) {
      model.family = FamilyKind::Binomial;  // a logistic regression
      model.link = LinkKind::Logit;
    }
    if (model.tables.empty()) fail(describe(node) + ": RegressionTable element is missing");
    for (const pugi::xml_node& child : node.children())
      if (isElement(child) && localName(child) == "Extension" &&
          std::strcmp(child.attribute("name").value(), "covariance") == 0)
        model.covariance = loadCovariance(childByLocalName(child, "Covariance"));
    for (int field : returnInvalid) {
      std::unordered_set<std::string> known;
      for (const RegressionTable& table : model.tables)
        for (const CategoricalTerm& term : table.categorical) {
          if (term.field != field) continue;
          std::string key;
          appendIndexKey(term.value, key);
          known.insert(std::move(key));
        }
      if (!known.empty()) model.knownLevels.emplace_back(field, std::move(known));
    }
    return model;
  }

  // The covariance extension split-run's group models carry: Term elements
  // (no field: the intercept; a field: its number; a field and a value: that
  // category) and one Row of numbers per term.
  Covariance loadCovariance(const pugi::xml_node& node) {
    if (!node) fail("Extension name=\"covariance\": Covariance element is missing");
    Covariance covariance;
    covariance.dfResidual = requireNumber(node, "dfResidual");
    if (node.attribute("sigma")) covariance.sigma = requireNumber(node, "sigma");
    if (node.attribute("sigma")) covariance.dispersion = covariance.sigma * covariance.sigma;
    if (node.attribute("deviance")) covariance.deviance = requireNumber(node, "deviance");
    std::size_t rows = 0;
    for (const pugi::xml_node& child : node.children()) {
      if (!isElement(child)) continue;
      if (localName(child) == "Term") {
        CovarianceTerm term;
        if (child.attribute("field")) {
          term.field = fieldOf(child, "field");
          if (child.attribute("value")) {
            term.categorical = true;
            term.value = literal(child, term.field, child.attribute("value").value(), "value");
          }
        }
        covariance.terms.push_back(std::move(term));
      } else if (localName(child) == "Row") {
        ++rows;
        appendNumbers(child, covariance.matrix);
      }
    }
    const std::size_t count = covariance.terms.size();
    if (rows != count || covariance.matrix.size() != count * count)
      fail(describe(node) + ": the matrix is not one Row of " + std::to_string(count) + " numbers per Term");
    loadStart(node, covariance);
    return covariance;
  }

  // The numbers of an element's text, separated by single spaces.
  void appendNumbers(const pugi::xml_node& node, std::vector<double>& numbers) {
    const std::string text = node.text().get();
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = std::min(text.find(' ', at), text.size());
      const std::optional<double> value = parseNumber(text.substr(at, end - at));
      if (!value) fail(describe(node) + ": \"" + text.substr(at, end - at) + "\" is not a number");
      numbers.push_back(*value);
      at = end + 1;
    }
  }

  // The coefficients at the start of the fit's last step (a Start child of
  // `node`, one per term), when the document gives them.
  void loadStart(const pugi::xml_node& node, Covariance& covariance) {
    const pugi::xml_node start = childByLocalName(node, "Start");
    if (!start) return;
    appendNumbers(start, covariance.start);
    if (covariance.start.size() != covariance.terms.size())
      fail(describe(start) + ": not one number per term of the covariance");
  }

  // A PCovMatrix over the parameters `terms` describes, with its fit
  // extension (residual degrees of freedom, dispersion, deviance). Cells
  // may give one triangle; the other is taken as its mirror.
  Covariance loadParameterCovariance(const pugi::xml_node& node, const std::map<std::string, CovarianceTerm>& terms) {
    Covariance covariance;
    std::map<std::string, std::size_t> index;
    std::vector<std::tuple<std::size_t, std::size_t, double>> cells;
    for (const pugi::xml_node& cell : contentChildren(node)) {
      std::size_t at[2];
      const char* names[2] = {"pRow", "pCol"};
      for (int k = 0; k < 2; ++k) {
        const std::string parameter = requireAttribute(cell, names[k]);
        const auto term = terms.find(parameter);
        if (term == terms.end())
          fail(describe(cell) + ": " + names[k] + "=\"" + parameter + "\" is not a parameter of the ParamMatrix");
        const auto [known, added] = index.emplace(parameter, index.size());
        if (added) covariance.terms.push_back(term->second);
        at[k] = known->second;
      }
      cells.emplace_back(at[0], at[1], requireNumber(cell, "value"));
    }
    const std::size_t count = covariance.terms.size();
    covariance.matrix.assign(count * count, std::nan(""));
    for (const auto& [row, column, value] : cells)
      covariance.matrix[row * count + column] = covariance.matrix[column * count + row] = value;
    for (double value : covariance.matrix)
      if (std::isnan(value)) fail(describe(node) + ": a pair of parameters has no PCovCell");
    for (const pugi::xml_node& extension : node.children()) {
      if (!isElement(extension) || localName(extension) != "Extension" ||
          std::strcmp(extension.attribute("name").value(), "fit") != 0)
        continue;
      const pugi::xml_node fit = childByLocalName(extension, "Fit");
      if (!fit) fail(describe(extension) + ": Fit element is missing");
      covariance.dfResidual = requireNumber(fit, "dfResidual");
      covariance.dispersion = requireNumber(fit, "dispersion");
      covariance.deviance = requireNumber(fit, "deviance");
      loadStart(fit, covariance);
    }
    return covariance;
  }

  // The error distribution of a generalizedLinear model; the quasi
  // families write their base distribution.
  static FamilyKind familyOf(const pugi::xml_node& node) {
    const std::string name = node.attribute("distribution").value();
    if (name == "binomial") return FamilyKind::Binomial;
    if (name == "poisson") return FamilyKind::Poisson;
    if (name == "gamma") return FamilyKind::Gamma;
    if (name == "igauss") return FamilyKind::InverseGaussian;
    return FamilyKind::Gaussian;
  }

  // The link of a generalizedLinear model: PMML's names, R's inverse, 1/mu^2
  // and sqrt links as powers, and the cauchit link from an Extension.
  static LinkKind linkOf(const pugi::xml_node& node) {
    for (const pugi::xml_node& child : node.children())
      if (isElement(child) && nameOf(child) == "Extension" && std::strcmp(child.attribute("name").value(), "linkFunction") == 0 &&
          std::strcmp(child.attribute("value").value(), "cauchit") == 0)
        return LinkKind::Cauchit;
    const std::string name = requireAttribute(node, "linkFunction");
    if (name == "power") {
      const double power = requireNumber(node, "linkParameter");
      if (power == 1) return LinkKind::Identity;
      if (power == -1) return LinkKind::Inverse;
      if (power == -2) return LinkKind::InverseSquare;
      if (power == 0.5) return LinkKind::Sqrt;
      fail(describe(node) + ": linkParameter=\"" + std::string(node.attribute("linkParameter").value()) +
           "\" is not supported");
    }
    if (const std::optional<LinkKind> link = linkFromName(name);
        link && (name == "identity" || name == "log" || name == "logit" || name == "probit" || name == "cloglog"))
      return *link;
    fail(describe(node) + ": linkFunction=\"" + name + "\" is not supported");
  }

  // The predictors of a parameter with several PPCells, whose product it
  // multiplies.
  std::vector<ProductPart> productParts(const std::vector<pugi::xml_node>& cells, const std::set<std::string>& factors,
                                        const std::set<std::string>& covariates) {
    std::vector<ProductPart> parts;
    for (const pugi::xml_node& cell : cells) {
      const std::string predictor = requireAttribute(cell, "predictorName");
      ProductPart part;
      part.field = fieldOf(cell, "predictorName");
      if (factors.count(predictor)) {
        part.categorical = true;
        part.value = literal(cell, part.field, requireAttribute(cell, "value"), "value");
      } else if (covariates.count(predictor)) {
        const double exponent = requireNumber(cell, "value");
        if (exponent != std::floor(exponent) || std::fabs(exponent) > 64)
          fail(describe(cell) + ": value=\"" + std::string(cell.attribute("value").value()) + "\" is not supported");
        part.exponent = static_cast<int>(exponent);
      } else {
        fail(describe(cell) + ": predictor \"" + predictor + "\" is in neither FactorList nor CovariateList");
      }
      parts.push_back(std::move(part));
    }
    return parts;
  }

  // A GeneralRegressionModel as one table: the parameters without a cell
  // make the intercept, a parameter with one cell of a factor is a
  // categorical term, one with one cell of a covariate a numeric term whose
  // exponent is the cell's value. A classification model gets a second
  // table for its reference category, with intercept 0.
  void loadGeneralRegression(const pugi::xml_node& node, Regression& model) {
    const std::string type = requireAttribute(node, "modelType");
    if (type != "generalizedLinear") fail(describe(node) + ": modelType=\"" + type + "\" is not supported");
    model.generalized = true;
    model.link = linkOf(node);
    model.family = familyOf(node);
    model.leastSquares = model.family == FamilyKind::Gaussian && model.link == LinkKind::Identity &&
                         std::strcmp(node.attribute("algorithmName").value(), "leastSquares") == 0;
    if (node.attribute("offsetVariable")) model.offsetField = fieldOf(node, "offsetVariable");
    std::set<std::string> factors, covariates;
    for (const char* list : {"FactorList", "CovariateList"})
      for (const pugi::xml_node& predictor : contentChildren(childByLocalName(node, list)))
        (list[0] == 'F' ? factors : covariates).insert(requireAttribute(predictor, "name"));
    std::map<std::string, std::vector<pugi::xml_node>> cells;
    for (const pugi::xml_node& cell : contentChildren(childByLocalName(node, "PPMatrix")))
      cells[requireAttribute(cell, "parameterName")].push_back(cell);
    RegressionTable table;
    std::map<std::string, CovarianceTerm> terms;  // per parameter, for its covariance
    if (node.attribute("offsetValue")) table.intercept = requireNumber(node, "offsetValue");
    for (const pugi::xml_node& pcell : contentChildren(childByLocalName(node, "ParamMatrix"))) {
      if (model.classification && table.category.empty()) table.category = requireAttribute(pcell, "targetCategory");
      const double beta = requireNumber(pcell, "beta");
      const std::string parameter = requireAttribute(pcell, "parameterName");
      const auto found = cells.find(parameter);
      CovarianceTerm& term = terms[parameter];
      if (found == cells.end()) {
        table.intercept += beta;
        continue;
      }
      if (found->second.size() != 1) {
        table.products.push_back({productParts(found->second, factors, covariates), beta});
        term.parts = table.products.back().parts;
        continue;
      }
      const pugi::xml_node cell = found->second.front();
      const std::string predictor = requireAttribute(cell, "predictorName");
      const int field = fieldOf(cell, "predictorName");
      term.field = field;
      if (factors.count(predictor)) {
        table.categorical.push_back({field, literal(cell, field, requireAttribute(cell, "value"), "value"), beta});
        term.categorical = true;
        term.value = table.categorical.back().value;
      } else if (covariates.count(predictor)) {
        const double exponent = requireNumber(cell, "value");
        if (exponent != std::floor(exponent) || std::fabs(exponent) > 64)
          fail(describe(cell) + ": value=\"" + std::string(cell.attribute("value").value()) + "\" is not supported");
        table.numeric.push_back({field, static_cast<int>(exponent), beta});
        term.exponent = static_cast<int>(exponent);
      } else {
        fail(describe(cell) + ": predictor \"" + predictor + "\" is in neither FactorList nor CovariateList");
      }
    }
    // A factor's categories the fit saw but that have no parameter (its
    // reference, aliased ones) contribute 0; listing them tells the known
    // categories from the unseen ones.
    for (const pugi::xml_node& predictor : contentChildren(childByLocalName(node, "FactorList"))) {
      const pugi::xml_node categories = childByLocalName(predictor, "Categories");
      if (!categories) continue;
      const int field = fieldOf(predictor, "name");
      for (const pugi::xml_node& category : contentChildren(categories)) {
        auto value = literal(category, field, requireAttribute(category, "value"), "value");
        std::string key;
        appendIndexKey(value, key);
        const bool listed = std::any_of(table.categorical.begin(), table.categorical.end(),
                                        [&](const CategoricalTerm& term) {
                                          std::string other;
                                          appendIndexKey(term.value, other);
                                          return term.field == field && other == key;
                                        });
        if (!listed) table.categorical.push_back({field, std::move(value), 0.0});
      }
    }
    model.tables.push_back(std::move(table));
    if (const pugi::xml_node matrix = childByLocalName(node, "PCovMatrix"))
      model.covariance = loadParameterCovariance(matrix, terms);
    if (model.covariance && model.leastSquares) model.covariance->sigma = std::sqrt(model.covariance->dispersion);
    if (model.classification) {
      RegressionTable reference;
      reference.category = requireAttribute(node, "targetReferenceCategory");
      model.tables.push_back(std::move(reference));
    }
  }

  RegressionTable loadTable(const pugi::xml_node& node, bool classification) {
    RegressionTable table;
    table.intercept = requireNumber(node, "intercept");
    if (classification) table.category = requireAttribute(node, "targetCategory");
    for (const pugi::xml_node& child : contentChildren(node)) {
      const std::string_view name = nameOf(child);
      if (name == "NumericPredictor") {
        NumericTerm term;
        term.field = fieldOf(child, "name");
        term.coefficient = requireNumber(child, "coefficient");
        if (child.attribute("exponent")) term.exponent = wholeExponent(child);
        table.numeric.push_back(term);
      } else if (name == "CategoricalPredictor") {
        CategoricalTerm term;
        term.field = fieldOf(child, "name");
        term.value = literal(child, term.field, requireAttribute(child, "value"), "value");
        term.coefficient = requireNumber(child, "coefficient");
        table.categorical.push_back(term);
      } else {
        fail(describe(node) + ": " + std::string(name) + " is not supported");
      }
    }
    // Kept for the model's life, 100,000 times over in a large split model.
    table.numeric.shrink_to_fit();
    table.categorical.shrink_to_fit();
    return table;
  }

  // A single group's model carries its split values in a split-info
  // extension of its MiningBuildTask. It then scores only the records of its
  // group: its segment tests those values, on fields added to the
  // dictionary when the document lacks them.
  void loadSplitInfo(const pugi::xml_node& root, Segment& segment) {
    pugi::xml_node info;
    for (const pugi::xml_node& task : root.children())
      for (const pugi::xml_node& child : task.children())
        if (isElement(task) && localName(task) == "MiningBuildTask" && isElement(child) &&
            localName(child) == "Extension" && std::strcmp(child.attribute("name").value(), "split-info") == 0)
          info = child;
    if (!info) return;
    Predicate conjunction;
    conjunction.kind = Predicate::Kind::Compound;
    conjunction.op = Op::And;
    for (const pugi::xml_node& node : contentChildren(info)) {
      if (localName(node) != "DataField") continue;
      const std::string name = requireAttribute(node, "name");
      if (!index_.count(name)) {
        DictionaryField field;
        field.name = name;
        field.dataType = requireAttribute(node, "dataType");
        field.optype = node.attribute("optype").as_string("categorical");
        if (!configureType(field)) fail(describe(node) + ": dataType=\"" + field.dataType + "\" is not supported");
        index_.emplace(name, static_cast<int>(model_.dictionary.size()));
        model_.dictionary.push_back(std::move(field));
      }
      Predicate test;
      test.kind = Predicate::Kind::Simple;
      test.field = fieldOf(node, "name");
      const pugi::xml_node value = childByLocalName(node, "Value");
      test.op = value ? Op::Equal : Op::IsMissing;
      if (value) test.value = literal(value, test.field, valueText(value, "value"), "value");
      model_.groupKey.push_back(name + "=" + (value ? valueText(value, "value") : std::string("<missing>")));
      conjunction.children.push_back(std::move(test));
    }
    if (!conjunction.children.empty()) segment.predicate = std::move(conjunction);
  }

  void loadBare(const pugi::xml_node& node) {
    Segment segment;
    loadSplitInfo(node.parent(), segment);
    segment.model = loadRegression(node, model_.target);
    model_.classification = segment.model.classification;
    model_.segments.push_back(std::move(segment));
  }

  void loadMining(const pugi::xml_node& node) {
    model_.segmented = true;
    const std::string function = requireAttribute(node, "functionName");
    if (function != "regression" && function != "classification")
      fail(describe(node) + ": functionName=\"" + function + "\" is not supported");
    model_.classification = function == "classification";
    if (const pugi::xml_node schema = childByLocalName(node, "MiningSchema")) {
      for (const pugi::xml_node& field : contentChildren(schema)) fieldOf(field, "name", false);
      model_.target = schemaTarget(schema);
    }
    if (childByLocalName(node, "LocalTransformations")) fail(describe(node) + ": LocalTransformations is not supported");
    const pugi::xml_node segmentation = childByLocalName(node, "Segmentation");
    if (!segmentation) fail(describe(node) + ": Segmentation element is missing");
    const std::string method = requireAttribute(segmentation, "multipleModelMethod");
    if (method != "selectFirst")
      fail("Segmentation: multipleModelMethod=\"" + method + "\" is not supported (selectFirst expected)");
    std::size_t position = 0;
    for (const pugi::xml_node& child : contentChildren(segmentation)) {
      if (localName(child) != "Segment") continue;
      ++position;
      model_.segments.push_back(loadSegment(child, position));
    }
    if (cut_ == nullptr) return;
    const std::size_t ordinal = segmentationOrdinal(node.parent(), segmentation);
    if (ordinal >= cut_->groups.size()) fail("Segmentation: not found among the segments cut out");
    model_.segments.reserve(model_.segments.size() + cut_->groups[ordinal].size());
    for (const SegmentChunks::Piece& piece : cut_->groups[ordinal]) {
      const std::string_view text = pieceText_(piece);
      if (!illegalCharacterReference(text).empty() || !undeclaredEntityReference(text).empty())
        fail("Segment: holds an illegal character or entity reference");
      if (!piece_.load_buffer(text.data(), text.size()) || !repeatedAttribute(piece_).empty())
        fail("Segment: does not parse on its own");
      ++position;
      model_.segments.push_back(loadSegment(piece_.document_element(), position));
    }
  }

  Segment loadSegment(const pugi::xml_node& node, std::size_t position) {
    Segment segment;
    segment.id = node.attribute("id") ? node.attribute("id").value() : std::to_string(position);
    const std::vector<pugi::xml_node> children = contentChildren(node);
    const std::string where = "Segment id=\"" + segment.id + "\"";
    if (children.size() < 2) fail(where + ": needs a predicate and a model");
    segment.predicate = loadPredicate(children[0]);
    if (nameOf(children[1]) != "RegressionModel" && nameOf(children[1]) != "GeneralRegressionModel")
      fail(where + ": model element " + localName(children[1]) +
           " is not supported (RegressionModel or GeneralRegressionModel expected)");
    std::string target;
    segment.model = loadRegression(children[1], target);
    if (segment.model.classification != model_.classification)
      fail(where + ": RegressionModel functionName differs from the MiningModel's");
    if (model_.target.empty()) model_.target = target;
    if (target != model_.target)
      fail(where + ": RegressionModel target \"" + target + "\" differs from \"" + model_.target + "\"");
    return segment;
  }

  // Index of the class label `category` of the target, adding it when new.
  int labelIndex(const DictionaryField& target, const std::string& category) {
    std::vector<std::string>& labels = model_.labels;
    for (std::size_t i = 0; i < labels.size(); ++i)
      if (labels[i] == category) return static_cast<int>(i);
    if (const std::optional<Datum> wanted = convertLiteral(target, category); wanted && wanted->numeric) {
      for (std::size_t i = 0; i < labels.size(); ++i) {
        const std::optional<Datum> label = convertLiteral(target, labels[i]);
        if (label && label->numeric && label->number == wanted->number) return static_cast<int>(i);
      }
    }
    labels.push_back(category);
    return static_cast<int>(labels.size()) - 1;
  }

  void finish() {
    const auto target = index_.find(model_.target);
    if (target == index_.end()) fail("target field \"" + model_.target + "\" is not in the DataDictionary");
    const DictionaryField& targetField = model_.dictionary[static_cast<std::size_t>(target->second)];
    if (model_.classification) {
      model_.labels = targetField.validValues;
      for (Segment& segment : model_.segments)
        for (const RegressionTable& table : segment.model.tables)
          segment.model.labelIndex.push_back(labelIndex(targetField, table.category));
    }
    for (int index : used_) {
      if (index == target->second) fail("target field \"" + model_.target + "\" is also used as an input");
      model_.required.push_back(model_.dictionary[static_cast<std::size_t>(index)].name);
      model_.requiredIndex.push_back(index);
    }
    for (DictionaryField& field : model_.dictionary) {
      if (field.name == model_.target || (field.optype != "categorical" && field.optype != "ordinal")) continue;
      for (const std::string& text : field.validValues) {
        const std::optional<Datum> datum = convertLiteral(field, text);
        if (!datum) fail("DataField name=\"" + field.name + "\": Value \"" + text + "\" is not a valid " + field.dataType);
        std::string key;
        appendIndexKey(*datum, key);
        field.validKeys.insert(std::move(key));
      }
    }
    model_.index = indexSegments(model_.segments);
  }

  ScoringModel& model_;
  const SegmentChunks* cut_;
  PieceText pieceText_;
  pugi::xml_document piece_;  // the segment being read, when they are parsed one by one
  std::map<std::string, int, std::less<>> index_;
  std::map<std::string, int, std::less<>> local_;  // the derived fields of the model being read
  std::set<int> used_;
};

// The model from the skeleton and pieces of a document; nothing when the
// skeleton or a piece does not parse or the model is unfit: reading the
// document whole then names the first fault in document order.
std::optional<ScoringModel> loadInPieces(const SegmentChunks& cut, Loader::PieceText pieceText) {
  try {
    pugi::xml_document skeleton;
    if (!illegalCharacterReference(cut.skeleton).empty() ||
        !skeleton.load_buffer(cut.skeleton.data(), cut.skeleton.size(), pugi::parse_default | pugi::parse_doctype) ||
        declaresEntities(skeleton) || !undeclaredEntityReference(cut.skeleton).empty() ||
        !repeatedAttribute(skeleton).empty())
      return std::nullopt;
    ScoringModel model;
    Loader(model, &cut, std::move(pieceText)).load(skeleton.document_element());
    return model;
  } catch (const ScoreError&) {
    return std::nullopt;
  }
}

ScoringModel loadWhole(const std::string& pmmlText) {
  // The parser would read such a reference into the value as bytes no
  // record holds (a zero byte cuts it), so that its segment silently
  // matches nothing.
  if (const std::string reference = illegalCharacterReference(pmmlText); !reference.empty())
    fail("the character reference '" + reference +
         "' is malformed or names a character that XML does not allow, so the document is not XML");
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(pmmlText.data(), pmmlText.size(), pugi::parse_default | pugi::parse_doctype);
  if (!parsed)
    fail(std::string("PMML does not parse: ") + parsed.description() + " at offset " + std::to_string(parsed.offset));
  if (declaresEntities(doc))
    fail("the document declares entities or attribute defaults in its DTD (<!ENTITY ...>, <!ATTLIST ...>), "
         "which would not be read as declared, so it is refused; give the split model as build wrote it, "
         "without a DOCTYPE");
  if (const std::string reference = undeclaredEntityReference(pmmlText); !reference.empty())
    fail("'" + reference + "' refers to an entity that XML does not define (only &amp; &lt; &gt; &quot; &apos; "
         "and character references are), so the document is not XML");
  if (const std::string repeated = repeatedAttribute(doc); !repeated.empty())
    fail("the element " + repeated.substr(0, repeated.find(' ')) + " gives its attribute " +
         repeated.substr(repeated.find(' ') + 1) + " twice, so the document is not XML");
  ScoringModel model;
  Loader(model).load(doc.document_element());
  return model;
}

// Reads the pieces of a file in document order, a block at a time.
class PieceReader {
 public:
  explicit PieceReader(std::ifstream& in) : in_(in) {}

  std::string_view operator()(const SegmentChunks::Piece& piece) {
    if (piece.offset < start_ || piece.offset + piece.size > start_ + buffer_.size()) {
      in_.clear();
      in_.seekg(static_cast<std::streamoff>(piece.offset));
      buffer_.resize(std::max<std::size_t>(static_cast<std::size_t>(piece.size), kBlock));
      in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
      buffer_.resize(static_cast<std::size_t>(std::max<std::streamsize>(in_.gcount(), 0)));
      start_ = piece.offset;
      if (buffer_.size() < piece.size) fail("the model file changed while it was read");
    }
    return std::string_view(buffer_).substr(static_cast<std::size_t>(piece.offset - start_),
                                             static_cast<std::size_t>(piece.size));
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 20;
  std::ifstream& in_;
  std::string buffer_;
  std::uint64_t start_ = 0;
};

}  // namespace

ScoringModel loadScoringModel(const std::string& pmmlText) {
  // The document without its segments, then each segment on its own: the
  // tree of the whole document would take several times the text's size.
  if (const std::optional<SegmentChunks> cut = cutSegments(pmmlText)) {
    std::optional<ScoringModel> model = loadInPieces(*cut, [&](const SegmentChunks::Piece& piece) {
      return std::string_view(pmmlText).substr(static_cast<std::size_t>(piece.offset),
                                               static_cast<std::size_t>(piece.size));
    });
    if (model) return std::move(*model);
  }
  return loadWhole(pmmlText);
}

ScoringModel loadScoringModelFile(const std::string& path) {
  // Two passes over the file, neither holding it whole: the first cuts the
  // segments out and keeps the rest, the second reads the segments.
  // Only a regular file can be read twice; a device such as /dev/zero
  // would be read without end.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    fail("is not a regular file; give the split-model.pmml file build wrote");
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot open the file");
  SegmentCutter cutter;
  {
    std::string block(std::size_t{1} << 20, '\0');
    bool first = true;
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
      const std::string_view got(block.data(), static_cast<std::size_t>(in.gcount()));
      // A document starts with markup (after a byte order mark and white
      // space); anything else is refused before the rest is read.
      if (first) {
        // UTF-16 (a byte order mark, or '<' beside a zero byte) is named, not
        // taken for binary data: build writes UTF-8, which iconv makes of it.
        if (got.starts_with("\xFF\xFE") || got.starts_with("\xFE\xFF") || got.starts_with(std::string_view("<\0", 2)) ||
            got.starts_with(std::string_view("\0<", 2)))
          fail("is UTF-16 text; convert it to UTF-8 (iconv -f UTF-16 -t UTF-8)");
        const std::size_t start = got.find_first_not_of(std::string_view("\xEF\xBB\xBF \t\r\n", 7));
        if (start != std::string_view::npos && got[start] != '<')
          fail("is not an XML document");
        first = start == std::string_view::npos;
      }
      cutter.feed(got);
    }
    if (in.bad()) fail("reading the file failed");
  }
  if (const std::optional<SegmentChunks> cut = cutter.finish()) {
    std::optional<ScoringModel> model = loadInPieces(*cut, PieceReader(in));
    if (model) return std::move(*model);
  }
  in.clear();
  in.seekg(0);
  std::string text;
  std::string block(std::size_t{1} << 20, '\0');
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0)
    text.append(block.data(), static_cast<std::size_t>(in.gcount()));
  if (in.bad()) fail("reading the file failed");
  return loadWhole(text);
}

}  // namespace splitmodels::detail

// The scorer's in-memory form of a PMML document: the data dictionary, the
// segments' predicates and their regression models.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pugi {
class xml_node;
}

namespace splitmodels::detail {

// One input value after conversion by its field's data type.
struct Datum {
  bool missing = true;
  bool numeric = false;  // compare `number`, else `text`
  double number = 0.0;
  std::string text;
};

// How a PMML dataType reads texts.
enum class TypeKind { String, Number, Boolean, Date, Time, Timestamp };

struct DictionaryField {
  std::string name;
  std::string dataType;
  TypeKind kind = TypeKind::String;
  double origin = 0.0;  // date origin of "…Since[YYYY]" types, in the type's unit
  std::string optype;
  std::vector<std::string> validValues;    // Value children, property valid
  std::vector<std::string> missingValues;  // Value children, property missing
};

// Reads `text` as a value of `field`; texts listed as missing values and
// texts that do not convert give a missing Datum.
Datum convertValue(const DictionaryField& field, const std::optional<std::string>& text);

// Reads a value written in the PMML document itself (predicate values,
// categories); nothing when it does not convert.
std::optional<Datum> convertLiteral(const DictionaryField& field, const std::string& text);

// -1, 0 or 1; both data must be present.
int compareData(const Datum& a, const Datum& b);

enum class Truth { False, True, Unknown };

struct Predicate {
  enum class Kind { Simple, Compound, Set, True, False } kind = Kind::True;
  enum class Op { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual, IsMissing, IsNotMissing, And, Or,
                  Xor, Surrogate, IsIn, IsNotIn } op = Op::Equal;
  int field = -1;
  Datum value;
  std::vector<Datum> set;
  std::vector<Predicate> children;
};

Truth evaluate(const Predicate& predicate, const std::vector<Datum>& row);

struct NumericTerm {
  int field = -1;
  int exponent = 1;
  double coefficient = 0.0;
};

struct CategoricalTerm {
  int field = -1;
  Datum value;
  double coefficient = 0.0;
};

struct RegressionTable {
  double intercept = 0.0;
  std::string category;  // classification: the table's targetCategory
  std::vector<NumericTerm> numeric;
  std::vector<CategoricalTerm> categorical;
};

enum class Normalization { None, Softmax, Logit, Exp, Simplemax };

struct Regression {
  bool classification = false;
  Normalization normalization = Normalization::None;
  std::vector<RegressionTable> tables;
  // missingValueReplacement of the model's mining fields, by dictionary index.
  std::vector<std::pair<int, Datum>> replacements;
  std::vector<int> labelIndex;  // classification: classLabels index per table
};

struct Segment {
  std::string id;
  Predicate predicate;
  Regression model;
};

struct ScoringModel {
  std::vector<DictionaryField> dictionary;
  std::string target;
  bool classification = false;
  bool segmented = false;
  std::vector<Segment> segments;  // a bare RegressionModel is one True segment
  std::vector<std::string> labels;
  std::vector<std::string> required;   // field names, dictionary order
  std::vector<int> requiredIndex;      // their dictionary indices
};

// Builds the model from PMML text; throws ScoreError.
ScoringModel loadScoringModel(const std::string& pmmlText);

// Evaluates one regression model on a converted row. Nothing when a
// predictor's input is missing and has no replacement; otherwise the raw
// value (regression) or one probability per class label (classification).
struct RegressionOutput {
  double value = 0.0;
  std::vector<double> probabilities;
};
std::optional<RegressionOutput> evaluate(const Regression& model, const std::vector<Datum>& row,
                                         std::size_t labelCount);

}  // namespace splitmodels::detail

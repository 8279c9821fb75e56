// platform/models/scoring: part of the workers' model library (splitmodels).
// Owns scoring with a split model document: reading it (scorer_load.cpp)
// into its in-memory form (this header), finding each record's segment
// (scorer_index.cpp), and evaluating the segment's model (scorer_eval.cpp,
// scorer_values.cpp); segment_chunks.h cuts a large document into segments.
// Public header: splitmodels/scorer.h. Includes splitmodels/ and the value
// text and XML helpers of models/pmml; never fitting.
//
// The scorer's in-memory form of a PMML document: the data dictionary, the
// segments' predicates and their regression models.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "glm_family.h"

namespace pugi {
class xml_node;
}

namespace splitmodels::detail {

// One input value after conversion by its field's data type.
struct Datum {
  bool missing = true;   // no value at all
  bool invalid = false;  // a value that does not read as the field's type (not missing)
  bool numeric = false;  // compare `number` (or `integer`), else `text`
  bool integral = false; // numeric and a whole number within 64 bits: `integer` holds it exactly
  std::int64_t integer = 0;
  double number = 0.0;
  std::string text;
};

// How a PMML dataType reads texts.
enum class TypeKind { String, Integer, Number, Boolean, Date, Time, Timestamp };

struct DictionaryField {
  std::string name;
  std::string dataType;
  TypeKind kind = TypeKind::String;
  double origin = 0.0;  // date origin of "…Since[YYYY]" types, in the type's unit
  std::string optype;
  std::vector<std::string> validValues;    // Value children, property valid
  std::vector<std::string> missingValues;  // Value children, property missing
  // Index keys (appendIndexKey) of the valid values of a categorical or
  // ordinal field that lists them; a value outside them is invalid.
  std::unordered_set<std::string> validKeys;
};

// Reads `text` as a value of `field` into `datum` (in place, reusing its
// storage). Texts listed as missing values and blank texts give a missing
// Datum; other texts that do not convert give an invalid one. `number`, when
// given, is the text already read as a decimal number; a real-number field
// takes it as is.
void convertValueGeneral(const DictionaryField& field, bool missing, std::string_view text, Datum& datum,
                         const double* number = nullptr);

// The same, with the cases of nearly every row handled inline (no call per
// value): a present text of a string field, a plain decimal integer of an
// integer field and a real-number field's value already read, when the
// field lists neither missing nor valid values.
// They set exactly what convertValueGeneral sets.
inline void convertValue(const DictionaryField& field, bool missing, std::string_view text, Datum& datum,
                         const double* number = nullptr) {
  if (!missing && field.missingValues.empty() && field.validKeys.empty()) {
    if (field.kind == TypeKind::String) {
      datum.missing = datum.invalid = datum.numeric = datum.integral = false;
      datum.text.assign(text);
      return;
    }
    if (field.kind == TypeKind::Integer) {
      // Up to 18 digits, with an optional minus sign: read here, exactly.
      const bool negative = !text.empty() && text.front() == '-';
      const std::size_t digits = text.size() - (negative ? 1 : 0);
      if (digits > 0 && digits <= 18) {
        std::int64_t value = 0;
        bool plain = true;
        for (std::size_t i = negative ? 1 : 0; i < text.size() && plain; ++i) {
          const unsigned digit = static_cast<unsigned char>(text[i]) - static_cast<unsigned>('0');
          plain = digit < 10;
          value = value * 10 + static_cast<std::int64_t>(digit);
        }
        if (plain) {
          datum.missing = datum.invalid = false;
          datum.numeric = datum.integral = true;
          datum.integer = negative ? -value : value;
          datum.number = static_cast<double>(datum.integer);
          datum.text.clear();
          return;
        }
      }
    }
    if (field.kind == TypeKind::Number && number != nullptr && std::isfinite(*number)) {
      datum.missing = datum.invalid = datum.integral = false;
      datum.numeric = true;
      datum.number = *number;
      datum.text.clear();
      return;
    }
  }
  convertValueGeneral(field, missing, text, datum, number);
}

// Reads a value written in the PMML document itself (predicate values,
// categories); nothing when it does not convert.
std::optional<Datum> convertLiteral(const DictionaryField& field, const std::string& text);

// -1, 0 or 1; both data must be present and valid. Two integral values
// compare as 64-bit integers, other numbers as doubles, the rest bytewise.
int compareData(const Datum& a, const Datum& b);

// A byte string that two present, valid data of the same field share exactly
// when compareData finds them equal (numbers by value, -0 and 0 alike); the
// segment index hashes these.
void appendIndexKey(const Datum& datum, std::string& key);

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

// A parameter of a GeneralRegressionModel on several predictors: the
// product of numeric predictors' powers and categorical ones' indicators.
struct ProductPart {
  int field = -1;
  bool categorical = false;
  Datum value;       // categorical: the category
  int exponent = 1;  // numeric
};
struct ProductTerm {
  std::vector<ProductPart> parts;
  double coefficient = 0.0;
};

struct RegressionTable {
  double intercept = 0.0;
  std::string category;  // classification: the table's targetCategory
  std::vector<NumericTerm> numeric;
  std::vector<CategoricalTerm> categorical;
  std::vector<ProductTerm> products;
};

// The expression of a DerivedField in a model's LocalTransformations: a
// field (a dictionary index, or an earlier derived field's index), a
// constant, or a function applied to expressions.
struct Expression {
  enum class Kind { Field, Constant, Apply } kind = Kind::Constant;
  int field = -1;
  double value = 0.0;
  enum class Function { Add, Subtract, Multiply, Divide, Pow, Ln, Log10, Exp, Sqrt, Abs } function = Function::Add;
  std::vector<Expression> args;
};

enum class Normalization { None, Softmax, Logit, Exp, Simplemax };

// A model's coefficient covariance (a RegressionModel's "covariance"
// extension, a GeneralRegressionModel's PCovMatrix): one term per estimated
// coefficient, and the matrix over them. A term's field may be a derived
// field (derivedBase + k).
struct CovarianceTerm {
  int field = -1;  // -1: the intercept, or a product of parts
  bool categorical = false;
  Datum value;  // a categorical term's category
  int exponent = 1;  // a numeric term's power of its input
  std::vector<ProductPart> parts;  // a product of predictors: its parts
};
struct Covariance {
  std::vector<CovarianceTerm> terms;
  std::vector<double> matrix;  // terms × terms, row by row
  double dfResidual = 0.0;
  double sigma = std::nan("");  // residual standard error; linear models only
  double dispersion = 1.0;      // a glm's (estimated or fixed); sigma² for a linear model
  double deviance = std::nan("");  // residual deviance; glm and logistic models
  // Per term: the coefficients at which the fit's last step took its
  // working weights; empty when the document does not give them.
  std::vector<double> start;
};

// The standard error of the linear predictor at `row`, √(x'Vx) with x the
// terms' values (1 for the intercept, the input's number to the term's
// power, 0 or 1 for a category, the product of a product's parts); nothing
// when a numeric term's input is missing. Derived fields (indices from
// `derivedBase` on) are read from `derived`. With `startPredictor` and the
// covariance's start coefficients, also x'β at those coefficients (offset
// not included).
std::optional<double> linkStandardError(const Covariance& covariance, const std::vector<Datum>& row,
                                        const std::vector<Datum>& derived, std::size_t derivedBase,
                                        double* startPredictor = nullptr);

struct Regression {
  bool classification = false;
  Normalization normalization = Normalization::None;
  std::vector<RegressionTable> tables;
  // missingValueReplacement of the model's mining fields, by dictionary index.
  std::vector<std::pair<int, Datum>> replacements;
  std::vector<int> labelIndex;  // classification: classLabels index per table
  // Inputs whose MiningField says invalidValueTreatment="returnInvalid" and
  // that CategoricalPredictors read: the index keys of the categories the
  // predictors list. Any other present value of such an input is invalid
  // for this model.
  std::vector<std::pair<int, std::unordered_set<std::string>>> knownLevels;
  std::optional<Covariance> covariance;  // when the model carries it
  // A GeneralRegressionModel of type generalizedLinear: its first table is
  // the linear predictor, to which the offset field's value is added (-1:
  // none), and the link's inverse gives the prediction (for classification
  // the first table's category's probability; the second table, of the
  // reference category, takes the rest).
  bool generalized = false;
  // A generalizedLinear model fitted by least squares (a linear model from a
  // formula): scored as a linear model, its sigma the root of its dispersion.
  bool leastSquares = false;
  LinkKind link = LinkKind::Identity;
  // The error distribution (a generalizedLinear model's, binomial for a
  // logistic RegressionModel): the variance and deviance of diagnostics.
  FamilyKind family = FamilyKind::Gaussian;
  int offsetField = -1;
  // The model's derived fields, in order; terms and the offset refer to the
  // k-th as field derivedBase + k (the dictionary's size).
  std::vector<Expression> derived;
  std::size_t derivedBase = 0;
};

// The value of a derived field's expression at `row`, given the values of
// the derived fields before it; NaN when an input is missing, invalid or not
// a number, or the function is undefined there.
double evaluateExpression(const Expression& expression, const std::vector<Datum>& row,
                          const std::vector<Datum>& derived, std::size_t derivedBase);

// The derived field values that the last evaluate on this thread computed
// (empty before the first model with derived fields).
const std::vector<Datum>& lastDerivedValues();

struct Segment {
  std::string id;
  Predicate predicate;
  Regression model;
};

// Segments whose predicates are conjunctions of equality tests (isMissing
// for a missing value) on one and the same set of fields, or an "or" of
// such conjunctions, are found by hash lookup; the others keep an ordered scan. Together they select what a scan
// of all segments in document order would select.
//
// A row's key is hashed and compared straight from its data, part by part
// (no key text is built per row): the table holds each key's bytes as
// appendIndexKey writes them, in one arena, and its hash.
struct SegmentIndex {
  std::vector<int> fields;  // dictionary indices of the key fields, ascending
  std::vector<std::size_t> scanned;  // the other segments, in document order
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t offset = 0;  // the key's bytes in `keys`
    std::uint32_t size = 0;
    std::size_t segment = static_cast<std::size_t>(-1);  // -1: an empty slot
  };
  std::vector<Slot> slots;  // open addressing, a power of two in size; empty without keys
  std::string keys;
};

// Builds the index of `segments` (see SegmentIndex).
SegmentIndex indexSegments(const std::vector<Segment>& segments);

// The position of the segment a row selects, or segments.size() for none.
std::size_t selectSegment(const SegmentIndex& index, const std::vector<Segment>& segments,
                          const std::vector<Datum>& row);

struct ScoringModel {
  std::vector<DictionaryField> dictionary;
  std::string target;
  bool classification = false;
  bool segmented = false;
  std::vector<Segment> segments;  // a bare RegressionModel is one True segment (or
                                  // its split-info test, when it carries one)
  SegmentIndex index;
  // The split values of a single group's model (its split-info extension),
  // as "field=value" texts; empty for a split model or a plain model.
  std::vector<std::string> groupKey;
  std::vector<std::string> labels;
  std::vector<std::string> required;   // field names, dictionary order
  std::vector<int> requiredIndex;      // their dictionary indices
};

// Builds the model from PMML text; throws ScoreError.
ScoringModel loadScoringModel(const std::string& pmmlText);

// The same from a PMML file, read in blocks rather than held whole; throws
// ScoreError, also when the file cannot be opened or read.
ScoringModel loadScoringModelFile(const std::string& path);

// Evaluates one regression model on a converted row. Nothing when a
// predictor's input is missing and has no replacement; otherwise the raw
// value (regression) or one probability per class label (classification).
struct RegressionOutput {
  double value = 0.0;
  std::vector<double> probabilities;
};
// Sets `invalid` when the row holds an invalid value in a field the model
// reads (no prediction then, as PMML's returnInvalid treatment).
// With `linkScale` a model gives its (first table's) linear predictor,
// offset included, before the inverse link or normalisation, in `value`.
std::optional<RegressionOutput> evaluate(const Regression& model, const std::vector<Datum>& row,
                                         std::size_t labelCount, bool& invalid, bool linkScale = false);

// Predicates nested deeper than this are refused when the document is read,
// so that evaluating them (recursively) stays within a small stack.
constexpr int kMaxPredicateDepth = 64;

}  // namespace splitmodels::detail

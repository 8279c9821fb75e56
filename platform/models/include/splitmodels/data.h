// Group data and build settings shared by the model builders.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace splitmodels {

class DataModel;  // data_model.h

// Storage codes of a field, as the host's data model numbers them.
enum Storage : int {
  StorageNone = 0,
  StorageInteger = 1,
  StorageReal = 2,
  StorageString = 3,
  StorageDate = 4,       // days since 1970-01-01
  StorageTime = 5,       // seconds since midnight
  StorageTimestamp = 6,  // seconds since 1970-01-01 UTC
};

// Measure codes of a field, as the host's data model numbers them.
enum Measure : int {
  MeasureNone = 0,
  MeasureContinuous = 1,
  MeasureFlag = 2,
  MeasureNominal = 3,
  MeasureOrdinal = 4,
  MeasureCategorical = 5,
};

// One field of a group's records.
struct FieldDef {
  std::string name;
  int storage = StorageNone;   // Storage code
  int measure = MeasureNone;   // Measure code
  // Category texts of a non-continuous field, in data-model order. Numeric
  // categories are compared with the cell's number after parsing, so "1" and
  // "1.0" name the same category of an integer field.
  std::vector<std::string> categories;
  // Role text from the data model ("input", "target", "split", "none"), or
  // empty when the data model gave none.
  std::string role;
};

// One value of one record. Storages 1, 2, 4, 5 and 6 use `number`; storage 3
// uses `text`. A missing value has `missing` set and the others ignored.
struct Cell {
  bool missing = false;
  double number = 0.0;
  std::string text;
};

// The records of one split group; every row has one Cell per field, in the
// order of `fields`.
struct GroupData {
  std::vector<FieldDef> fields;
  std::vector<std::vector<Cell>> rows;
};

// The values of one field over a group's records, in record order: numbers
// for numeric storages, texts for string storage, and a missing flag per
// record (a missing value's number or text is not looked at). `numbers`
// views either `held`, which the reader filled, or the reader's own column
// of doubles, so that records kept as doubles reach the fit without a copy.
struct FieldColumn {
  std::span<const double> numbers;
  std::vector<std::string_view> texts;
  std::vector<unsigned char> missing;
  std::vector<double> held;

  FieldColumn() = default;
  FieldColumn(const FieldColumn& other) { *this = other; }
  // A moved vector keeps its buffer, so a view of `held` stays right.
  FieldColumn(FieldColumn&&) noexcept = default;
  FieldColumn& operator=(FieldColumn&&) noexcept = default;
  FieldColumn& operator=(const FieldColumn& other) {
    texts = other.texts;
    missing = other.missing;
    held = other.held;
    const bool own = !other.held.empty() && other.numbers.data() == other.held.data();
    numbers = own ? std::span<const double>(held) : other.numbers;
    return *this;
  }
  // `count` zeros of the column's own, which `numbers` then views: for a
  // reader that converts its values.
  std::span<double> holdNumbers(std::size_t count) {
    held.assign(count, 0.0);
    numbers = held;
    return held;
  }
};

// A group's records as the model builder reads them: field by field, only
// the fields a model uses. A host that keeps its records column-wise hands
// them over without building rows of cells.
class GroupRecords {
public:
  virtual ~GroupRecords() = default;
  virtual const std::vector<FieldDef>& fields() const = 0;
  virtual std::size_t rowCount() const = 0;
  // Fills `out` with the values of fields()[field]; texts and numbers that
  // view this object's storage stay valid while it lives and is not changed.
  virtual void readField(std::size_t field, FieldColumn& out) const = 0;
};

// Linear and Logistic are least squares and binary logistic regression;
// Glm is any family and link of R's glm (ModelSpec::family, ::link).
enum class ModelKind { Linear, Logistic, Glm };

// What to build for each group.
struct ModelSpec {
  ModelKind kind = ModelKind::Linear;
  std::string target;               // target field name
  std::vector<std::string> inputs;  // input field names, in design order
  // Logistic only: the modelled target value. Empty means the second of the
  // two target values in sorted order (numeric order for numeric targets).
  std::string event;
  // Reference level of a categorical input by field name (the level as the
  // data holds it). Inputs not named here are coded against their first
  // category; a level the input does not have fails the build.
  std::map<std::string, std::string> references;
  // An R formula ("log(y) ~ x * segment"): when set, it gives the model's
  // terms; `target` is then the first field its response reads and
  // `inputs` the fields its right side reads ("." stands for those of them
  // the response does not read).
  std::string formula;
  std::string modelId;              // written as the model's name and ID
  // Glm only: the family and link by R's names ("poisson", "log"; an empty
  // link is the family's canonical one), the fields of the prior weights and
  // of the offset (empty: none), and R's glm.control settings.
  std::string family = "gaussian";
  std::string link;
  std::string weights;
  std::string offset;
  double epsilon = 1e-8;
  int maxIterations = 25;
  // The input data model, parsed once per run and shared; the group StatXML
  // copies the target's and inputs' Field elements from it. May be null
  // (then the copies are made from the FieldDefs).
  std::shared_ptr<const DataModel> dataModel;
};

// Reads the fields of a data model document (root "DataModel" with a
// "Fields" child of "Field" elements) in record order, with their storage,
// measure, role and the "value" attributes of their "Value" children as
// categories. Throws std::invalid_argument naming what is wrong when the
// text does not parse or has no Fields element.
std::vector<FieldDef> parseDataModelFields(const std::string& dataModelXml);

// Storage and measure texts of the data model document and their codes
// (unknown texts give 0; unknown codes give an empty text).
int storageFromText(const std::string& text);
int measureFromText(const std::string& text);
std::string storageText(int storage);
std::string measureText(int measure);

}  // namespace splitmodels

// Helpers shared by the model tests: field, record and request builders, a
// record as the texts a scorer reads, a PMML schema check, and the comparison
// with R's values.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/mtcars.h"
#include "common/pmml_schema.h"
#include "common/tsv.h"
#include "splitmodels/splitmodels.h"

namespace modeltest {

using splitmodels::Cell;
using splitmodels::FieldDef;
using splitmodels::GroupData;
using splitmodels::ModelKind;
using splitmodels::ModelSpec;

inline FieldDef continuous(const std::string& name, int storage = splitmodels::StorageReal) {
  return FieldDef{name, storage, splitmodels::MeasureContinuous, {}, {}};
}

inline FieldDef nominal(const std::string& name, std::vector<std::string> categories,
                        int storage = splitmodels::StorageString) {
  return FieldDef{name, storage, splitmodels::MeasureNominal, std::move(categories), {}};
}

inline Cell number(double value) { return Cell{false, value, {}}; }
inline Cell text(const std::string& value) { return Cell{false, 0.0, value}; }
inline Cell missing() { return Cell{true, 0.0, {}}; }

inline ModelSpec modelRequest(ModelKind kind, const std::string& target, std::vector<std::string> inputs,
                      const std::string& event = "") {
  ModelSpec request;
  request.kind = kind;
  request.target = target;
  request.inputs = std::move(inputs);
  request.event = event;
  return request;
}

// A file of tests/models/, whole.
inline std::string testFile(const std::string& name) {
  std::ostringstream text;
  text << std::ifstream(std::string(SPLIT_SOURCE_ROOT) + "/tests/models/" + name).rdbuf();
  return text.str();
}

// The cases of a tab-separated file of tests/models/ (see TsvRows).
inline std::vector<std::vector<std::string>> tsvRows(const std::string& name) {
  return splittest::TsvRows("models/" + name);
}

// A number as a CSV column holds it: 17 significant digits, so that it reads
// back to the same double.
inline std::string render(double value) {
  char buffer[40];
  return {buffer, static_cast<std::size_t>(std::snprintf(buffer, sizeof buffer, "%.17g", value))};
}

// The data's field names, as a scorer's header, and one record as the texts a
// scorer reads.
inline std::vector<std::string> fieldNames(const GroupData& data) {
  std::vector<std::string> names;
  for (const FieldDef& field : data.fields) names.push_back(field.name);
  return names;
}
inline std::vector<std::optional<std::string>> recordTexts(const GroupData& data, std::size_t row) {
  std::vector<std::optional<std::string>> texts;
  for (const Cell& cell : data.rows[row]) texts.emplace_back(cell.text.empty() ? render(cell.number) : cell.text);
  return texts;
}

// mtcars, with cyl as a factor, log(disp) and weights that hold zeros.
inline GroupData mtcars() {
  GroupData data{{continuous("mpg"), nominal("cyl", {"4", "6", "8"}), continuous("disp"), continuous("hp"), continuous("wt"),
                  continuous("qsec"), continuous("vs"), continuous("am"), continuous("gear"), continuous("carb"),
                  continuous("logdisp"), continuous("w0")},
                 {}};
  for (const splittest::Car& car : splittest::kMtcars)
    data.rows.push_back({number(car.mpg), text(std::to_string(static_cast<int>(car.cyl))), number(car.disp),
                         number(car.hp), number(car.wt), number(car.qsec), number(car.vs), number(car.am),
                         number(car.gear), number(car.carb), number(std::log(car.disp)),
                         number(car.am + (car.gear == 5 ? 0.5 : 0.0))});
  return data;
}

// Columns of mtcars by name, in the order given: numbers, but cyl a factor of
// integers, vs and am 0/1 flags, wt2 twice wt and z 0 in every record.
inline GroupData mtcarsColumns(const std::vector<std::string>& names) {
  GroupData data;
  for (const std::string& name : names)
    data.fields.push_back(name == "cyl" ? nominal("cyl", {"4", "6", "8"}, splitmodels::StorageInteger)
                          : name == "vs" || name == "am"
                              ? FieldDef{name, splitmodels::StorageInteger, splitmodels::MeasureFlag, {"0", "1"}, {}}
                              : continuous(name));
  for (const splittest::Car& car : splittest::kMtcars) {
    const std::map<std::string, double> values = {{"mpg", car.mpg}, {"cyl", car.cyl}, {"hp", car.hp}, {"wt", car.wt},
                                                  {"wt2", 2 * car.wt}, {"vs", car.vs},   {"am", car.am}, {"z", 0.0}};
    data.rows.emplace_back();
    for (const std::string& name : names) data.rows.back().push_back(number(values.at(name)));
  }
  return data;
}

// xmllint's complaint about the document against the PMML 4.4 schema, or
// a cell naming a parameter the ParameterList does not declare (which the
// schema cannot check); empty when it validates.
inline std::string schemaErrors(const std::string& document) {
  static const std::regex cell("<P(?:P|)Cell [^>]*parameterName=\"([^\"]*)\"");
  for (std::sregex_iterator it(document.begin(), document.end(), cell), end; it != end; ++it)
    if (document.find("<Parameter name=\"" + (*it)[1].str() + "\"") == std::string::npos)
      return "undeclared parameter " + (*it)[1].str();
  static int serial = 0;
  const auto file = std::filesystem::temp_directory_path() /
                    ("splitmodels_" + std::to_string(::getpid()) + "_" + std::to_string(++serial) + ".pmml");
  std::ofstream(file) << document;
  const std::string errors = splittest::pmmlSchemaErrors(file);
  std::filesystem::remove(file);
  return errors;
}

#define EXPECT_VALID_PMML(document) EXPECT_EQ(modeltest::schemaErrors(document), "")

// R's NA in the tables of reference values.
constexpr double kNA = std::numeric_limits<double>::quiet_NaN();

// |actual - expected| within `relative` of |expected|; NaN and infinities
// must match exactly.
inline void expectClose(double actual, double expected, double relative, const std::string& what) {
  if (!std::isfinite(expected)) {
    EXPECT_TRUE(std::isnan(expected) ? std::isnan(actual) : actual == expected) << what << ": " << actual;
    return;
  }
  EXPECT_NEAR(actual, expected, relative * std::fabs(expected) + 1e-300) << what;
}

// R's reference values of one table under tests/data/r/ (written by
// reference.R there): a line per case and quantity, the value as R prints it
// with %.17g, NA, Inf and -Inf included. A lookup the table lacks fails the
// test.
class RValues {
 public:
  explicit RValues(const std::string& table) {
    std::ifstream in(std::string(SPLIT_R_REFERENCE_DIR) + "/" + table + ".tsv");
    std::string line;
    if (!std::getline(in, line)) ADD_FAILURE() << "no reference table " << table;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string kase, quantity, value;
      std::getline(fields, kase, '\t');
      std::getline(fields, quantity, '\t');
      std::getline(fields, value);
      quantities_[kase].push_back(quantity);
      values_[{kase, quantity}] = value == "NA" ? std::numeric_limits<double>::quiet_NaN() : std::strtod(value.c_str(), nullptr);
    }
  }

  double operator()(const std::string& kase, const std::string& quantity) const {
    const auto found = values_.find({kase, quantity});
    if (found != values_.end()) return found->second;
    ADD_FAILURE() << "no reference value for " << kase << ": " << quantity;
    return std::numeric_limits<double>::quiet_NaN();
  }

  // The quantities of a case in the table's order.
  const std::vector<std::string>& quantities(const std::string& kase) const { return quantities_[kase]; }

  // The names after `prefix` of the quantities that start with it, in order
  // (the terms of a case, say, from its estimates).
  std::vector<std::string> suffixes(const std::string& kase, const std::string& prefix) const {
    std::vector<std::string> names;
    for (const std::string& quantity : quantities(kase))
      if (quantity.rfind(prefix, 0) == 0) names.push_back(quantity.substr(prefix.size()));
    return names;
  }

 private:
  std::map<std::pair<std::string, std::string>, double> values_;
  mutable std::map<std::string, std::vector<std::string>> quantities_;
};

// The terms of `model` named and estimated as R's case `kase` of `values`
// gives them: estimates, standard errors and p values within the relative
// tolerances given, statistics within the standard errors'.
inline void expectTermsAsR(const splitmodels::GroupModel& model, const RValues& values, const std::string& kase,
                           double estimate, double error, double p) {
  const std::vector<std::string> names = values.suffixes(kase, "estimate ");
  ASSERT_EQ(model.terms.size(), names.size());
  for (std::size_t k = 0; k < names.size(); ++k) {
    const splitmodels::Term& term = model.terms[k];
    EXPECT_EQ(term.name, names[k]);
    expectClose(term.estimate, values(kase, "estimate " + names[k]), estimate, term.name + " estimate");
    expectClose(term.stdError, values(kase, "std error " + names[k]), error, term.name + " standard error");
    expectClose(term.statistic, values(kase, "statistic " + names[k]), error, term.name + " statistic");
    expectClose(term.pValue, values(kase, "p value " + names[k]), p, term.name + " p value");
  }
}

// Inserts before DataDictionary the build-task extension the collecting
// component adds to every group's PMML.
inline std::string withSplitInfo(std::string pmml) {
  const std::string block =
      "<MiningBuildTask><Extension name=\"split-info\" extender=\"split\">"
      "<DataField name=\"region\" optype=\"categorical\" dataType=\"string\"><Value value=\"north\"/></DataField>"
      "<DataField name=\"year\" optype=\"continuous\" dataType=\"integer\"/>"
      "</Extension></MiningBuildTask>";
  const auto at = pmml.find("<DataDictionary");
  if (at != std::string::npos) pmml.insert(at, block);
  return pmml;
}

}  // namespace modeltest

// Helpers shared by the model tests: field, record and request builders and
// a PMML schema check through xmllint.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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

// mtcars, with cyl as a factor, log(disp) and weights that hold zeros.
inline GroupData mtcars() {
  const std::vector<double> mpg{21, 21, 22.8, 21.4, 18.7, 18.1, 14.3, 24.4, 22.8, 19.2, 17.8, 16.4, 17.3, 15.2, 10.4, 10.4,
                                14.7, 32.4, 30.4, 33.9, 21.5, 15.5, 15.2, 13.3, 19.2, 27.3, 26, 30.4, 15.8, 19.7, 15, 21.4};
  const std::vector<int> cyl{6, 6, 4, 6, 8, 6, 8, 4, 4, 6, 6, 8, 8, 8, 8, 8, 8, 4, 4, 4, 4, 8, 8, 8, 8, 4, 4, 4, 8, 6, 8, 4};
  const std::vector<double> disp{160, 160, 108, 258, 360, 225, 360, 146.7, 140.8, 167.6, 167.6, 275.8, 275.8, 275.8, 472, 460,
                                 440, 78.7, 75.7, 71.1, 120.1, 318, 304, 350, 400, 79, 120.3, 95.1, 351, 145, 301, 121};
  const std::vector<double> hp{110, 110, 93, 110, 175, 105, 245, 62, 95, 123, 123, 180, 180, 180, 205, 215,
                               230, 66, 52, 65, 97, 150, 150, 245, 175, 66, 91, 113, 264, 175, 335, 109};
  const std::vector<double> wt{2.62, 2.875, 2.32, 3.215, 3.44, 3.46, 3.57, 3.19, 3.15, 3.44, 3.44, 4.07, 3.73, 3.78, 5.25, 5.424,
                               5.345, 2.2, 1.615, 1.835, 2.465, 3.52, 3.435, 3.84, 3.845, 1.935, 2.14, 1.513, 3.17, 2.77, 3.57, 2.78};
  const std::vector<double> qsec{16.46, 17.02, 18.61, 19.44, 17.02, 20.22, 15.84, 20, 22.9, 18.3, 18.9, 17.4, 17.6, 18, 17.98, 17.82,
                                 17.42, 19.47, 18.52, 19.9, 20.01, 16.87, 17.3, 15.41, 17.05, 18.9, 16.7, 16.9, 14.5, 15.5, 14.6, 18.6};
  const std::vector<int> vs{0, 0, 1, 1, 0, 1, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1};
  const std::vector<int> am{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1};
  const std::vector<int> gear{4, 4, 4, 3, 3, 3, 3, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 4, 4, 4, 3, 3, 3, 3, 3, 4, 5, 5, 5, 5, 5, 4};
  const std::vector<int> carb{4, 4, 1, 1, 2, 1, 4, 2, 2, 4, 4, 3, 3, 3, 4, 4, 4, 1, 2, 1, 1, 2, 2, 4, 2, 1, 2, 2, 4, 6, 8, 2};
  GroupData data{{continuous("mpg"), nominal("cyl", {"4", "6", "8"}), continuous("disp"), continuous("hp"), continuous("wt"),
                  continuous("qsec"), continuous("vs"), continuous("am"), continuous("gear"), continuous("carb"),
                  continuous("logdisp"), continuous("w0")},
                 {}};
  for (std::size_t i = 0; i < mpg.size(); ++i)
    data.rows.push_back({number(mpg[i]), text(std::to_string(cyl[i])), number(disp[i]), number(hp[i]), number(wt[i]),
                         number(qsec[i]), number(vs[i]), number(am[i]), number(gear[i]), number(carb[i]),
                         number(std::log(disp[i])), number(am[i] + (gear[i] == 5 ? 0.5 : 0.0))});
  return data;
}

// xmllint's complaint about the document against the PMML 4.4 schema kept
// under tests/data; empty when it validates.
inline std::string schemaErrors(const std::string& document) {
  static int serial = 0;
  const auto schema = std::filesystem::path(SPLIT_SOURCE_ROOT) / "tests" / "data" / "pmml-4-4.xsd";
  if (std::system("xmllint --version >/dev/null 2>&1") != 0)
    return "xmllint is not installed (Debian package libxml2-utils)";
  const auto file = std::filesystem::temp_directory_path() /
                    ("splitmodels_" + std::to_string(::getpid()) + "_" + std::to_string(++serial) + ".pmml");
  std::ofstream(file) << document;
  std::string output;
  const std::string command = "xmllint --noout --schema '" + schema.string() + "' '" + file.string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  for (char buffer[512]; pipe && std::fgets(buffer, sizeof buffer, pipe);) output += buffer;
  const int status = pipe ? ::pclose(pipe) : -1;
  std::filesystem::remove(file);
  return status == 0 ? "" : output + "(xmllint status " + std::to_string(status) + ")";
}

#define EXPECT_VALID_PMML(document) EXPECT_EQ(modeltest::schemaErrors(document), "")

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

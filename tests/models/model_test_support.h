// Helpers shared by the model tests: field and data builders and a PMML
// schema check through xmllint.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "splitmodels/splitmodels.h"

namespace modeltest {

using splitmodels::Cell;
using splitmodels::FieldDef;

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

inline std::filesystem::path schemaPath() {
  return std::filesystem::path(SPLIT_SOURCE_ROOT) / ".." / "shared" / "pmml" / "pmml-4-4.xsd";
}

// Empty when the document validates; otherwise xmllint's complaint. Skips
// the calling test when the schema or xmllint is not available.
#define EXPECT_VALID_PMML(document)                                                                  \
  do {                                                                                               \
    if (!std::filesystem::exists(modeltest::schemaPath()))                                           \
      GTEST_SKIP() << "PMML schema not found at " << modeltest::schemaPath();                       \
    if (std::system("xmllint --version >/dev/null 2>&1") != 0)                                       \
      GTEST_SKIP() << "xmllint is not installed (Debian package libxml2-utils)";                    \
    EXPECT_EQ(modeltest::schemaErrors(document), "");                                               \
  } while (0)

inline std::string schemaErrors(const std::string& document) {
  const auto dir = std::filesystem::temp_directory_path();
  const auto stem = "splitmodels_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                    std::to_string(reinterpret_cast<std::uintptr_t>(&document));
  const auto file = dir / (stem + ".pmml");
  const auto log = dir / (stem + ".log");
  std::ofstream(file) << document;
  const std::string command = "xmllint --noout --schema '" + schemaPath().string() + "' '" + file.string() +
                              "' >'" + log.string() + "' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(log);
  std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(file);
  std::filesystem::remove(log);
  return status == 0 ? "" : output;
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

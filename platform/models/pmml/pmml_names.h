// Names and type texts shared by the PMML and StatXML writers and the scorer.
#pragma once

#include <string>

#include "splitmodels/data.h"

namespace splitmodels::detail {

inline constexpr const char* kPmmlNamespace = "http://www.dmg.org/PMML-4_4";
inline constexpr const char* kPmmlVersion = "4.4";
inline constexpr const char* kStatXmlNamespace = "http://www.morvi.org/statxml/ext";
inline constexpr const char* kApplicationName = "splitmodels";
inline constexpr const char* kApplicationVersion = "1.0";
inline constexpr const char* kInterceptName = "(Intercept)";

// True for a field used as a number: a non-string storage whose measure is
// continuous or not given.
bool isContinuous(const FieldDef& field);

// PMML "dataType" of a storage code ("string" for unknown codes).
std::string pmmlDataType(int storage);
// PMML "optype" of a field: by measure, or by storage when it has none.
std::string pmmlOptype(const FieldDef& field);

// Category texts of a field as PMML writes them (numbers in canonical form).
std::string pmmlCategory(const FieldDef& field, const std::string& category);

}  // namespace splitmodels::detail

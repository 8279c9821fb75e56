#include "pmml_names.h"

#include "value_text.h"

namespace splitmodels::detail {

bool isContinuous(const FieldDef& field) {
  if (field.storage == StorageString) return false;
  return field.measure == MeasureContinuous || field.measure == MeasureNone;
}

std::string pmmlDataType(int storage) {
  switch (storage) {
    case StorageInteger: return "integer";
    case StorageReal: return "double";
    case StorageDate: return "dateDaysSince[1970]";
    case StorageTime: return "timeSeconds";
    case StorageTimestamp: return "dateTimeSecondsSince[1970]";
    default: return "string";
  }
}

std::string pmmlOptype(const FieldDef& field) {
  if (isContinuous(field)) return "continuous";
  if (field.measure == MeasureOrdinal) return "ordinal";
  return "categorical";
}

std::string pmmlCategory(const FieldDef& field, const std::string& category) {
  return canonicalCategory(field.storage, category);
}

}  // namespace splitmodels::detail

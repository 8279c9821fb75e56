// Element, attribute and value names of the host's documents.
#include "cf_cpp_helper.h"

namespace CfCppHelperV1 {

namespace XMLElements {
const char* const DataModel = "DataModel";
const char* const Execution = "Execution";
const char* const Field = "Field";
const char* const FieldFormats = "FieldFormats";
const char* const FieldGroup = "FieldGroup";
const char* const FieldGroups = "FieldGroups";
const char* const FieldName = "FieldName";
const char* const Fields = "Fields";
const char* const RecordCounts = "RecordCounts";
const char* const Value = "Value";
}  // namespace XMLElements

namespace XMLAttributes {
const char* const CaseSensitive = "caseSensitive";
const char* const Count = "count";
const char* const DisplayLabel = "displayLabel";
const char* const GroupType = "groupType";
const char* const MaxStringLength = "maxStringLength";
const char* const Measure = "measure";
const char* const Name = "name";
const char* const Role = "role";
const char* const Storage = "storage";
const char* const Type = "type";
const char* const Value = "value";
const char* const Version = "version";
}  // namespace XMLAttributes

namespace XMLEntities {
const char* const Error = "error";
const char* const False = "false";
const char* const Input = "input";
const char* const None = "none";
const char* const Split = "split";
const char* const SplitGroup = "splitGroup";
const char* const Target = "target";
const char* const True = "true";
}  // namespace XMLEntities

}  // namespace CfCppHelperV1

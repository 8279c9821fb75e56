#include <pugixml.hpp>

#include <memory>
#include <stdexcept>

#include "character_references.h"
#include "splitmodels/data.h"

namespace splitmodels {

namespace {

const char* const kStorageTexts[] = {"", "integer", "real", "string", "date", "time", "timestamp"};
const char* const kMeasureTexts[] = {"", "continuous", "flag", "nominal", "ordinal", "categorical"};

}  // namespace

int storageFromText(const std::string& text) {
  for (int code = 1; code <= 6; ++code)
    if (text == kStorageTexts[code]) return code;
  return StorageNone;
}

int measureFromText(const std::string& text) {
  for (int code = 1; code <= 5; ++code)
    if (text == kMeasureTexts[code]) return code;
  return MeasureNone;
}

std::string storageText(int storage) { return storage >= 1 && storage <= 6 ? kStorageTexts[storage] : ""; }

std::string measureText(int measure) { return measure >= 1 && measure <= 5 ? kMeasureTexts[measure] : ""; }

std::vector<FieldDef> parseDataModelFields(const std::string& dataModelXml) {
  // The parser would read such a reference into a name or category as bytes no record holds.
  if (const std::string reference = detail::illegalCharacterReference(dataModelXml); !reference.empty())
    throw std::invalid_argument("the character reference '" + reference + "' is malformed or names a character that XML does not allow");
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer(dataModelXml.data(), dataModelXml.size());
  if (!parsed) throw std::invalid_argument(std::string("data model does not parse: ") + parsed.description());
  const pugi::xml_node fieldsNode = doc.document_element().child("Fields");
  if (!fieldsNode) throw std::invalid_argument("data model has no Fields element under its root");
  std::vector<FieldDef> fields;
  for (const pugi::xml_node node : fieldsNode.children("Field")) {
    FieldDef field;
    field.name = node.attribute("name").value();
    field.storage = storageFromText(node.attribute("storage").value());
    field.measure = measureFromText(node.attribute("measure").value());
    field.role = node.attribute("role").value();
    for (const pugi::xml_node value : node.children("Value")) field.categories.push_back(value.attribute("value").value());
    fields.push_back(std::move(field));
  }
  return fields;
}

const std::vector<FieldDef>& dataModelFieldsOf(const std::string& dataModelXml) {
  struct Parsed {
    std::string xml;
    std::vector<FieldDef> fields;
  };
  thread_local std::unique_ptr<Parsed> last;
  if (!last || last->xml != dataModelXml) {
    // A document that fails to parse throws each time and leaves the last
    // one's fields in place.
    std::vector<FieldDef> fields = parseDataModelFields(dataModelXml);
    last = std::make_unique<Parsed>(Parsed{dataModelXml, std::move(fields)});
  }
  return last->fields;
}

}  // namespace splitmodels

#include <pugixml.hpp>

#include <set>
#include <sstream>
#include <stdexcept>

#include "character_references.h"
#include "splitmodels/data.h"
#include "splitmodels/data_model.h"
#include "xml_out.h"

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

namespace {

// Depths of the copied elements in a group's StatXML: StatXML, DataModel,
// FieldFormats and Fields, Field.
constexpr unsigned kFormatsDepth = 2;
constexpr unsigned kFieldDepth = 3;

std::string printed(const pugi::xml_node& node, unsigned depth) {
  std::ostringstream out;
  node.print(out, "  ", pugi::format_default, pugi::encoding_utf8, depth);
  return out.str();
}

// Reads the Field elements of a parsed document; the error when there is
// no Fields element.
std::string readFields(const pugi::xml_document& doc, std::vector<FieldDef>& fields) {
  const pugi::xml_node fieldsNode = doc.document_element().child("Fields");
  if (!fieldsNode) return "data model has no Fields element under its root";
  for (const pugi::xml_node node : fieldsNode.children("Field")) {
    FieldDef field;
    field.name = node.attribute("name").value();
    field.storage = storageFromText(node.attribute("storage").value());
    field.measure = measureFromText(node.attribute("measure").value());
    field.role = node.attribute("role").value();
    for (const pugi::xml_node value : node.children("Value")) field.categories.push_back(value.attribute("value").value());
    fields.push_back(std::move(field));
  }
  return {};
}

// Parses `xml` into `doc`; the error when it does not parse or refers to a
// character the parser would read as bytes no record holds.
std::string parseInto(pugi::xml_document& doc, const std::string& xml, bool* parsedOut = nullptr) {
  const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
  if (parsedOut != nullptr) *parsedOut = bool(parsed);
  if (const std::string reference = detail::illegalCharacterReference(xml); !reference.empty())
    return "the character reference '" + reference + "' is malformed or names a character that XML does not allow";
  if (!parsed) return std::string("data model does not parse: ") + parsed.description();
  return {};
}

}  // namespace

std::vector<FieldDef> parseDataModelFields(const std::string& dataModelXml) {
  pugi::xml_document doc;
  std::vector<FieldDef> fields;
  std::string error = parseInto(doc, dataModelXml);
  if (error.empty()) error = readFields(doc, fields);
  if (!error.empty()) throw std::invalid_argument(error);
  return fields;
}

DataModel::DataModel(std::string xml, const std::vector<std::string>& copied) : xml_(std::move(xml)) {
  pugi::xml_document doc;
  bool parsed = false;
  fieldsError_ = parseInto(doc, xml_, &parsed);
  if (fieldsError_.empty()) fieldsError_ = readFields(doc, fields_);
  if (!fieldsError_.empty()) fields_.clear();
  // The last definition of a name is the one its records are read against.
  byName_.reserve(fields_.size());
  for (std::size_t d = 0; d < fields_.size(); ++d) byName_.insert_or_assign(fields_[d].name, d);
  if (xml_.empty()) return;
  const pugi::xml_node root = doc.document_element();
  if (const pugi::xml_node formats = root.child("FieldFormats")) formats_ = printed(formats, kFormatsDepth);
  if (!parsed) return;
  const pugi::xml_node fieldsNode = root.child("Fields");
  if (const pugi::xml_attribute caseSensitive = fieldsNode.attribute("caseSensitive"))
    caseSensitive_ = caseSensitive.value();
  // The first Field of a name is the one copied.
  const std::set<std::string_view> wanted(copied.begin(), copied.end());
  for (pugi::xml_node field : fieldsNode.children("Field")) {
    const std::string name = field.attribute("name").value();
    if (!wanted.count(name) || copies_.count(name)) continue;
    Copy& copy = copies_[name];
    detail::setAttribute(field, "role", "target");
    copy.asTarget = printed(field, kFieldDepth);
    detail::setAttribute(field, "role", "input");
    copy.asInput = printed(field, kFieldDepth);
  }
}

const std::vector<FieldDef>& DataModel::fields() const {
  if (!fieldsError_.empty()) throw std::invalid_argument(fieldsError_);
  return fields_;
}

const FieldDef* DataModel::field(std::string_view name) const {
  const auto found = byName_.find(name);
  return found == byName_.end() ? nullptr : &fields_[found->second];
}

std::string_view DataModel::fieldCopy(const std::string& name, bool target, std::string& scratch) const {
  if (const auto found = copies_.find(name); found != copies_.end())
    return target ? found->second.asTarget : found->second.asInput;
  // A field the run did not name when the document was parsed.
  pugi::xml_document doc;
  if (xml_.empty() || !doc.load_buffer(xml_.data(), xml_.size())) return {};
  const pugi::xml_node field =
      doc.document_element().child("Fields").find_child_by_attribute("Field", "name", name.c_str());
  if (!field) return {};
  detail::setAttribute(field, "role", target ? "target" : "input");
  scratch = printed(field, kFieldDepth);
  return scratch;
}

}  // namespace splitmodels

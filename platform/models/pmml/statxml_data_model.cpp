// The DataModel element of a group's StatXML: copies of the input data
// model's Field elements of the target and inputs, each with its role.
//
// Every group of a run has the same input data model, so it is parsed once
// per thread and run, and each copied Field is printed once per role; the
// groups then paste the text.
#include <pugixml.hpp>

#include <memory>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "group_writers.h"
#include "value_text.h"
#include "xml_out.h"

namespace splitmodels::detail {

namespace {

// Depths of the copied elements in the StatXML: StatXML, DataModel,
// FieldFormats and Fields, Field.
constexpr unsigned kFormatsDepth = 2;
constexpr unsigned kFieldDepth = 3;

std::string printed(const pugi::xml_node& node, unsigned depth) {
  std::ostringstream out;
  node.print(out, "  ", pugi::format_default, pugi::encoding_utf8, depth);
  return out.str();
}

// One input data model, parsed, with the text of its copies as far as they
// have been asked for.
class DataModelCopies {
 public:
  explicit DataModelCopies(const std::string& xml) : xml_(xml) {
    if (xml_.empty()) return;
    // The FieldFormats of a data model that fails to parse are those read
    // before the error; its fields are none.
    const bool parsed = doc_.load_buffer(xml_.data(), xml_.size());
    const pugi::xml_node root = doc_.document_element();
    if (const pugi::xml_node formats = root.child("FieldFormats")) formats_ = printed(formats, kFormatsDepth);
    if (!parsed) return;
    const pugi::xml_node fields = root.child("Fields");
    if (const pugi::xml_attribute caseSensitive = fields.attribute("caseSensitive"))
      caseSensitive_ = caseSensitive.value();
    // The first Field of a name, found once each: a search per field would
    // be quadratic in the columns.
    for (pugi::xml_node field : fields.children("Field")) byName_.emplace(field.attribute("name").value(), Copy{field, {}, {}});
  }

  bool holds(const std::string& xml) const { return xml_ == xml; }
  const std::string& formats() const { return formats_; }
  const std::string& caseSensitive() const { return caseSensitive_; }

  // The Field of `name` with its role set, or null when the data model
  // does not describe the field.
  const std::string* field(const std::string& name, bool target) {
    const auto found = byName_.find(name);
    if (found == byName_.end()) return nullptr;
    Copy& copy = found->second;
    std::string& text = target ? copy.asTarget : copy.asInput;
    if (text.empty()) {
      setAttribute(copy.node, "role", target ? "target" : "input");
      text = printed(copy.node, kFieldDepth);
    }
    return &text;
  }

 private:
  struct Copy {
    pugi::xml_node node;
    std::string asTarget, asInput;
  };
  std::string xml_;
  pugi::xml_document doc_;
  std::string formats_;
  std::string caseSensitive_ = "true";
  std::unordered_map<std::string_view, Copy> byName_;
};

DataModelCopies& copiesOf(const std::string& xml) {
  thread_local std::unique_ptr<DataModelCopies> copies;
  if (!copies || !copies->holds(xml)) copies = std::make_unique<DataModelCopies>(xml);
  return *copies;
}

// A Field element made from what the build knows of the field, for data
// models that do not describe it.
void writeFieldFromDef(XmlText& xml, const FieldDef& def, bool target) {
  xml.open("Field").attribute("name", def.name).attribute("storage", storageText(def.storage));
  xml.attribute("measure", measureText(def.measure)).attribute("role", target ? "target" : "input");
  for (const std::string& category : def.categories) xml.empty("Value", "value", category);
  xml.close();
}

}  // namespace

void writeStatXmlDataModel(XmlText& xml, const std::vector<FieldDef>& defs, const ModelSpec& request,
                           const Design& design) {
  DataModelCopies& input = copiesOf(request.dataModelXml);
  xml.open("DataModel").attribute("version", "1.0");
  xml.raw(input.formats());
  std::set<std::size_t> used{design.targetField};
  for (const InputCoding& coding : design.inputs) used.insert(coding.field);
  xml.open("Fields").attribute("caseSensitive", input.caseSensitive()).attribute("count", std::to_string(used.size()));
  for (std::size_t index : used) {
    const bool target = index == design.targetField;
    if (const std::string* copy = input.field(defs[index].name, target))
      xml.raw(*copy);
    else
      writeFieldFromDef(xml, defs[index], target);
  }
  xml.close().close();
}

}  // namespace splitmodels::detail

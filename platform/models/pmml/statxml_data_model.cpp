// The DataModel element of a group's StatXML: copies of the input data
// model's Field elements of the target and inputs, each with its role.
//
// Every group of a run has the same input data model and fields, so it is
// parsed once per thread and run, and each copied Field is printed once per
// role; the groups then paste the text.
#include <pugixml.hpp>

#include <algorithm>
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

// The copies of one input data model's Field elements that the groups
// ask for, printed for both roles when it is parsed. The parsed document
// is not kept: a wide data model would hold every column's element, and a
// build asks for its target and inputs only.
class DataModelCopies {
 public:
  DataModelCopies(const std::string& xml, std::set<std::string> wanted) : xml_(xml), wanted_(std::move(wanted)) {
    if (xml_.empty()) return;
    // The FieldFormats of a data model that fails to parse are those read
    // before the error; its fields are none.
    pugi::xml_document doc;
    const bool parsed = doc.load_buffer(xml_.data(), xml_.size());
    const pugi::xml_node root = doc.document_element();
    if (const pugi::xml_node formats = root.child("FieldFormats")) formats_ = printed(formats, kFormatsDepth);
    if (!parsed) return;
    const pugi::xml_node fields = root.child("Fields");
    if (const pugi::xml_attribute caseSensitive = fields.attribute("caseSensitive"))
      caseSensitive_ = caseSensitive.value();
    // The first Field of a name is the one copied.
    for (pugi::xml_node field : fields.children("Field")) {
      const std::string name = field.attribute("name").value();
      if (!wanted_.count(name) || copies_.count(name)) continue;
      Copy& copy = copies_[name];
      setAttribute(field, "role", "target");
      copy.asTarget = printed(field, kFieldDepth);
      setAttribute(field, "role", "input");
      copy.asInput = printed(field, kFieldDepth);
    }
  }

  // True when this is the data model `xml` with copies of every field of `names`.
  bool holds(const std::string& xml, const std::set<std::string>& names) const {
    return xml_ == xml && std::includes(wanted_.begin(), wanted_.end(), names.begin(), names.end());
  }
  const std::set<std::string>& wanted() const { return wanted_; }
  const std::string& formats() const { return formats_; }
  const std::string& caseSensitive() const { return caseSensitive_; }

  // The Field of `name` with its role set, or null when the data model
  // does not describe the field.
  const std::string* field(const std::string& name, bool target) const {
    const auto found = copies_.find(name);
    if (found == copies_.end()) return nullptr;
    return target ? &found->second.asTarget : &found->second.asInput;
  }

 private:
  struct Copy {
    std::string asTarget, asInput;
  };
  std::string xml_;
  std::set<std::string> wanted_;
  std::string formats_;
  std::string caseSensitive_ = "true";
  std::unordered_map<std::string, Copy> copies_;
};

// The thread's copies of `xml`, parsed again only for another data model
// or a field no group of the thread asked for before.
const DataModelCopies& copiesOf(const std::string& xml, std::set<std::string> names) {
  thread_local std::unique_ptr<DataModelCopies> copies;
  if (!copies || !copies->holds(xml, names)) {
    if (copies && copies->holds(xml, {})) names.insert(copies->wanted().begin(), copies->wanted().end());
    copies.reset();
    copies = std::make_unique<DataModelCopies>(xml, std::move(names));
  }
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
  std::set<std::size_t> used{design.targetField};
  for (const InputCoding& coding : design.inputs) used.insert(coding.field);
  std::set<std::string> names;
  for (std::size_t index : used) names.insert(defs[index].name);
  const DataModelCopies& input = copiesOf(request.dataModelXml, std::move(names));
  xml.open("DataModel").attribute("version", "1.0");
  xml.raw(input.formats());
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

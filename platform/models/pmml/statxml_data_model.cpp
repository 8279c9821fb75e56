// The DataModel element of a group's StatXML: copies of the input data
// model's Field elements of the target and inputs, each with its role.
//
// The run's data model is parsed once, with those Field elements printed
// for both roles (splitmodels::DataModel); every group pastes the text.
#include <set>
#include <string>
#include <string_view>

#include "group_writers.h"
#include "splitmodels/data_model.h"
#include "value_text.h"
#include "xml_out.h"

namespace splitmodels::detail {

namespace {

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
  static const std::string kNoFormats;
  static const std::string kCaseSensitive = "true";
  const DataModel* input = request.dataModel.get();
  xml.open("DataModel").attribute("version", "1.0");
  xml.raw(input ? input->formats() : kNoFormats);
  xml.open("Fields").attribute("caseSensitive", input ? input->caseSensitive() : kCaseSensitive);
  xml.attribute("count", std::to_string(used.size()));
  std::string scratch;
  for (std::size_t index : used) {
    const bool target = index == design.targetField;
    const std::string_view copy = input ? input->fieldCopy(defs[index].name, target, scratch) : std::string_view();
    if (!copy.empty())
      xml.raw(copy);
    else
      writeFieldFromDef(xml, defs[index], target);
  }
  xml.close().close();
}

}  // namespace splitmodels::detail

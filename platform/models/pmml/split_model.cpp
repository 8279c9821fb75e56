#include "splitmodels/split_model.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include "pmml_names.h"
#include "segment_text.h"
#include "value_text.h"
#include "xml_out.h"
#include "xml_text.h"

namespace splitmodels {

namespace {

using detail::setAttribute;

const FieldDef& fieldNamed(const SplitModelInput& input, const std::string& name) {
  for (const FieldDef& field : input.fields)
    if (field.name == name) return field;
  throw std::invalid_argument("no field definition for " + name);
}

// The split value as the predicate writes it: numbers re-rendered as the
// shortest text that reads back to the same value (the task document pads
// reals with sixteen decimals).
std::string predicateValue(const SplitValue& value, int storage) {
  if (storage == StorageString || storage == StorageNone) return value.value;
  if (storage == StorageInteger) {
    if (auto integer = detail::parseInteger(value.value)) return detail::formatInteger(*integer);
  }
  const std::optional<double> number = detail::parseNumber(value.value);
  if (!number) throw std::invalid_argument("split value of " + value.field + " is not a number: " + value.value);
  if (storage == StorageInteger && std::trunc(*number) == *number && std::fabs(*number) < 9.2e18)
    return detail::formatInteger(static_cast<std::int64_t>(*number));
  return detail::formatShortest(*number);
}

// Sets a value attribute. A text XML cannot hold (control characters,
// invalid UTF-8) is percent-encoded and marked by a "value-encoding"
// extension, which the scorer decodes, so the document stays well-formed
// and the value reads back byte for byte. writeValue does the same for the
// element being written, whose other attributes are written.
void setValue(pugi::xml_node node, const std::string& text) {
  if (detail::xmlCanHold(text)) {
    setAttribute(node, "value", text);
    return;
  }
  setAttribute(node, "value", detail::percentEncode(text));
  pugi::xml_node extension = node.prepend_child("Extension");
  setAttribute(extension, "name", "value-encoding");
  setAttribute(extension, "value", "percent");
}

void writeValue(detail::XmlText& xml, const std::string& text) {
  if (!detail::writeValueAttribute(xml, text)) detail::writeValueEncoding(xml);
}

void writePredicate(detail::XmlText& xml, const SplitModelInput& input, const SplitValue& value) {
  xml.open("SimplePredicate").attribute("field", value.field);
  if (value.missing) {
    xml.attribute("operator", "isMissing").close();
    return;
  }
  const int storage = value.storage != StorageNone ? value.storage : fieldNamed(input, value.field).storage;
  xml.attribute("operator", "equal");
  writeValue(xml, predicateValue(value, storage));
  xml.close();
}

// The test of one key: its one value's test, or the conjunction of them.
void writeKeyPredicate(detail::XmlText& xml, const SplitModelInput& input, const std::vector<SplitValue>& key) {
  if (key.empty()) {
    xml.open("True").close();
    return;
  }
  if (key.size() == 1) {
    writePredicate(xml, input, key.front());
    return;
  }
  xml.open("CompoundPredicate").attribute("booleanOperator", "and");
  for (const SplitValue& value : key) writePredicate(xml, input, value);
  xml.close();
}

// A group with several keys (reals within the grouping tolerance, texts
// that agree up to a zero byte) selects a record holding any of them.
void writeSegmentPredicate(detail::XmlText& xml, const SplitModelInput& input, const SplitSegment& group) {
  if (group.keys.empty()) {
    writeKeyPredicate(xml, input, group.values);
    return;
  }
  if (group.keys.size() == 1) {
    writeKeyPredicate(xml, input, group.keys.front());
    return;
  }
  xml.open("CompoundPredicate").attribute("booleanOperator", "or");
  for (const std::vector<SplitValue>& key : group.keys) writeKeyPredicate(xml, input, key);
  xml.close();
}

// Lists every category the group's fit has seen in each table of the
// model (coefficient 0 where the table has none: the reference category)
// and marks the input returnInvalid, so that a category the group never saw
// gives no prediction rather than the reference category's.
void markKnownLevels(pugi::xml_node model, const SplitModelInput& input, const SplitSegment& group) {
  for (const auto& [name, held] : group.levels) {
    const FieldDef& field = fieldNamed(input, name);
    pugi::xml_node schema = model.child("MiningSchema");
    for (pugi::xml_node mining = schema.child("MiningField"); mining; mining = mining.next_sibling("MiningField"))
      if (name == mining.attribute("name").value()) setAttribute(mining, "invalidValueTreatment", "returnInvalid");
    for (pugi::xml_node table = model.child("RegressionTable"); table; table = table.next_sibling("RegressionTable")) {
      std::set<std::string> listed;
      for (pugi::xml_node predictor = table.child("CategoricalPredictor"); predictor;
           predictor = predictor.next_sibling("CategoricalPredictor"))
        if (name == predictor.attribute("name").value()) listed.insert(predictor.attribute("value").value());
      for (const std::string& raw : held) {
        const std::string category = detail::pmmlCategory(field, raw);
        if (!listed.insert(category).second) continue;
        pugi::xml_node predictor = table.append_child("CategoricalPredictor");
        setAttribute(predictor, "name", name);
        setValue(predictor, category);
        setAttribute(predictor, "coefficient", "0");
      }
    }
  }
}

// A GeneralRegressionModel's version of markKnownLevels: each held category
// without a cell of its own gets one, on a parameter of its own with beta 0.
void markKnownGeneralLevels(pugi::xml_node model, const SplitModelInput& input, const SplitSegment& group) {
  pugi::xml_node parameters = model.child("ParameterList");
  pugi::xml_node cells = model.child("PPMatrix");
  pugi::xml_node betas = model.child("ParamMatrix");
  const std::string category = betas.child("PCell").attribute("targetCategory").value();
  int added = 0;
  for (const auto& [name, held] : group.levels) {
    const FieldDef& field = fieldNamed(input, name);
    pugi::xml_node schema = model.child("MiningSchema");
    for (pugi::xml_node mining = schema.child("MiningField"); mining; mining = mining.next_sibling("MiningField"))
      if (name == mining.attribute("name").value()) setAttribute(mining, "invalidValueTreatment", "returnInvalid");
    std::set<std::string> listed;
    for (pugi::xml_node cell = cells.child("PPCell"); cell; cell = cell.next_sibling("PPCell"))
      if (name == cell.attribute("predictorName").value()) listed.insert(cell.attribute("value").value());
    for (const std::string& raw : held) {
      const std::string value = detail::pmmlCategory(field, raw);
      if (!listed.insert(value).second) continue;
      const std::string parameter = "level" + std::to_string(++added);
      pugi::xml_node node = parameters.append_child("Parameter");
      setAttribute(node, "name", parameter);
      setAttribute(node, "label", name + value);
      pugi::xml_node cell = cells.append_child("PPCell");
      setValue(cell, value);
      setAttribute(cell, "predictorName", name);
      setAttribute(cell, "parameterName", parameter);
      pugi::xml_node beta = betas.append_child("PCell");
      if (!category.empty()) setAttribute(beta, "targetCategory", category);
      setAttribute(beta, "parameterName", parameter);
      setAttribute(beta, "beta", "0");
      setAttribute(beta, "df", "1");
    }
  }
}

// The group's model as its segment holds it, through a parsed copy:
// keeping only the mining fields the enclosing model declares, and listing
// the held levels (markKnownLevels). For the documents the text copy
// (segment_text.h) does not take.
std::string copyGroupModel(const SplitModelInput& input, const SplitSegment& group,
                           const std::set<std::string>& schemaFields, const std::string& segmentId) {
  pugi::xml_document doc;
  if (!doc.load_buffer(group.groupPmml.data(), group.groupPmml.size()))
    throw std::invalid_argument("PMML of segment " + segmentId + " does not parse");
  const char* element = "RegressionModel";
  pugi::xml_node model = detail::childByLocalName(doc.document_element(), element);
  if (!model) model = detail::childByLocalName(doc.document_element(), element = "GeneralRegressionModel");
  if (!model) throw std::invalid_argument("PMML of segment " + segmentId + " holds no RegressionModel");
  pugi::xml_node copy = model;
  copy.set_name(element);
  pugi::xml_node schema = copy.child("MiningSchema");
  for (pugi::xml_node field = schema.child("MiningField"); field;) {
    pugi::xml_node next = field.next_sibling("MiningField");
    if (!schemaFields.count(field.attribute("name").value())) schema.remove_child(field);
    field = next;
  }
  if (copy.child("PPMatrix"))
    markKnownGeneralLevels(copy, input, group);
  else
    markKnownLevels(copy, input, group);
  std::ostringstream out;
  copy.print(out, "  ", pugi::format_default, pugi::encoding_utf8, detail::kSegmentModelDepth);
  return out.str();
}

void writeDictionary(pugi::xml_node root, const SplitModelInput& input, bool classification) {
  pugi::xml_node dictionary = root.append_child("DataDictionary");
  std::set<std::string> written;
  for (const FieldDef& field : input.fields) {
    if (!written.insert(field.name).second) continue;
    pugi::xml_node node = dictionary.append_child("DataField");
    const bool isTarget = field.name == input.request.target;
    std::string optype = detail::pmmlOptype(field);
    if (isTarget) optype = classification ? (optype == "ordinal" ? "ordinal" : "categorical") : "continuous";
    setAttribute(node, "name", field.name);
    setAttribute(node, "optype", optype);
    setAttribute(node, "dataType", detail::pmmlDataType(field.storage));
    // The segments test the split fields' values; a split field lists no
    // categories, so a key of a group that failed reads as unmatched.
    const bool split = std::find(input.splitFields.begin(), input.splitFields.end(), field.name) != input.splitFields.end();
    if (optype == "continuous" || split) continue;
    for (const std::string& category : field.categories)
      setValue(node.append_child("Value"), detail::pmmlCategory(field, category));
  }
  setAttribute(dictionary, "numberOfFields", std::to_string(written.size()));
}

std::set<std::string> writeMiningSchema(pugi::xml_node model, const SplitModelInput& input) {
  pugi::xml_node schema = model.append_child("MiningSchema");
  std::set<std::string> names;
  // Every input is checked against the fields: by a set, since a wide file
  // has as many inputs as fields.
  std::unordered_set<std::string_view> defined;
  for (const FieldDef& field : input.fields) defined.insert(field.name);
  const auto add = [&](const std::string& name, const char* usage) {
    if (!defined.count(name)) throw std::invalid_argument("no field definition for " + name);
    if (!names.insert(name).second) return;
    pugi::xml_node field = schema.append_child("MiningField");
    setAttribute(field, "name", name);
    setAttribute(field, "usageType", usage);
  };
  for (const std::string& name : input.splitFields) add(name, "active");
  for (const std::string& name : input.request.inputs) add(name, "active");
  if (input.request.kind == ModelKind::Glm && !input.request.offset.empty()) add(input.request.offset, "active");
  add(input.request.target, "target");
  return names;
}

// Whether the segments classify: logistic models, and binomial glms of a
// categorical target.
bool classifies(const SplitModelInput& input) {
  const ModelSpec& request = input.request;
  if (request.kind == ModelKind::Logistic) return true;
  if (request.kind != ModelKind::Glm || (request.family != "binomial" && request.family != "quasibinomial")) return false;
  const FieldDef& target = fieldNamed(input, request.target);
  return target.storage == StorageString || !detail::isContinuous(target);
}

// Starts the document: everything up to the Segmentation element, which is
// returned empty. Throws as buildSplitModelPmml does for the fields.
pugi::xml_node startSplitModel(pugi::xml_document& doc, const SplitModelInput& input,
                               std::set<std::string>* schemaFields) {
  const bool classification = classifies(input);
  pugi::xml_node root = detail::startDocument(doc, "PMML");
  setAttribute(root, "xmlns", detail::kPmmlNamespace);
  setAttribute(root, "version", detail::kPmmlVersion);
  pugi::xml_node header = root.append_child("Header");
  const bool glm = input.request.kind == ModelKind::Glm;
  std::string description = glm ? "Generalized linear model (" + input.request.family + " family) of " + input.request.target
                                 : std::string(classification ? "Logistic" : "Linear") + " regression of " + input.request.target;
  description += " per split group of";
  for (const std::string& name : input.splitFields) description += " " + name;
  setAttribute(header, "description", description);
  pugi::xml_node application = header.append_child("Application");
  setAttribute(application, "name", detail::kApplicationName);
  setAttribute(application, "version", detail::kApplicationVersion);
  writeDictionary(root, input, classification);

  pugi::xml_node model = root.append_child("MiningModel");
  setAttribute(model, "functionName", classification ? "classification" : "regression");
  *schemaFields = writeMiningSchema(model, input);
  pugi::xml_node segmentation = model.append_child("Segmentation");
  setAttribute(segmentation, "multipleModelMethod", "selectFirst");
  return segmentation;
}

// The Segment of one group, printed at its depth in the document (PMML,
// MiningModel, Segmentation, Segment); position is its 1-based place, its
// id when it has none. The group's model is copied as text where that
// prints the same as a parsed copy.
std::string segmentText(const SplitModelInput& input, const SplitSegment& group,
                        const std::set<std::string>& schemaFields, std::size_t position) {
  const std::string id = group.id.empty() ? std::to_string(position) : group.id;
  std::string text;
  detail::XmlText xml(text, detail::kSegmentModelDepth - 1);
  xml.open("Segment").attribute("id", id);
  writeSegmentPredicate(xml, input, group);
  if (std::optional<std::string> model = detail::segmentModelText(group.groupPmml, input, group, schemaFields))
    xml.raw(*model);
  else
    xml.raw(copyGroupModel(input, group, schemaFields, id));
  xml.close();
  return text;
}

}  // namespace

std::string buildSplitModelPmml(const SplitModelInput& input) {
  if (input.segments.empty()) throw std::invalid_argument("no segment: no group produced a model");
  std::ostringstream out;
  SplitModelWriter writer(SplitModelInput{input.fields, input.splitFields, input.request, {}}, out);
  for (const SplitSegment& segment : input.segments) writer.add(segment);
  writer.finish();
  return out.str();
}

SplitModelWriter::SplitModelWriter(SplitModelInput head, std::ostream& out) : head_(std::move(head)), out_(out) {
  head_.segments.clear();
}

// The document's start and end come from the whole document with one
// placeholder element in the Segmentation: what precedes the
// placeholder's line is the start, what follows it the end. Each segment is
// then printed at the depth it has in the whole document, so the pieces
// make the text the whole document would print as one.
void SplitModelWriter::start() {
  pugi::xml_document doc;
  pugi::xml_node segmentation = startSplitModel(doc, head_, &schemaFields_);
  segmentation.append_child("SegmentsGoHere");
  const std::string text = detail::serialize(doc);
  const std::size_t placeholder = text.find("<SegmentsGoHere");
  const std::size_t lineStart = text.rfind('\n', placeholder) + 1;
  const std::size_t lineEnd = text.find('\n', placeholder) + 1;
  out_.write(text.data(), static_cast<std::streamsize>(lineStart));
  tail_ = text.substr(lineEnd);
  started_ = true;
}

void SplitModelWriter::add(const SplitSegment& segment) {
  if (!started_) start();
  out_ << segmentText(head_, segment, schemaFields_, ++segments_);
}

void SplitModelWriter::finish() {
  if (segments_ == 0) throw std::invalid_argument("no segment: no group produced a model");
  out_ << tail_;
  out_.flush();
}

}  // namespace splitmodels

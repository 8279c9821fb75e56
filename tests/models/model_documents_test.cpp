// Group documents and the assembled split model: validity, StatXML shape, segment predicates.
#include <pugixml.hpp>

#include <sstream>
#include <stdexcept>

#include "model_test_support.h"
#include "segment_text.h"

namespace {

using namespace modeltest;

const std::string kDataModel = testFile("sales_data_model.xml");

// With `printedCopies` false, the data model holds no printed Field copies
// and prints each one when a group asks for it.
ModelSpec salesRequest(ModelKind kind, bool printedCopies = true) {
  ModelSpec request = kind == ModelKind::Linear ? modelRequest(kind, "amount", {"day", "channel"})
                                                : modelRequest(kind, "big", {"amount", "channel"});
  if (kind == ModelKind::Glm) request.family = "binomial";
  request.modelId = "north";
  std::vector<std::string> copied{request.target, request.inputs[0], request.inputs[1]};
  if (!printedCopies) copied.clear();
  request.dataModel = std::make_shared<const splitmodels::DataModel>(kDataModel, copied);
  return request;
}

splitmodels::GroupModel salesModel(ModelKind kind, bool printedCopies = true) {
  GroupData data{splitmodels::parseDataModelFields(kDataModel), {}};
  for (int i = 0; i < 40; ++i) {
    const bool odd = i % 2 == 1;
    const double amount = 10.0 + 0.5 * i + (odd ? 3.0 : 0.0) + (i % 7) * 0.25;
    data.rows.push_back({text("north"), number(18000 + i), text(odd ? "a&b <c>" : "store"), number(amount),
                         text((i * 37) % 11 < 5 + (odd ? 2 : 0) ? "y" : "n")});
  }
  return splitmodels::buildGroupModel(data, salesRequest(kind, printedCopies));
}

splitmodels::SplitModelInput splitInput() {
  splitmodels::SplitModelInput input;
  input.fields = splitmodels::parseDataModelFields(kDataModel);
  input.splitFields = {"region"};
  input.request = salesRequest(ModelKind::Linear);
  return input;
}

// An element as one line: name, attribute values, children in brackets.
std::string outline(const pugi::xml_node node) {
  std::string line = node.name();
  for (const pugi::xml_attribute attribute : node.attributes()) line += std::string(" ") + attribute.value();
  const char* separator = " [";
  for (const pugi::xml_node child : node.children()) line += separator + outline(child), separator = ", ";
  return node.first_child() ? line + "]" : line;
}

// Each storage and measure of the data model as the PMML types its field.
TEST(ModelDocuments, GroupPmmlTypesFieldsByTheirDataModelEntries) {
  GroupData data{splitmodels::parseDataModelFields(testFile("typed_data_model.xml")), {}};
  for (int i = 0; i < 12; ++i)
    data.rows.push_back({number(i % 5 + 0.1 * i), number(i * i % 7), number(i % 3), number((i * 5) % 11),
                         number(1 + i % 2), text(i % 4 < 2 ? "lo" : "hi")});
  const auto model = splitmodels::buildGroupModel(data, modelRequest(ModelKind::Linear, "y", {"d", "t", "s", "n", "o"}));
  ASSERT_TRUE(model.ok) << model.reason;
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(model.pmml.c_str()));
  EXPECT_EQ(outline(doc.document_element().child("DataDictionary")),
            "DataDictionary 6 [DataField y continuous double, DataField d continuous dateDaysSince[1970], "
            "DataField t continuous timeSeconds, DataField s continuous dateTimeSecondsSince[1970], "
            "DataField n categorical integer [Value 1, Value 2], DataField o ordinal string [Value lo, Value hi]]");
  EXPECT_VALID_PMML(model.pmml);
}

TEST(ModelDocuments, StatXmlCarriesSettingsFieldsAndSummary) {
  const auto model = salesModel(ModelKind::Linear);
  ASSERT_TRUE(model.ok) << model.reason;
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(model.statXML.c_str()));
  const pugi::xml_node root = doc.document_element();
  EXPECT_STREQ(root.name(), "StatXML");
  EXPECT_EQ(outline(root.child("BuildSettings")), "BuildSettings linear amount [Input day, Input channel]");
  // The used fields' data-model entries copied whole, in data-model order, with their role.
  EXPECT_EQ(outline(root.child("DataModel")),
            "DataModel 1.0 [FieldFormats, Fields true 3 [Field day date continuous Day of sale input, "
            "Field channel string nominal input [Value store, Value a&b <c>], Field amount real continuous target]]");
  EXPECT_STREQ(root.child("PMMLModel").attribute("modelID").value(), "north");
  const pugi::xml_node summary = root.child("PMMLModel").child("PredictiveSummary");
  EXPECT_STREQ(summary.attribute("recordCount").value(), "40");
  EXPECT_EQ(std::stod(summary.attribute("rSquared").value()), model.rSquared);  // written to round-trip
  EXPECT_EQ(std::stod(summary.attribute("sigma").value()), model.sigma);
  EXPECT_FALSE(summary.attribute("auc"));
  // The namespace of the combined document the collect component writes.
  EXPECT_STREQ(root.attribute("xmlns").value(), "http://www.morvi.org/statxml/ext");
  const pugi::xml_node intercept = root.child("PMMLModel").child("ParameterEstimates").child("Parameter");
  EXPECT_STREQ(intercept.attribute("name").value(), "(Intercept)");
  EXPECT_EQ(std::stod(intercept.attribute("stdError").value()), model.terms[0].stdError);
  EXPECT_EQ(salesModel(ModelKind::Linear, false).statXML, model.statXML);
}

// A glm's settings reach its fit and its StatXML names each of them. R stops
// glm(am ~ wt, binomial, mtcars, weights = gear, offset = log(disp),
//     control = glm.control(epsilon = 1e-2, maxit = 30))
// after 4 iterations (6 at the default tolerance).
TEST(ModelDocuments, GlmSettingsReachTheFitAndTheStatXml) {
  ModelSpec request = modelRequest(ModelKind::Glm, "am", {"wt"});
  request.family = "binomial";
  request.weights = "gear";
  request.offset = "logdisp";
  request.epsilon = 1e-2;
  request.maxIterations = 30;
  const auto model = splitmodels::buildGroupModel(mtcars(), request);
  ASSERT_TRUE(model.ok) << model.reason;
  EXPECT_EQ(model.iterations, 4);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(model.statXML.c_str()));
  EXPECT_EQ(outline(doc.document_element().child("BuildSettings")),
            "BuildSettings glm am binomial logit gear logdisp 0.01 30 [Input wt]");
  ASSERT_TRUE(doc.load_string(model.pmml.c_str()));  // the offset counts among the PMML's fields
  const pugi::xml_node dictionary = doc.document_element().child("DataDictionary");
  EXPECT_EQ(dictionary.attribute("numberOfFields").as_ullong(), dictionary.select_nodes("DataField").size());
}

TEST(ModelDocuments, SplitModelValidatesAndRewritesNumericValues) {
  const auto model = salesModel(ModelKind::Linear);
  ASSERT_TRUE(model.ok) << model.reason;
  splitmodels::SplitModelInput input = splitInput();
  input.fields.push_back(continuous("rate"));
  input.fields.push_back(nominal("year", {}, splitmodels::StorageInteger));
  input.splitFields = {"region", "rate", "year"};
  const std::string pmml = withSplitInfo(model.pmml);
  input.segments = {
      {{{"region", "north", false, 3}, {"rate", "2.5000000000000000", false, 2}, {"year", "-5", false, 1}}, pmml, "", {}, {}},
      {{{"region", "", true, 3}, {"rate", "0.1000000000000000", false, 2}, {"year", "2020", false, 1}}, pmml, "x", {}, {}},
  };
  const std::string split = splitmodels::buildSplitModelPmml(input);
  EXPECT_VALID_PMML(split);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(split.c_str()));
  const pugi::xml_node segmentation = doc.document_element().child("MiningModel").child("Segmentation");
  EXPECT_STREQ(segmentation.attribute("multipleModelMethod").value(), "selectFirst");
  std::vector<std::string> segments;
  for (const pugi::xml_node segment : segmentation.children("Segment"))
    segments.push_back(segment.attribute("id").value() + (": " + outline(segment.first_child())));
  EXPECT_EQ(segments, (std::vector<std::string>{
                          "1: CompoundPredicate and [SimplePredicate region equal north, SimplePredicate rate equal 2.5, "
                          "SimplePredicate year equal -5]",
                          "x: CompoundPredicate and [SimplePredicate region isMissing, SimplePredicate rate equal "
                          "0.1, SimplePredicate year equal 2020]"}));
}

// Each group's model is copied into its segment as text: byte for byte what
// a parsed copy prints (a document with a comment is copied that way), with
// held levels added to every table, awkward values and a dropped mining field.
TEST(ModelDocuments, SplitModelCopiesGroupModelsAsTheirParsedCopies) {
  using Value = splitmodels::SplitValue;
  for (const ModelKind kind : {ModelKind::Linear, ModelKind::Logistic, ModelKind::Glm}) {
    const auto model = salesModel(kind);
    ASSERT_TRUE(model.ok) << model.reason;
    splitmodels::SplitModelInput input = splitInput();
    input.request = salesRequest(kind);
    const std::string& pmml = model.pmml;
    std::string unmarked = pmml;  // a model whose inputs the split model marks
    for (std::size_t at; (at = unmarked.find(" invalidValueTreatment=\"returnInvalid\"")) != std::string::npos;)
      unmarked.erase(at, 38);
    std::string odd = pmml;  // one model line as long as before, not as the printer writes it
    odd.replace(odd.find(" />\n", odd.find("<MiningField ")), 4, "/> \n");
    input.segments = {
        {{{"region", "north", false, 3}}, pmml, "", {}, {}}, {{{"region", "mid", false, 3}}, odd, "", {}, {}},
        {{{"region", "", true, 3}}, pmml, "model-0002", {}, {}},
        {{{"region", "so\x01uth", false, 3}}, pmml, "", {}, {{"channel", {"store", "a&b <c>", "web", "\x02"}}}},
        {{{"region", "east", false, 3}}, pmml, "e", {{Value{"region", "east", false, 3}}, {Value{"region", std::string("east\0x", 6), false, 3}}}, {}},
        {{{"region", "west", false, 3}}, unmarked, "", {}, {{"channel", {"store"}}}},
    };
    splitmodels::SplitModelInput parsed = input;
    for (splitmodels::SplitSegment& segment : parsed.segments)
      segment.groupPmml.insert(segment.groupPmml.find('\n') + 1, "<!-- not as the writers print it -->\n");
    const std::string split = splitmodels::buildSplitModelPmml(input);
    EXPECT_EQ(split, splitmodels::buildSplitModelPmml(parsed));
    // The text copy takes every document as the writers print it, and only those.
    for (const splitmodels::SplitSegment& segment : input.segments)
      EXPECT_EQ(splitmodels::detail::segmentModelText(segment.groupPmml, input, segment, {"region", "day", "channel", "amount", "big"})
                    .has_value(), segment.groupPmml != odd) << segment.values[0].value;
    if (kind == ModelKind::Glm) {  // a general regression model lists no CategoricalPredictor
      EXPECT_NE(pmml.find("targetReferenceCategory=\"n\""), std::string::npos);  // the class that is not the event
      continue;
    }
    EXPECT_NE(split.find("value=\"web\" coefficient=\"0\""), std::string::npos);
    if (kind == ModelKind::Logistic) continue;
    input.request.inputs = {"channel"};  // day leaves the split model's mining schema
    parsed.request.inputs = {"channel"};
    EXPECT_EQ(splitmodels::buildSplitModelPmml(input), splitmodels::buildSplitModelPmml(parsed));
  }
  const auto model = salesModel(ModelKind::Linear);
  splitmodels::SplitModelInput input = splitInput();
  input.segments = {{{{"region", "north", false, 3}}, model.pmml, "", {}, {}}};
  EXPECT_VALID_PMML(splitmodels::buildSplitModelPmml(input));

  // Without a segment nothing is written and finishing fails, as building does.
  std::ostringstream empty;
  splitmodels::SplitModelWriter writer(input, empty);
  EXPECT_THROW(writer.finish(), std::invalid_argument);
  EXPECT_EQ(empty.str(), "");
}

}  // namespace

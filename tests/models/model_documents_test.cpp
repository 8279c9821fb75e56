// The documents a group build writes and the assembled split model: schema
// validity (also after the collecting side's build-task insertion), the
// StatXML shape, and the predicate values of the segments.
#include <pugixml.hpp>

#include "model_test_support.h"

namespace {

using namespace modeltest;

const char* const kDataModel = R"(<?xml version="1.0"?>
<DataModel version="1.0">
  <FieldFormats/>
  <Fields caseSensitive="true" count="5">
    <Field name="region" storage="string" measure="nominal" role="split"><Value value="north"/><Value value="south"/></Field>
    <Field name="day" storage="date" measure="continuous" displayLabel="Day of sale"/>
    <Field name="channel" storage="string" measure="nominal"><Value value="store"/><Value value="a&amp;b &lt;c&gt;"/></Field>
    <Field name="amount" storage="real" measure="continuous"/>
    <Field name="big" storage="string" measure="flag"><Value value="n"/><Value value="y"/></Field>
  </Fields>
</DataModel>)";

ModelSpec salesSpec(ModelKind kind) {
  ModelSpec request = kind == ModelKind::Linear ? spec(kind, "amount", {"day", "channel"})
                                                : spec(kind, "big", {"amount", "channel"});
  request.modelId = "north";
  request.dataModelXml = kDataModel;
  return request;
}

splitmodels::GroupModel salesModel(ModelKind kind) {
  GroupData data{splitmodels::parseDataModelFields(kDataModel), {}};
  for (int i = 0; i < 40; ++i) {
    const bool odd = i % 2 == 1;
    const double amount = 10.0 + 0.5 * i + (odd ? 3.0 : 0.0) + (i % 7) * 0.25;
    data.rows.push_back({text("north"), number(18000 + i), text(odd ? "a&b <c>" : "store"), number(amount),
                         text((i * 37) % 11 < 5 + (odd ? 2 : 0) ? "y" : "n")});
  }
  return splitmodels::buildGroupModel(data, salesSpec(kind));
}

splitmodels::SplitModelInput splitInput(ModelKind kind) {
  splitmodels::SplitModelInput input;
  input.fields = splitmodels::parseDataModelFields(kDataModel);
  input.splitFields = {"region"};
  input.request = salesSpec(kind);
  return input;
}

TEST(ModelDocuments, GroupAndOneFieldSplitModelsValidate) {
  std::vector<std::string> documents;
  for (const ModelKind kind : {ModelKind::Linear, ModelKind::Logistic}) {
    const auto model = salesModel(kind);
    ASSERT_TRUE(model.ok) << model.reason;
    splitmodels::SplitModelInput input = splitInput(kind);
    input.segments = {{{{"region", "north", false, 3}}, withSplitInfo(model.pmml), ""}};
    documents.insert(documents.end(), {model.pmml, input.segments[0].groupPmml, splitmodels::buildSplitModelPmml(input)});
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(documents.back().c_str()));
    const pugi::xml_node mining = doc.document_element().child("MiningModel");
    EXPECT_STREQ(mining.attribute("functionName").value(), kind == ModelKind::Linear ? "regression" : "classification");
    EXPECT_TRUE(mining.child("Segmentation").child("Segment").child("SimplePredicate"));
  }
  for (const std::string& pmml : documents) EXPECT_VALID_PMML(pmml);
}

TEST(ModelDocuments, StatXmlCarriesSettingsFieldsAndSummary) {
  const auto model = salesModel(ModelKind::Linear);
  ASSERT_TRUE(model.ok) << model.reason;
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(model.statXML.c_str()));
  const pugi::xml_node root = doc.document_element();
  EXPECT_STREQ(root.name(), "StatXML");
  EXPECT_STREQ(root.child("BuildSettings").attribute("target").value(), "amount");
  EXPECT_STREQ(root.child("BuildSettings").last_child().attribute("name").value(), "channel");
  const pugi::xml_node fields = root.child("DataModel").child("Fields");
  EXPECT_STREQ(fields.attribute("count").value(), "3");
  const pugi::xml_node day = fields.first_child();  // data-model order, copied whole
  EXPECT_STREQ(day.attribute("role").value(), "input");
  EXPECT_STREQ(day.attribute("displayLabel").value(), "Day of sale");
  EXPECT_STREQ(fields.find_child_by_attribute("Field", "name", "amount").attribute("role").value(), "target");
  EXPECT_FALSE(fields.find_child_by_attribute("Field", "name", "region"));
  const pugi::xml_node summary = root.child("PMMLModel").child("PredictiveSummary");
  EXPECT_STREQ(root.child("PMMLModel").attribute("modelID").value(), "north");
  EXPECT_STREQ(summary.attribute("recordCount").value(), "40");
  EXPECT_EQ(std::stod(summary.attribute("rSquared").value()), model.rSquared);  // written to round-trip
  EXPECT_TRUE(summary.attribute("rmse"));
  EXPECT_FALSE(summary.attribute("auc"));
}

TEST(ModelDocuments, SplitModelValidatesAndRewritesNumericValues) {
  const auto model = salesModel(ModelKind::Linear);
  ASSERT_TRUE(model.ok) << model.reason;
  splitmodels::SplitModelInput input = splitInput(ModelKind::Linear);
  input.fields.push_back(continuous("rate"));
  input.fields.push_back(nominal("year", {}, splitmodels::StorageInteger));
  input.splitFields = {"region", "rate", "year"};
  const std::string pmml = withSplitInfo(model.pmml);
  input.segments = {
      {{{"region", "north", false, 3}, {"rate", "2.5000000000000000", false, 2}, {"year", "-5", false, 1}}, pmml, ""},
      {{{"region", "", true, 3}, {"rate", "0.1000000000000000", false, 2}, {"year", "2020", false, 1}}, pmml, "x"},
  };
  const std::string split = splitmodels::buildSplitModelPmml(input);
  EXPECT_VALID_PMML(split);

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(split.c_str()));
  const pugi::xml_node segmentation = doc.document_element().child("MiningModel").child("Segmentation");
  EXPECT_STREQ(segmentation.attribute("multipleModelMethod").value(), "selectFirst");
  const pugi::xml_node first = segmentation.child("Segment");
  EXPECT_STREQ(first.attribute("id").value(), "1");
  EXPECT_STREQ(first.child("CompoundPredicate").attribute("booleanOperator").value(), "and");
  std::vector<std::string> values;
  for (const pugi::xml_node p : first.child("CompoundPredicate").children("SimplePredicate"))
    values.push_back(p.attribute("value").value());
  EXPECT_EQ(values, (std::vector<std::string>{"north", "2.5", "-5"}));
  const pugi::xml_node second = first.next_sibling("Segment");
  EXPECT_STREQ(second.attribute("id").value(), "x");
  const pugi::xml_node missingRegion = second.child("CompoundPredicate").child("SimplePredicate");
  EXPECT_STREQ(missingRegion.attribute("operator").value(), "isMissing");
  EXPECT_FALSE(missingRegion.attribute("value"));
  EXPECT_STREQ(missingRegion.next_sibling().attribute("value").value(), "0.10000000000000001");
}

TEST(ModelDocuments, SplitModelInputProblemsAreReported) {
  splitmodels::SplitModelInput input = splitInput(ModelKind::Linear);
  EXPECT_THROW(splitmodels::buildSplitModelPmml(input), std::invalid_argument);  // no segment
  input.segments = {{{{"region", "north", false, 3}}, "<PMML><Header/></PMML>", ""}};
  EXPECT_THROW(splitmodels::buildSplitModelPmml(input), std::invalid_argument);  // no RegressionModel
  input.splitFields = {"nowhere"};
  EXPECT_THROW(splitmodels::buildSplitModelPmml(input), std::invalid_argument);  // no field definition
}

}  // namespace

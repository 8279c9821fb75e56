// The split-group annotation of each group's StatXML.
#include "collect_support.h"

using namespace collecttest;
using CfCppHelperV1::XMLDocument;

namespace {

class StatXmlSplitGroup : public PeerFixture {
protected:
    void SetUp() override {
        PeerFixture::SetUp();
        Start();
    }
    void ReplaceInputDataModel(const std::string& text) {
        XMLDocument& model = Access::inputDataModel(peer());
        model.dispose();
        model = helper.createFromContents(text);
    }
    const std::vector<SplitFieldEntry> entries{Entry("region", 3, 3, "north"),
                                               Entry("channel", 3, 2, "", "true")};
};

const char* const kSplitGroup =
    R"(<SplitGroup><SplitField name="region" value="north" isNull="false"/>)"
    R"(<SplitField name="channel" value="" isNull="true"/></SplitGroup>)";

TEST_F(StatXmlSplitGroup, WorkerWithoutDataModelGetsOneHoldingOnlyTheSplitFields) {
    XMLDocument worker = Parse(R"(<StatXML><DescriptiveModel/><PMMLModel modelID="m"/></StatXML>)");
    ASSERT_EQ(peer().AddStatXMLSplitGroup(&worker, entries), 0u);
    EXPECT_TRUE(SameTree(worker, std::string(R"(<StatXML><DescriptiveModel/>
      <DataModel>
        <FieldFormats><Format field="amount" decimals="2"/></FieldFormats>
        <FieldGroups><FieldGroup groupType="splitGroup" name="">
          <FieldName name="region"/><FieldName name="channel"/></FieldGroup></FieldGroups>
        <Fields caseSensitive="true" count="2">
          <Field name="region" storage="string" measure="nominal" role="split" maxStringLength="5" displayLabel="Region">
            <Value value="north"/><Value value="south"/></Field>
          <Field name="channel" storage="string" measure="flag" maxStringLength="3" role="split"/>
        </Fields>
      </DataModel>)") + kSplitGroup + R"(<PMMLModel modelID="m"/></StatXML>)"));
}

TEST_F(StatXmlSplitGroup, WorkerDataModelIsBroughtInLineWithTheInputFields) {
    XMLDocument worker = Parse(R"(<StatXML><DataModel>
        <FieldGroups count="1"><FieldGroup groupType="other" name="g"/></FieldGroups>
        <Fields count="9">
          <Field name="channel" storage="integer" measure="continuous" role="input" displayLabel="Chan" extra="k"/>
          <Field name="other" storage="real"/>
        </Fields></DataModel><DescriptiveModel/><PMMLModel/></StatXML>)");
    ASSERT_EQ(peer().AddStatXMLSplitGroup(&worker, entries), 0u);
    EXPECT_TRUE(SameTree(worker, std::string(R"(<StatXML><DataModel>
        <FieldGroups count="1"><FieldGroup groupType="other" name="g"/></FieldGroups>
        <Fields count="3">
          <Field name="channel" storage="string" measure="flag" role="split" displayLabel="Chan" extra="k" maxStringLength="3"/>
          <Field name="other" storage="real"/>
          <Field name="region" storage="string" measure="nominal" role="split" maxStringLength="5" displayLabel="Region">
            <Value value="north"/><Value value="south"/></Field>
        </Fields></DataModel><DescriptiveModel/>)") + kSplitGroup + "<PMMLModel/></StatXML>"));
}

TEST_F(StatXmlSplitGroup, SplitGroupStandsBeforeTheFirstModel) {
    // Root children before and after; the new data model precedes the group.
    const std::pair<const char*, const char*> rows[] = {
        {"<R><DescriptiveModel/><PMMLModel/><PMMLModel/></R>",
         "DescriptiveModel DataModel SplitGroup PMMLModel PMMLModel"},
        {"<R><X/><DescriptiveModel/><DescriptiveModel/></R>",
         "X DataModel SplitGroup DescriptiveModel DescriptiveModel"},
        {"<R><X/></R>", "X DataModel SplitGroup"},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE(input);
        XMLDocument worker = Parse(input);
        ASSERT_EQ(peer().AddStatXMLSplitGroup(&worker, {Entry("age", 1, 1, "3")}), 0u);
        std::string names;
        auto children = worker.getElementsDirect("");
        while (children.hasMore()) names += (names.empty() ? "" : " ") + children.next().getName();
        EXPECT_EQ(names, expected);
    }
}

TEST_F(StatXmlSplitGroup, RefusesNullDocumentAndEmptyListWithoutChange) {
    EXPECT_EQ(peer().AddStatXMLSplitGroup(nullptr, entries), 1u);
    XMLDocument worker = Parse("<StatXML><PMMLModel/></StatXML>");
    EXPECT_EQ(peer().AddStatXMLSplitGroup(&worker, {}), 1u);
    EXPECT_TRUE(SameTree(worker, "<StatXML><PMMLModel/></StatXML>"));
}

TEST_F(StatXmlSplitGroup, IncompleteDataModelsFailWithFive) {
    struct Row {
        const char* name;
        const char* worker;
        const char* input;  // null: the test's input data model
        std::vector<SplitFieldEntry> entries;
    };
    const std::vector<Row> rows = {
        {"worker model without fields", "<S><DataModel/></S>", nullptr, {Entry("region", 3, 3, "n")}},
        {"input without fields, case A", "<S><DataModel><Fields/></DataModel></S>", "<DataModel/>",
         {Entry("region", 3, 3, "n")}},
        {"input without fields, case B", "<S/>", "<DataModel/>", {Entry("region", 3, 3, "n")}},
        {"unknown split field, case A", "<S><DataModel><Fields/></DataModel></S>", nullptr,
         {Entry("region", 3, 3, "n"), Entry("ghost", 0, 6, "g")}},
        {"unknown split field, case B", "<S/>", nullptr, {Entry("ghost", 0, 6, "g")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.input != nullptr) ReplaceInputDataModel(row.input);
        XMLDocument worker = Parse(row.worker);
        EXPECT_EQ(peer().AddStatXMLSplitGroup(&worker, row.entries), 5u);
        if (row.input != nullptr) ReplaceInputDataModel(InputDataModel());
    }
}

}  // namespace

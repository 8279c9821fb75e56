// Split-group annotation of each group's PMML and StatXML, and merging of its summary into the combined StatXML.
#include "annotate/find_summary_model.h"
#include "collect_support.h"
#include "common/tsv.h"

using namespace collecttest;

namespace {

using Annotate = StartedFixture;

const std::vector<SplitFieldEntry> kEntries{{"region", 3, 3, "north", "false"}, {"channel", 3, 2, "", "true"}};
const std::string kSplitGroup =
    "SplitGroup(SplitField{name=region value=north isNull=false} SplitField{name=channel value= isNull=true})";
const std::string kExtension = "MiningBuildTask(Extension{name=split-info extender=morvi-split}";

TEST_F(Annotate, PMMLFieldsFollowTheCodesAndCarryAValueOnlyForTheExactFalseText) {
    // field: the DataField's outline; null: the entry fails and the text stays.
    const struct { int32_t storage, measure; const char* isNull; const char* field; const char* messages; } rows[] = {
        {1, 1, "false", "optype=continuous dataType=integer}(Value{value= a<&\"b })", ""},
        {2, 2, "false", "optype=categorical dataType=double}(Value{value= a<&\"b })", ""},
        {3, 3, "true", "optype=categorical dataType=string}", ""},
        {4, 4, "", "optype=ordinal dataType=dateDaysSince[1970]}", ""},
        {5, 5, "False", "optype=categorical dataType=timeSeconds}", ""},
        {6, 6, "false", "optype=categorical dataType=dateTimeSecondsSince[1970]}(Value{value= a<&\"b })", "2/280016/f"},
        {1, -1, "false", "optype=categorical dataType=integer}(Value{value= a<&\"b })", "2/280016/f"},
        {0, 6, "false", nullptr, "2/280016/f 3/280010/f"},  // a field the data model does not have
        {7, 1, "false", nullptr, "3/280010/f"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.storage << "/" << row.measure);
        std::string text = "<PMML/>";
        err = 0;
        const SplitFieldEntry entry{"f", row.storage, row.measure, " a<&\"b ", row.isNull};
        EXPECT_EQ(peer().AddPMMLSplitInfo(text, {entry}, &err), row.field ? 0u : 1u);
        EXPECT_EQ(Messages(), row.messages);
        if (!row.field) { EXPECT_EQ(err, 280010); }
        EXPECT_EQ(row.field ? Outline(text) : text,
                  row.field ? "PMML(" + kExtension + "(DataField{name=f " + row.field + ")))" : "<PMML/>");
    }
}

TEST_F(Annotate, SplitMarksAndGroupsGoBeforeTheFirstDataDictionaryOrModel) {
    // One MiningBuildTask is always added: before the root's first DataDictionary, else last.
    const std::pair<const char*, const char*> pmml[] = {
        {"<PMML><Header/><DataDictionary/><DataDictionary/><TreeModel/></PMML>",
         "Header MiningBuildTask DataDictionary DataDictionary TreeModel"},
        {"<PMML><Header/><MiningBuildTask/><TreeModel><DataDictionary/></TreeModel></PMML>",
         "Header MiningBuildTask TreeModel MiningBuildTask"},
    };
    for (const auto& [input, expected] : pmml) {
        std::string text = input;
        ASSERT_EQ(peer().AddPMMLSplitInfo(text, kEntries, &err), 0u);
        EXPECT_EQ(ChildNames(Parse(text)), expected);
    }
    const std::pair<const char*, const char*> orders[] = {  // the split group goes before the first model
        {"<R><X/><DescriptiveModel/><DescriptiveModel/></R>", "X DataModel SplitGroup DescriptiveModel DescriptiveModel"},
        {"<R><X/></R>", "X DataModel SplitGroup"},
        {"<R><SplitGroup/><PMMLModel/></R>", "SplitGroup DataModel SplitGroup PMMLModel"},  // a worker's own stays
    };
    for (const auto& [input, expected] : orders) {
        XMLDocument worker = Parse(input);
        ASSERT_EQ(peer().AddStatXMLSplitGroup(&worker, {{"age", 1, 1, "3", "false"}}), 0u);
        EXPECT_EQ(ChildNames(worker), expected);
    }
}

TEST_F(Annotate, StatXMLSplitGroupAndDataModelMarks) {
    const std::pair<const char*, std::string> rows[] = {
        // Without a data model the worker gets one holding only the split fields.
        {R"(<StatXML><DescriptiveModel/><PMMLModel modelID="m"/></StatXML>)",
         std::string("StatXML(DescriptiveModel DataModel(") + kFormats + " FieldGroups(FieldGroup{groupType=splitGroup "
         "name=}(FieldName{name=region} FieldName{name=channel})) Fields{caseSensitive=true count=2}(" + kRegionSplit +
         " " + kChannelSplit + ")) " + kSplitGroup + " PMMLModel{modelID=m})"},
        // The worker's own data model is brought in line with the input fields.
        {R"(<StatXML><DataModel><FieldGroups count="1"><FieldGroup groupType="other" name="g"/></FieldGroups>
            <Fields count="9"><Field name="channel" storage="integer" measure="continuous" role="input"
            displayLabel="Chan" extra="k"/><Field name="other" storage="real"/></Fields></DataModel>
            <DescriptiveModel/><PMMLModel/></StatXML>)",
         "StatXML(DataModel(FieldGroups{count=1}(FieldGroup{groupType=other name=g}) Fields{count=3}(Field{name=channel "
         "storage=string measure=flag role=split displayLabel=Chan extra=k maxStringLength=3} Field{name=other "
         "storage=real} " + std::string(kRegionSplit) + ")) DescriptiveModel " + kSplitGroup + " PMMLModel)"},
        // A listed field takes the input's non-empty values in place; a missing one is copied in.
        {R"(<StatXML><DataModel><Fields><Field name="region" displayLabel="Old" maxStringLength="1"/></Fields>
            </DataModel><PMMLModel/></StatXML>)",
         "StatXML(DataModel(Fields{count=2}(Field{name=region displayLabel=Region maxStringLength=5 measure=nominal "
         "storage=string role=split} " + kChannelSplit + ")) " + kSplitGroup + " PMMLModel)"},
        // The first field of that name in document order is the one marked, however deep.
        {R"(<StatXML><DataModel><Fields><G><Field name="region" role="x"/></G><Field name="region"/></Fields>
            </DataModel><PMMLModel/></StatXML>)",
         "StatXML(DataModel(Fields{count=2}(G(Field{name=region role=split measure=nominal storage=string "
         "maxStringLength=5 displayLabel=Region}) Field{name=region} " + kChannelSplit + ")) " + kSplitGroup +
         " PMMLModel)"},
    };
    for (const auto& [input, expected] : rows) {
        XMLDocument worker = Parse(input);
        ASSERT_EQ(peer().AddStatXMLSplitGroup(&worker, kEntries), 0u);
        EXPECT_EQ(Outline(worker), expected);
    }
}

// The cases of tests/collect/summary_models.tsv.
TEST(FindSummaryModel, FirstRuleThatYieldsAModelWins) {
    CfCppHelperV1::HostHelper helper(nullptr);
    for (const std::vector<std::string>& row : splittest::TsvRows("collect/summary_models.tsv")) {
        const std::string text = row.at(0), chosen = row.at(1) == "-" ? "" : row.at(1);
        SCOPED_TRACE(text);
        XMLDocument document = helper.createFromContents(text);
        CfCppHelperV1::XMLElement model;
        EXPECT_EQ(FindSummaryModel(&document, model), chosen.empty() ? 5u : 0u);
        EXPECT_EQ(model.isEmpty() ? "" : model.getAttribute("modelID"), chosen);
        document.dispose();
    }
}

// A worker StatXML for one region value, and its section (an empty id: empty segment ID, left out).
std::string Worker(const std::string& region, const std::string& id, const std::string& settings = "") {
    return "<StatXML>" + settings + R"(<SplitGroup><SplitField name="region" value=")" + region +
           R"("/></SplitGroup><PMMLModel modelID=")" + id + R"(" segmentID=")" + (id.empty() ? "" : "s-" + id) +
           R"("><PredictiveSummary n=")" + id + R"("/></PMMLModel></StatXML>)";
}
std::string Section(const std::string& region, const std::string& id) {
    return "SplitGroup(SplitField{name=region value=" + region + "} ModelSummary{modelID=" + id +
           (id.empty() ? "" : " segmentID=s-" + id) + "}(PredictiveSummary{n=" + id + "}))";
}

TEST_F(Annotate, SummaryTakesTheFirstBuildSettingsAndKeepsArrivalOrder) {
    std::string id;
    const char* const groups[][3] = {
        {"c", "m3", ""}, {"a", "m1", R"(<BuildSettings v="1"/>)"}, {"b", "m2", R"(<BuildSettings v="2"/>)"},
        {"d", "", ""}};
    for (const auto& group : groups) {
        XMLDocument document = Parse(Worker(group[0], group[1], group[2]));
        ASSERT_EQ(peer().AddModelSummary(&document, id, &err), 0u);
        EXPECT_EQ(id, group[1]);
    }
    EXPECT_EQ(Outline(combined()), kCombinedRoot + "(BuildSettings{v=1} " + Section("c", "m3") + " " +
                                       Section("a", "m1") + " " + Section("b", "m2") + " " + Section("d", "") + ")");
}

TEST_F(Annotate, SummaryFailuresLeaveTheCombinedDocumentAsTheyFoundIt) {
    const std::string settings = R"(<BuildSettings v="9"/>)";
    // fault: a host operation refused once; modelId, after: the id and the combined root's children afterwards.
    const struct { std::string worker; const char* fault; uint32_t status; const char* modelId; std::string after;
                   const char* messages; } rows[] = {
        {"<StatXML>" + settings + "<SplitGroup/><DescriptiveModel/></StatXML>", nullptr, 5, "old", "", ""},
        {R"(<StatXML><SplitGroup/><PMMLModel modelID="m" isActive="true"/><PMMLModel modelID="x">
            <PredictiveSummary/></PMMLModel></StatXML>)", nullptr, 5, "old", "", ""},  // chosen model has no summary
        {"<StatXML>" + settings + R"(<PMMLModel modelID="m"><PredictiveSummary/></PMMLModel></StatXML>)", nullptr, 5, "m",
         "(BuildSettings{v=9})", ""},  // no split group
        {Worker("x", "m"), "unlock", 7, "m", "(" + Section("x", "m") + ")", "3/280013"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.worker);
        Restart();
        if (row.fault != nullptr) context->faults().refuse(row.fault, 1, 7);
        XMLDocument worker = Parse(row.worker);
        std::string modelId = "old";
        EXPECT_EQ(peer().AddModelSummary(&worker, modelId, &err), row.status);
        EXPECT_EQ(modelId, row.modelId);
        EXPECT_EQ(Outline(combined()), kCombinedRoot + row.after);
        EXPECT_EQ(Messages(), row.messages);
        if (row.fault == nullptr) { EXPECT_EQ(context->lockStats().held, 0u); }
    }
}

}  // namespace

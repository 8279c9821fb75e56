// Choosing a worker's summary model and merging it into the combined
// StatXML document.
#include "annotate/find_summary_model.h"
#include "collect_support.h"

using namespace collecttest;
using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;

namespace {

const char* const kRoot =
    R"(<StatXML xmlns="http://www.morvi.org/statxml/ext" )"
    R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" version="1.0" )"
    R"(xsi:schemaLocation="http://www.morvi.org/statxml/ext http://www.morvi.org/statxml/ext/StatXML_7.0.xsd">)";

class ModelSummary : public PeerFixture {
protected:
    void SetUp() override {
        PeerFixture::SetUp();
        Start();
    }
    // A worker StatXML with a split group for one region value.
    XMLDocument Worker(const std::string& region, const std::string& models,
                       const std::string& buildSettings = "") {
        return Parse("<StatXML>" + buildSettings + R"(<SplitGroup><SplitField name="region" value=")" +
                     region + R"(" isNull="false"/></SplitGroup>)" + models + "</StatXML>");
    }
    static std::string Model(const std::string& id) {
        return R"(<PMMLModel modelID=")" + id + R"("><PredictiveSummary n=")" + id +
               R"("/></PMMLModel>)";
    }
    static std::string Group(const std::string& region, const std::string& id) {
        return R"(<SplitGroup><SplitField name="region" value=")" + region +
               R"(" isNull="false"/><ModelSummary modelID=")" + id + R"("><PredictiveSummary n=")" +
               id + R"("/></ModelSummary></SplitGroup>)";
    }
    XMLDocument& combined() { return Access::combined(peer()); }
};

TEST(FindSummaryModel, FirstRuleThatYieldsAModelWins) {
    const std::pair<const char*, const char*> rows[] = {
        {R"(<S><PMMLModel modelID="mm" modelType="MiningModel"><PredictiveSummary/></PMMLModel>
            <PMMLModel modelID="a" isActive="true"/></S>)", "a"},
        {R"(<S><PMMLModel modelID="top"/><G><PMMLModel modelID="deep" isActive="true"/></G></S>)", "deep"},
        {R"(<S><PMMLModel modelID="y"/><PMMLModel modelID="x" isActive="True"/></S>)", "y"},
        {R"(<S><PMMLModel modelID="t" modelType="Tree"/>
            <PMMLModel modelID="mm" modelType="MiningModel"><PredictiveSummary/></PMMLModel></S>)", "mm"},
        {R"(<S><PMMLModel modelID="mm" modelType="MiningModel"/><PMMLModel modelID="t" modelType="Tree"/></S>)", "t"},
        {R"(<S><PMMLModel modelID="mm" modelType="MiningModel"/><PMMLModel modelID="n"/></S>)", "n"},
        {R"(<S><PMMLModel modelID="m1" modelType="MiningModel"/><PMMLModel modelID="m2" modelType="MiningModel"/></S>)", "m1"},
        {R"(<S><PMMLModel modelID="p"/><PMMLModel modelID="q"/></S>)", "p"},
        {R"(<S><DescriptiveModel/></S>)", nullptr},
        {R"(<S><G><PMMLModel modelID="nested"/></G></S>)", nullptr},
    };
    CfCppHelperV1::HostHelper helper(nullptr);
    for (const auto& [text, chosen] : rows) {
        SCOPED_TRACE(text);
        XMLDocument document = helper.createFromContents(text);
        XMLElement model;
        const uint32_t status = FindSummaryModel(&document, model);
        if (chosen == nullptr) {
            EXPECT_EQ(status, 5u);
        } else {
            EXPECT_EQ(status, 0u);
            EXPECT_EQ(model.getAttribute("modelID"), chosen);
        }
        document.dispose();
    }
}

TEST_F(ModelSummary, SingleGroupBringsBuildSettingsAndItsSummary) {
    XMLDocument worker = Parse(WorkerStatXML("m-1"));
    ASSERT_EQ(peer().AddStatXMLSplitGroup(&worker, {Entry("region", 3, 3, "north")}), 0u);
    std::string modelId;
    int err = 0;
    ASSERT_EQ(peer().AddModelSummary(&worker, modelId, &err), 0u);
    EXPECT_EQ(modelId, "m-1");
    EXPECT_TRUE(SameTree(combined(), std::string(kRoot) + R"(<BuildSettings algorithm="tree"/>
      <SplitGroup><SplitField name="region" value="north" isNull="false"/>
        <ModelSummary modelID="m-1" segmentID="s1">
          <PredictiveSummary name="accuracy" value="0.9"/><PredictiveSummary name="auc" value="0.8"/>
        </ModelSummary></SplitGroup></StatXML>)"));
}

TEST_F(ModelSummary, GroupsKeepArrivalOrderAndOnlyTheFirstBuildSettingsStands) {
    std::string id;
    int err = 0;
    XMLDocument third = Worker("c", Model("m3"));
    XMLDocument first = Worker("a", Model("m1"), R"(<BuildSettings v="1"/>)");
    XMLDocument second = Worker("b", Model("m2"), R"(<BuildSettings v="2"/>)");
    ASSERT_EQ(peer().AddModelSummary(&third, id, &err), 0u);
    ASSERT_EQ(peer().AddModelSummary(&first, id, &err), 0u);
    ASSERT_EQ(peer().AddModelSummary(&second, id, &err), 0u);
    EXPECT_EQ(id, "m2");
    EXPECT_TRUE(SameTree(combined(), std::string(kRoot) + R"(<BuildSettings v="1"/>)" +
                                         Group("c", "m3") + Group("a", "m1") + Group("b", "m2") +
                                         "</StatXML>"));
}

TEST_F(ModelSummary, FailuresLeaveTheCombinedDocumentAsTheyFoundIt) {
    struct Row {
        const char* name;
        std::string worker;
        const char* lockFault;  // host operation refused once with status 7
        uint32_t status;
        const char* modelId;      // what modelId holds afterwards
        std::string after;        // combined root's children afterwards
        std::vector<int> messages;
    };
    const std::string settings = R"(<BuildSettings v="9"/>)";
    const std::vector<Row> rows = {
        {"no PMMLModel", "<StatXML>" + settings + "<SplitGroup/><DescriptiveModel/></StatXML>",
         nullptr, 5, "old", "", {}},
        {"chosen model without summary",
         R"(<StatXML><SplitGroup/><PMMLModel modelID="m" isActive="true"/>)" + Model("x") +
             "</StatXML>",
         nullptr, 5, "old", "", {}},
        {"lock refused", "<StatXML>" + settings + "<SplitGroup/>" + Model("m") + "</StatXML>",
         "lock", 7, "m", "", {280012}},
        {"no SplitGroup", "<StatXML>" + settings + Model("m") + "</StatXML>", nullptr, 5, "m",
         settings, {}},
        {"unlock refused", "<StatXML><SplitGroup/>" + Model("m") + "</StatXML>", "unlock", 7, "m",
         R"(<SplitGroup><ModelSummary modelID="m"><PredictiveSummary n="m"/></ModelSummary></SplitGroup>)",
         {280013}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PeerFixture::TearDown();
        PeerFixture::SetUp();
        Start();
        if (row.lockFault != nullptr) context->faults().refuse(row.lockFault, 1, 7);
        XMLDocument worker = Parse(row.worker);
        std::string modelId = "old";
        int err = 0;
        EXPECT_EQ(peer().AddModelSummary(&worker, modelId, &err), row.status);
        EXPECT_EQ(modelId, row.modelId);
        EXPECT_TRUE(SameTree(combined(), std::string(kRoot) + row.after + "</StatXML>"));
        EXPECT_EQ(MessageCodes(), row.messages);
        if (row.lockFault == nullptr) {
            EXPECT_EQ(context->lockStats().held, 0u);
        }
    }
}

}  // namespace

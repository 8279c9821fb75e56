// Taking in completed worker tasks: reading the group, the worker's
// containers, recording the group and storing its outputs, with every host
// failure along the way.
#include <functional>

#include "collect_support.h"

using namespace collecttest;
using CfCppHelperV1::XMLElement;

namespace {

const std::vector<TaskField> kNorth = {{"region", "north"}, {"channel", "", "true"}};

class Intake : public PeerFixture {
protected:
    void SetUp() override {
        PeerFixture::SetUp();
        Start();
    }
    // "summary", "failure" or "" for the last section of the combined
    // document, with the number of sections.
    std::string LastSection(size_t* count = nullptr) {
        auto groups = Access::combined(peer()).getElementsDirect("SplitGroup");
        if (count != nullptr) *count = groups.count();
        XMLElement last;
        while (groups.hasMore()) last = groups.next();
        if (last.isEmpty()) return "";
        if (last.getElementsDirect("ModelSummary").hasMore()) return "summary";
        if (last.getElementsDirect("Message").hasMore()) return "failure";
        return "other";
    }
    size_t Entries(const char* container) {
        return context->hasContainer(container) ? context->container(container).entries().size() : 0;
    }
};

TEST_F(Intake, SuccessfulGroupIsAnnotatedSummarisedAndStoredUnderItsModelId) {
    refhost::Worker& worker = AddWorker(kNorth, WorkerStatXML("m-1"), WorkerPMML("t"));
    int err = 0;
    ASSERT_EQ(Complete(worker, 0, &err), 0u);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(LastSection(), "summary");

    const std::vector<refhost::Entry> statxml = context->container("StatXML").entries();
    ASSERT_EQ(statxml.size(), 1u);
    EXPECT_EQ(statxml[0].key, "m-1");
    EXPECT_EQ(statxml[0].properties, "mimeType=application/vnd.qantor.stat+xml\ntypeId=SPLITstatxml.xml");
    EXPECT_TRUE(statxml[0].complete);
    EXPECT_TRUE(SameTree(statxml[0].data, R"(<StatXML version="1.0"><BuildSettings algorithm="tree"/>
      <DescriptiveModel modelID="d"/>
      <DataModel><FieldFormats><Format field="amount" decimals="2"/></FieldFormats>
        <FieldGroups><FieldGroup groupType="splitGroup" name=""><FieldName name="region"/><FieldName name="channel"/></FieldGroup></FieldGroups>
        <Fields caseSensitive="true" count="2">
          <Field name="region" storage="string" measure="nominal" role="split" maxStringLength="5" displayLabel="Region"><Value value="north"/><Value value="south"/></Field>
          <Field name="channel" storage="string" measure="flag" maxStringLength="3" role="split"/></Fields></DataModel>
      <SplitGroup><SplitField name="region" value="north" isNull="false"/><SplitField name="channel" value="" isNull="true"/></SplitGroup>
      <PMMLModel modelID="m-1" segmentID="s1" modelType="TreeModel" isActive="true">
        <PredictiveSummary name="accuracy" value="0.9"/><PredictiveSummary name="auc" value="0.8"/></PMMLModel></StatXML>)"));

    const std::vector<refhost::Entry> pmml = context->container("PMML").entries();
    ASSERT_EQ(pmml.size(), 1u);
    EXPECT_EQ(pmml[0].key, "m-1");
    EXPECT_EQ(pmml[0].properties, "mimeType=application/vnd.qantor.pmml+xml\ntypeId=SPLITpmml.xml");
    EXPECT_NE(pmml[0].data.find("split-info"), std::string::npos);
    EXPECT_EQ(worker.container("WorkerStatXML").closeCount(), 1u);
    EXPECT_EQ(worker.container("WorkerPMML").closeCount(), 1u);
    EXPECT_TRUE(MessageCodes().empty());
    EXPECT_EQ(context->lockStats().held, 0u);
}

TEST_F(Intake, FailedWorkerGetsAFailureSectionWithoutItsContainersBeingOpened) {
    refhost::Worker& worker = AddWorker(
        {{"region", "north"}, {"channel", "", "true"}, {"ghost", "g"}}, WorkerStatXML("m"), WorkerPMML("t"));
    EXPECT_EQ(Complete(worker, 42), 0u);
    EXPECT_TRUE(SameTree(Access::combined(peer()).getElementsDirect("SplitGroup").next(),
                         R"(<SplitGroup><SplitField name="region" value="north" isNull="false"/>
                            <SplitField name="channel" value="" isNull="true"/>
                            <SplitField name="ghost" value="g" isNull="false"/>
                            <Message type="error"><PrintableList pattern="kSPLIT_SplitFailedErr_0" isKey="true"/></Message>
                            </SplitGroup>)"));
    EXPECT_EQ(worker.container("WorkerStatXML").openCount(), 0u);
    EXPECT_EQ(worker.container("WorkerPMML").openCount(), 0u);
    EXPECT_EQ(Entries("StatXML") + Entries("PMML"), 0u);
}

TEST_F(Intake, EveryFailureHasItsStatusSectionAndEntries) {
    using Setup = std::function<void(Intake&, refhost::Worker&)>;
    struct Row {
        const char* name;
        Setup setup;
        uint32_t status;
        const char* section;  // last section afterwards
        size_t statxml, pmml;  // entries written
        std::vector<int> messages;
        int outcome = 0;
    };
    auto refuseWorker = [](const char* op, uint64_t nth = 1, uint64_t times = 1) {
        return [=](Intake&, refhost::Worker& w) { w.faults().refuse(op, nth, 7, 0, times); };
    };
    auto refuseHost = [](const char* op, uint64_t nth = 1) {
        return [=](Intake& t, refhost::Worker&) { t.context->faults().refuse(op, nth, 7); };
    };
    auto statXML = [](std::string text) {
        return [=](Intake&, refhost::Worker& w) { w.container("WorkerStatXML").setDefaultEntry(text); };
    };
    const std::vector<Row> rows = {
        {"getTask refused", refuseWorker("getTask"), 7, "", 0, 0, {}},
        {"task text unparsable", [](Intake&, refhost::Worker& w) { w.setTask("", "<SplitFields>"); }, 5, "", 0, 0, {}},
        {"task without SplitField", [](Intake&, refhost::Worker& w) { w.setTask("", "<SplitFields/>"); }, 5, "", 0, 0, {}},
        {"WorkerStatXML not opened", refuseWorker("openWorkerContainer"), 7, "failure", 0, 0, {}},
        {"WorkerStatXML empty", statXML(""), 1, "failure", 0, 0, {}},
        {"WorkerStatXML keys refused", [](Intake&, refhost::Worker& w) {
             w.container("WorkerStatXML").setDefaultEntry("");
             w.faults().refuse("getKeys", 1, 7); }, 7, "failure", 0, 0, {}},
        {"WorkerStatXML first key refused", [](Intake&, refhost::Worker& w) {
             w.container("WorkerStatXML").setDefaultEntry("");
             w.container("WorkerStatXML").addEntry("k", WorkerStatXML("m"));
             w.faults().refuse("firstKey", 1, 7); }, 7, "failure", 0, 0, {}},
        {"WorkerStatXML entries refused", [](Intake&, refhost::Worker& w) {
             w.container("WorkerStatXML").addEntry("k", WorkerStatXML("m"));
             w.faults().refuse("openEntry", 1, 7, 0, 2); }, 7, "failure", 0, 0, {}},
        {"WorkerStatXML read refused", refuseWorker("readStream"), 1, "failure", 0, 0, {}},
        {"StatXML unparsable", statXML("<StatXML>"), 5, "failure", 0, 0, {}},
        {"StatXML without model", statXML("<StatXML><DescriptiveModel/></StatXML>"), 5, "failure", 0, 0, {}},
        {"split field unknown to the input", [](Intake&, refhost::Worker& w) {
             w.setTask("", TaskDocument({{"ghost", "g"}})); }, 5, "failure", 0, 0, {}},
        {"model without summary", statXML(R"(<StatXML><PMMLModel modelID="m"/></StatXML>)"), 5, "failure", 0, 0, {}},
        {"empty model ID", statXML(WorkerStatXML("")), 1, "summary", 0, 0, {}},
        {"StatXML container refused", refuseHost("openContainer"), 7, "summary", 0, 0, {}},
        {"StatXML key refused", refuseHost("createKey"), 7, "summary", 0, 0, {}},
        {"StatXML key text refused", refuseHost("setKeyText"), 7, "summary", 0, 0, {}},
        {"StatXML entry refused", refuseHost("openEntry"), 7, "summary", 0, 0, {}},
        {"StatXML write refused", refuseHost("writeStream"), 7, "summary", 1, 0, {}},
        {"StatXML writer lock refused", refuseHost("lock", 4), 7, "summary", 0, 0, {280012}},
        {"StatXML writer unlock refused", refuseHost("unlock", 4), 7, "summary", 1, 0, {280013}},
        {"WorkerPMML missing", [](Intake&, refhost::Worker& w) {
             w.faults().refuse("openWorkerContainer", 2, 1); }, 1, "summary", 1, 0, {}},
        {"WorkerPMML empty", [](Intake&, refhost::Worker& w) {
             w.container("WorkerPMML").setDefaultEntry(""); }, 1, "summary", 1, 0, {}},
        {"PMML unparsable", [](Intake&, refhost::Worker& w) {
             w.container("WorkerPMML").setDefaultEntry("<PMML"); }, 5, "summary", 1, 0, {}},
        {"PMML container refused", refuseHost("openContainer", 2), 0, "summary", 1, 0, {}},
        {"PMML write refused", refuseHost("writeStream", 2), 7, "summary", 1, 1, {}},
        {"PMML writer lock refused", refuseHost("lock", 5), 7, "summary", 1, 0, {280012}},
        {"failure report lock refused", refuseHost("lock", 2), 7, "", 0, 0, {280012}, 1},
        {"failure report unlock refused", refuseHost("unlock", 2), 7, "failure", 0, 0, {280013}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PeerFixture::TearDown();
        PeerFixture::SetUp();
        Start();
        refhost::Worker& worker = AddWorker(kNorth, WorkerStatXML("m-1"), WorkerPMML("t"));
        row.setup(*this, worker);
        EXPECT_EQ(Complete(worker, row.outcome), row.status);
        size_t sections = 0;
        EXPECT_EQ(LastSection(&sections), row.section);
        EXPECT_LE(sections, 1u);
        EXPECT_EQ(Entries("StatXML"), row.statxml);
        EXPECT_EQ(Entries("PMML"), row.pmml);
        EXPECT_EQ(MessageCodes(), row.messages);
        EXPECT_EQ(worker.container("WorkerStatXML").openStreams(), 0u);
    }
}

TEST_F(Intake, ContainerTextIsReadInChunksFromTheDefaultEntryOrTheFirstKey) {
    struct Row {
        const char* name;
        std::string defaultText;
        std::vector<std::string> keyed;
        std::string expected;
        std::vector<size_t> reads;
    };
    const std::string a1000(1000, 'a');
    const std::vector<Row> rows = {
        {"two full chunks and a short one", std::string(2 * 1023 + 54, 'x'), {},
         std::string(2 * 1023 + 54, 'x'), {1023, 1023, 54}},
        {"exact multiple needs an empty read", std::string(1023, 'y'), {}, std::string(1023, 'y'), {1023, 0}},
        {"zero byte ends its chunk's text", a1000 + std::string(1, '\0') + std::string(100, 'b') + std::string(2000, 'c'),
         {}, a1000 + std::string(78, 'b') + std::string(2000, 'c'), {1023, 1023, 1023, 32}},
        {"empty default entry falls back to the first key", "", {"first", "second"}, "first", {0, 5}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        refhost::Worker& worker = AddWorker(kNorth, "", "");
        refhost::Container& container = worker.container("C");
        container.setDefaultEntry(row.defaultText);
        for (size_t i = 0; i < row.keyed.size(); ++i) container.addEntry("k" + std::to_string(i), row.keyed[i]);
        std::string text = "unchanged";
        int err = 0;
        ASSERT_EQ(peer().ReadWorkerContainer(worker.record(), "C", text, &err), 0u);
        EXPECT_EQ(text, row.expected);
        EXPECT_EQ(container.readSizes(), row.reads);
        EXPECT_EQ(container.closeCount(), 1u);
    }
}

TEST_F(Intake, TaskFieldsTakeTheirCodesFromTheInputDataModel) {
    // A task text beyond 8192 bytes is fetched with a second call.
    const std::string longValue(9000, 'v');
    refhost::Worker& worker = AddWorker({{"age", "3"}, {"ghost", longValue}, {"Region", "x"}}, "", "");
    std::vector<SplitFieldEntry> entries{Entry("stale", 1, 1, "")};
    int err = 0;
    ASSERT_EQ(peer().ReadSplitFields(worker.record(), entries, &err), 0u);
    EXPECT_EQ(worker.faults().calls("getTask"), 2u);
    ASSERT_EQ(entries.size(), 3u);
    const std::tuple<std::string, int, int, std::string> expected[] = {
        {"age", 1, 1, "3"}, {"ghost", 0, 6, longValue}, {"Region", 0, 6, "x"}};
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].name, std::get<0>(expected[i]));
        EXPECT_EQ(entries[i].storage, std::get<1>(expected[i]));
        EXPECT_EQ(entries[i].measure, std::get<2>(expected[i]));
        EXPECT_EQ(entries[i].value, std::get<3>(expected[i]));
        EXPECT_EQ(entries[i].isNull, "false");
    }
}

TEST_F(Intake, FirstTaskFixesTheSplitFieldNamesForThePeersLife) {
    EXPECT_EQ(Complete(AddWorker({{"channel", "a"}, {"region", "b"}}, "", ""), 1), 0u);
    EXPECT_EQ(Complete(AddWorker(kNorth, WorkerStatXML("m"), WorkerPMML("t"))), 0u);
    int err = 0;
    peer().EndExecution(&err);
    ASSERT_EQ(peer().BeginExecution(nullptr, context->progress(), &err), 0u);
    EXPECT_EQ(Complete(AddWorker({{"age", "1"}}, WorkerStatXML("m"), WorkerPMML("t"))), 0u);
    EXPECT_EQ(Access::splitFieldNames(peer()), (std::vector<std::string>{"channel", "region"}));
}

}  // namespace

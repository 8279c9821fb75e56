// End of an execution: the combined document with its data model section
// written as the last entries of both containers, or the reasons it is not.
#include <functional>

#include "collect/entry_properties.h"
#include "collect_support.h"

using namespace collecttest;

namespace {

const char* const kRoot =
    R"(<StatXML xmlns="http://www.morvi.org/statxml/ext" )"
    R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" version="1.0" )"
    R"(xsi:schemaLocation="http://www.morvi.org/statxml/ext http://www.morvi.org/statxml/ext/StatXML_7.0.xsd">)";

class EndExecution : public PeerFixture {
protected:
    uint32_t End(int* errOut = nullptr) {
        int err = 0;
        uint32_t status = peer().EndExecution(&err);
        if (errOut != nullptr) *errOut = err;
        return status;
    }
    std::vector<std::string> Keys(const char* name) {
        std::vector<std::string> keys;
        if (!context->hasContainer(name)) return keys;
        for (const refhost::Entry& entry : context->container(name).entries()) keys.push_back(entry.key);
        return keys;
    }
    void CompleteGroups() {
        ASSERT_EQ(Complete(AddWorker({{"region", "north"}}, WorkerStatXML("m-1"), WorkerPMML("a"))), 0u);
        ASSERT_EQ(Complete(AddWorker({{"region", "south"}}, WorkerStatXML("m-2", "other"), WorkerPMML("b")), 3), 0u);
        ASSERT_EQ(Complete(AddWorker({{"region", "", "true"}}, WorkerStatXML("m-3"), WorkerPMML("c"))), 0u);
    }
};

TEST_F(EndExecution, WritesTheCombinedDocumentLastToBothContainersAndClosesThem) {
    Start();
    CompleteGroups();
    ASSERT_EQ(End(), 0u);

    EXPECT_EQ(Keys("StatXML"), (std::vector<std::string>{"m-1", "m-3", "rootStatXML"}));
    EXPECT_EQ(Keys("PMML"), (std::vector<std::string>{"m-1", "m-3", "rootPMML"}));
    const refhost::Entry statRoot = context->container("StatXML").entries().back();
    const refhost::Entry pmmlRoot = context->container("PMML").entries().back();
    EXPECT_EQ(statRoot.properties, MakeEntryProperties(kStatXMLMimeType, kStatXMLTypeId));
    EXPECT_EQ(pmmlRoot.properties, "mimeType=application/vnd.qantor.pmml+xml\ntypeId=SPLITpmml.xml");
    EXPECT_EQ(statRoot.data, pmmlRoot.data);
    EXPECT_TRUE(SameTree(statRoot.data, std::string(kRoot) + R"(<BuildSettings algorithm="tree"/>
      <DataModel version="1.0">
        <FieldFormats><Format field="amount" decimals="2"/></FieldFormats>
        <FieldGroups><FieldGroup groupType="splitGroup" name=""><FieldName name="region"/></FieldGroup></FieldGroups>
        <RecordCounts total="10"/>
        <Fields caseSensitive="true" count="4">
          <Field name="region" storage="string" measure="nominal" role="split" maxStringLength="5" displayLabel="Region">
            <Value value="north"/><Value value="south"/></Field>
          <Field name="channel" storage="string" measure="flag" maxStringLength="3"/>
          <Field name="age" storage="integer" measure="continuous" role="input"/>
          <Field name="amount" storage="real" measure="continuous" role="target"/>
        </Fields></DataModel>
      <SplitGroup><SplitField name="region" value="north" isNull="false"/>
        <ModelSummary modelID="m-1" segmentID="s1"><PredictiveSummary name="accuracy" value="0.9"/>
          <PredictiveSummary name="auc" value="0.8"/></ModelSummary></SplitGroup>
      <SplitGroup><SplitField name="region" value="south" isNull="false"/>
        <Message type="error"><PrintableList pattern="kSPLIT_SplitFailedErr_0" isKey="true"/></Message></SplitGroup>
      <SplitGroup><SplitField name="region" value="" isNull="true"/>
        <ModelSummary modelID="m-3" segmentID="s1"><PredictiveSummary name="accuracy" value="0.9"/>
          <PredictiveSummary name="auc" value="0.8"/></ModelSummary></SplitGroup>
      </StatXML>)"));

    EXPECT_TRUE(context->container("StatXML").isClosed());
    EXPECT_TRUE(context->container("PMML").isClosed());
    EXPECT_FALSE(Access::containersOpen(peer()));
    EXPECT_TRUE(Access::combined(peer()).isEmpty());
    EXPECT_TRUE(Access::inputDataModel(peer()).isEmpty());
    EXPECT_TRUE(MessageCodes().empty());
}

TEST_F(EndExecution, WithoutAnyModelSummaryNothingIsWrittenAndContainersStayOpen) {
    Start();
    ASSERT_EQ(End(), 1u);  // no task at all
    EXPECT_EQ(MessageCodes(), (std::vector<int>{280014}));

    int err = 0;
    ASSERT_EQ(peer().BeginExecution(nullptr, context->progress(), &err), 0u);
    ASSERT_EQ(Complete(AddWorker({{"region", "north"}}, WorkerStatXML("m-1"), ""), 9), 0u);
    ASSERT_EQ(peer().WriteGroupStatXML("<x/>", "opened", &err), 0u);
    ASSERT_EQ(End(), 1u);
    EXPECT_EQ(MessageCodes(), (std::vector<int>{280014}));
    EXPECT_EQ(Keys("StatXML"), (std::vector<std::string>{"opened"}));
    EXPECT_FALSE(context->container("StatXML").isClosed());
    EXPECT_TRUE(Access::combined(peer()).isEmpty());

    // The next execution closes what this one left open.
    ASSERT_EQ(peer().BeginExecution(nullptr, context->progress(), &err), 0u);
    EXPECT_TRUE(context->container("StatXML").isClosed());
    EXPECT_FALSE(Access::containersOpen(peer()));
}

TEST_F(EndExecution, DataModelSectionThatCannotBeBuiltStopsBeforeAnyGroupIsLookedAt) {
    context->setParameter("TargetFieldList", {"amount", "ghost"});
    Start();
    CompleteGroups();
    ASSERT_EQ(End(), 5u);
    EXPECT_EQ(MessageCodes(), (std::vector<int>{280015}));
    EXPECT_EQ(Keys("StatXML"), (std::vector<std::string>{"m-1", "m-3"}));
    EXPECT_FALSE(context->container("PMML").isClosed());
    EXPECT_TRUE(Access::combined(peer()).isEmpty());
    EXPECT_TRUE(Access::inputDataModel(peer()).isEmpty());
}

TEST_F(EndExecution, RootWriteFailuresReturnTheHostStatusAndStillClose) {
    using Setup = std::function<void(refhost::Faults&)>;
    struct Row {
        const char* name;
        Setup setup;
        uint32_t status;
        std::vector<std::string> statxml, pmml;
    };
    // With one group: calls 1 and 2 of each operation write the group's
    // entries, 3 and 4 the root entries.
    auto refuse = [](const char* op, uint64_t nth, uint64_t times = 1) {
        return [=](refhost::Faults& f) { f.refuse(op, nth, 7, 0, times); };
    };
    const std::vector<Row> rows = {
        {"root StatXML key", refuse("createKey", 3), 7, {"m-1"}, {"m-1"}},
        {"root StatXML key text", refuse("setKeyText", 3), 7, {"m-1"}, {"m-1"}},
        {"root StatXML entry", refuse("openEntry", 3), 7, {"m-1"}, {"m-1"}},
        {"root StatXML write", refuse("writeStream", 3), 7, {"m-1", "rootStatXML"}, {"m-1"}},
        {"root PMML key", refuse("createKey", 4), 7, {"m-1", "rootStatXML"}, {"m-1"}},
        {"root PMML write", refuse("writeStream", 4), 7, {"m-1", "rootStatXML"}, {"m-1", "rootPMML"}},
        {"PMML never opened", refuse("openContainer", 2, 2), 0, {"m-1", "rootStatXML"}, {}},
        {"StatXML never opened", refuse("openContainer", 1, 2), 7, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PeerFixture::TearDown();
        PeerFixture::SetUp();
        Start();
        row.setup(context->faults());
        Complete(AddWorker({{"region", "north"}}, WorkerStatXML("m-1"), WorkerPMML("a")));
        EXPECT_EQ(End(), row.status);
        EXPECT_EQ(Keys("StatXML"), row.statxml);
        EXPECT_EQ(Keys("PMML"), row.pmml);
        for (const char* name : {"StatXML", "PMML"}) {
            if (!context->hasContainer(name)) continue;
            EXPECT_TRUE(context->container(name).isClosed()) << name;
            EXPECT_EQ(context->container(name).openStreams(), 0u) << name;
        }
        EXPECT_TRUE(MessageCodes().empty());
    }
}

TEST_F(EndExecution, ContextWithoutThreadServicesWorksWithoutLocking) {
    context->setThreadServices(false);
    Start();
    EXPECT_FALSE(Access::hasLock(peer()));
    CompleteGroups();
    EXPECT_EQ(End(), 0u);
    EXPECT_EQ(Keys("PMML"), (std::vector<std::string>{"m-1", "m-3", "rootPMML"}));
    EXPECT_EQ(context->lockStats().created, 0u);
    EXPECT_EQ(context->lockStats().taken, 0u);
}

}  // namespace

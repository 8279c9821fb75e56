// The split-info extension written into each group's PMML.
#include "collect_support.h"

using namespace collecttest;

namespace {

class PmmlSplitInfo : public PeerFixture {
protected:
    void SetUp() override {
        PeerFixture::SetUp();
        Start();
    }
    // The "DataField" of the extension for one entry, as serialised XML.
    uint32_t Annotate(std::string& text, const std::vector<SplitFieldEntry>& entries,
                      int* err = nullptr) {
        int local = 0;
        return peer().AddPMMLSplitInfo(text, entries, err != nullptr ? err : &local);
    }
};

TEST_F(PmmlSplitInfo, ExtensionStandsBeforeTheDataDictionary) {
    std::string text = WorkerPMML("m1");
    ASSERT_EQ(Annotate(text, {Entry("region", 3, 3, "north"), Entry("channel", 3, 2, "", "true")}),
              0u);
    EXPECT_TRUE(SameTree(text, R"(<PMML version="4.4"><Header/>
      <MiningBuildTask><Extension name="split-info" extender="morvi-split">
        <DataField name="region" optype="categorical" dataType="string"><Value value="north"/></DataField>
        <DataField name="channel" optype="categorical" dataType="string"/>
      </Extension></MiningBuildTask>
      <DataDictionary numberOfFields="1"><DataField name="amount" optype="continuous" dataType="double"/></DataDictionary>
      <TreeModel modelName="m1" functionName="regression"/></PMML>)"));
    EXPECT_TRUE(MessageCodes().empty());
}

TEST_F(PmmlSplitInfo, WithoutDataDictionaryANewTaskIsAppendedEvenBesideAnOldOne) {
    std::string text = R"(<PMML><MiningBuildTask old="1"/><TreeModel/></PMML>)";
    ASSERT_EQ(Annotate(text, {}), 0u);
    EXPECT_TRUE(SameTree(text, R"(<PMML><MiningBuildTask old="1"/><TreeModel/>
      <MiningBuildTask><Extension name="split-info" extender="morvi-split"/></MiningBuildTask></PMML>)"));
}

TEST_F(PmmlSplitInfo, OptypeFollowsTheMeasureCode) {
    struct Row {
        int32_t measure;
        const char* optype;
        bool warned;
    };
    const Row rows[] = {{1, "continuous", false}, {2, "categorical", false},
                        {3, "categorical", false}, {4, "ordinal", false},
                        {5, "categorical", false}, {0, "categorical", true},
                        {6, "categorical", true},  {-1, "categorical", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.measure);
        std::string text = "<PMML/>";
        ASSERT_EQ(Annotate(text, {Entry("age", 1, row.measure, "7")}), 0u);
        EXPECT_TRUE(SameTree(text, std::string(R"(<PMML><MiningBuildTask><Extension name="split-info" extender="morvi-split">
          <DataField name="age" optype=")") + row.optype +
                                       R"(" dataType="integer"><Value value="7"/></DataField></Extension></MiningBuildTask></PMML>)"));
        std::vector<refhost::Message> messages = Messages();
        if (row.warned) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0], (refhost::Message{2, 280016, {"age"}}));
        } else {
            EXPECT_TRUE(messages.empty());
        }
    }
}

TEST_F(PmmlSplitInfo, DataTypeFollowsTheStorageCodeAndAnUnknownOneFails) {
    const std::pair<int32_t, const char*> rows[] = {
        {1, "integer"}, {2, "double"}, {3, "string"}, {4, "dateDaysSince[1970]"},
        {5, "timeSeconds"}, {6, "dateTimeSecondsSince[1970]"}, {0, nullptr}, {7, nullptr}};
    for (const auto& [storage, dataType] : rows) {
        SCOPED_TRACE(storage);
        std::string text = "<PMML/>";
        int err = 0;
        uint32_t status = Annotate(text, {Entry("a", storage, 1, "1")}, &err);
        if (dataType == nullptr) {
            EXPECT_EQ(status, 1u);
            EXPECT_EQ(err, 280010);
            EXPECT_EQ(text, "<PMML/>");
            EXPECT_EQ(Messages(), (std::vector<refhost::Message>{{3, 280010, {"a"}}}));
            continue;
        }
        ASSERT_EQ(status, 0u);
        EXPECT_TRUE(SameTree(text, std::string(R"(<PMML><MiningBuildTask><Extension name="split-info" extender="morvi-split">
          <DataField name="a" optype="continuous" dataType=")") + dataType +
                                       R"("><Value value="1"/></DataField></Extension></MiningBuildTask></PMML>)"));
    }
}

TEST_F(PmmlSplitInfo, ValueChildOnlyForTheExactFalseText) {
    const std::pair<const char*, bool> rows[] = {
        {"false", true}, {"true", false}, {"", false}, {"False", false}, {"false ", false}};
    for (const auto& [isNull, hasValue] : rows) {
        SCOPED_TRACE(isNull);
        std::string text = "<PMML/>";
        ASSERT_EQ(Annotate(text, {Entry("region", 3, 3, " a<&\"b ", isNull)}), 0u);
        std::string field = R"(<DataField name="region" optype="categorical" dataType="string")";
        field += hasValue ? R"(><Value value=" a&lt;&amp;&quot;b "/></DataField>)" : "/>";
        EXPECT_TRUE(SameTree(text, R"(<PMML><MiningBuildTask><Extension name="split-info" extender="morvi-split">)" +
                                       field + "</Extension></MiningBuildTask></PMML>"));
    }
}

TEST_F(PmmlSplitInfo, FieldMissingFromTheDataModelWarnsThenFailsLeavingTheText) {
    std::string text = WorkerPMML("m1");
    const std::string before = text;
    int err = 0;
    EXPECT_EQ(Annotate(text, {Entry("region", 3, 3, "x"), Entry("ghost", 0, 6, "y")}, &err), 1u);
    EXPECT_EQ(err, 280010);
    EXPECT_EQ(text, before);
    EXPECT_EQ(Messages(), (std::vector<refhost::Message>{{2, 280016, {"ghost"}},
                                                          {3, 280010, {"ghost"}}}));
}

TEST_F(PmmlSplitInfo, UnparsableTextFailsWithoutMessage) {
    std::string text = "<PMML><unclosed></PMML>";
    int err = 0;
    EXPECT_EQ(Annotate(text, {Entry("region", 3, 3, "x")}, &err), 5u);
    EXPECT_EQ(text, "<PMML><unclosed></PMML>");
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(MessageCodes().empty());
}

TEST_F(PmmlSplitInfo, MessagesAreRecordedUnderTheLockWhoseFailuresDoNotMatter) {
    context->faults().refuse("lock", 1, 1);
    std::string text = "<PMML/>";
    EXPECT_EQ(Annotate(text, {Entry("a", 1, 9, "1"), Entry("b", 1, 9, "2")}), 0u);
    EXPECT_EQ(MessageCodes(), (std::vector<int>{280016, 280016}));
    const refhost::LockStats stats = context->lockStats();
    EXPECT_EQ(stats.taken, 1u);
    EXPECT_EQ(stats.released, 1u);
    EXPECT_EQ(stats.misuses, 0u);
}

}  // namespace

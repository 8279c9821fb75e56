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
    // AddPMMLSplitInfo, with a scratch error slot unless one is given.
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

TEST_F(PmmlSplitInfo, OptypeAndDataTypeFollowTheCodes) {
    struct Row {
        int32_t storage, measure;
        const char* optype;
        const char* dataType;  // null: the entry fails
        std::vector<refhost::Message> messages;
    };
    const Row rows[] = {
        {1, 1, "continuous", "integer", {}},
        {2, 2, "categorical", "double", {}},
        {3, 3, "categorical", "string", {}},
        {4, 4, "ordinal", "dateDaysSince[1970]", {}},
        {5, 5, "categorical", "timeSeconds", {}},
        {6, 0, "categorical", "dateTimeSecondsSince[1970]", {{2, 280016, {"f"}}}},
        {6, 6, "categorical", "dateTimeSecondsSince[1970]", {{2, 280016, {"f"}}}},
        {1, -1, "categorical", "integer", {{2, 280016, {"f"}}}},
        {0, 1, "continuous", nullptr, {{3, 280010, {"f"}}}},
        {7, 1, "continuous", nullptr, {{3, 280010, {"f"}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.storage << "/" << row.measure);
        std::string text = "<PMML/>";
        int err = 0;
        const uint32_t status = Annotate(text, {Entry("f", row.storage, row.measure, "1")}, &err);
        EXPECT_EQ(Messages(), row.messages);
        if (row.dataType == nullptr) {
            EXPECT_EQ(status, 1u);
            EXPECT_EQ(err, 280010);
            EXPECT_EQ(text, "<PMML/>");
            continue;
        }
        ASSERT_EQ(status, 0u);
        EXPECT_TRUE(SameTree(text, std::string(R"(<PMML><MiningBuildTask><Extension name="split-info" extender="morvi-split">
          <DataField name="f" optype=")") + row.optype + R"(" dataType=")" + row.dataType +
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

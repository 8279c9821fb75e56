// Parameters into settings through MakeSettings, and the input data model
// into the FieldInfo table.
#include "peer_fixture.h"

namespace {

using Values = std::vector<std::string>;

Values setting(const QorXML_940::QorSettings& settings, const std::string& name) {
    Values values{"stale"};
    return settings.GetSettingValByName(name, values) ? values : Values{"<absent>"};
}

TEST_F(PeerTest, ParameterDocumentReplacesTheSettings) {
    peer.settings.SetSettingVal("previous", {"1"});
    fake.parameters =
        "<Parameters><Parameter name='split_fields'><Value value='region'/><Value value='channel'/>"
        "</Parameter><Parameter name='empty'/><Parameter><Value value='nameless'/></Parameter>"
        "</Parameters>";
    ASSERT_EQ(peer.ScanParameters(&err), 0u);
    EXPECT_EQ(peer.settings.Size(), 2u);
    EXPECT_EQ(setting(peer.settings, "split_fields"), (Values{"region", "channel"}));
    EXPECT_EQ(setting(peer.settings, "empty"), Values{});
    EXPECT_EQ(setting(peer.settings, "previous"), Values{"<absent>"});
}

TEST_F(PeerTest, ParameterFailuresLeaveTheSettingsAlone) {
    peer.settings.SetSettingVal("kept", {"1"});
    const std::tuple<std::string, uint32_t, uint32_t> cases[] = {
        {"<Parameters/>", 7, 7},  // the host's status is passed on
        {"<Parameters>", 0, CF_BAD_XML},
        {"<Settings><Parameter name='a'/></Settings>", 0, CF_BAD_XML}};
    for (const auto& [text, hostFailure, status] : cases) {
        fake.parameters = text;
        fake.failure = hostFailure;
        EXPECT_EQ(peer.ScanParameters(&err), status) << text;
        EXPECT_EQ(setting(peer.settings, "kept"), Values{"1"}) << text;
    }
    EXPECT_EQ(TestPeer(nullptr, &host).ScanParameters(&err), CF_FAILED);
    EXPECT_EQ(TestPeer(&context, nullptr).ScanParameters(&err), CF_FAILED);  // no host helper
}

using Row = std::tuple<std::string, int32_t, int32_t, int32_t>;

std::vector<Row> table(const TestPeer& peer) {
    std::vector<Row> rows;
    for (const QorCF_940::FieldInfo* info : peer.fieldInfos)
        rows.emplace_back(info->GetFieldName(), info->GetStorage(), info->GetMeasure(),
                          info->GetNumberOfCategories());
    return rows;
}

TEST_F(PeerTest, DataModelFieldsBecomeTheTableAndFailuresKeepIt) {
    fake.dataModel =
        "<DataModel version='1.0'><FieldGroups count='1'><FieldGroup groupType='g' name='n'>"
        "<FieldName name='i'/></FieldGroup></FieldGroups><Fields caseSensitive='true' count='8'>"
        "<Field name='i' storage='integer' measure='continuous'/>"
        "<Field name='r' storage='real' measure='flag'><Value value='0'/><Value value='1'/></Field>"
        "<Field name='s' storage='string' measure='nominal'><Value value='a'/><Value value='b'/>"
        "<Value value='c'/></Field><Field name='d' storage='date' measure='ordinal'/>"
        "<Field name='t' storage='time' measure='categorical'/><Field name='ts' storage='timestamp'/>"
        "<Field name='odd' storage='Integer' measure='typeless'/>"
        "<Field name='n' storage='string'><Other><Value value='x'/></Other></Field>"
        "</Fields></DataModel>";
    ASSERT_EQ(peer.ParseDataModel(&err, false, 1), 0u);
    const std::vector<Row> expected{{"i", 1, 1, 0}, {"r", 2, 2, 2},  {"s", 3, 3, 3},
                                    {"d", 4, 4, 0}, {"t", 5, 5, 0},  {"ts", 6, 0, 0},
                                    {"odd", 0, 0, 0}, {"n", 3, 0, 0}};
    EXPECT_EQ(table(peer), expected);

    const std::tuple<std::string, uint32_t, uint32_t> failures[] = {
        {"<DataModel><Field name='x'/></DataModel>", 0, CF_BAD_XML},
        {"<DataModel><Fields>", 0, CF_BAD_XML},
        {"", 6, 6}};
    for (const auto& [text, hostFailure, status] : failures) {
        fake.dataModel = text;
        fake.failure = hostFailure;
        EXPECT_EQ(peer.ParseDataModel(&err, false, 1), status) << text;
        EXPECT_EQ(table(peer), expected) << text;
    }
    fake.failure = 0;
    fake.dataModel = "<DataModel><Fields><Field name='c' storage='real'/></Fields></DataModel>";
    ASSERT_EQ(peer.ParseDataModel(&err, false, 1), 0u);
    EXPECT_EQ(table(peer), (std::vector<Row>{{"c", 2, 0, 0}}));
}

}  // namespace

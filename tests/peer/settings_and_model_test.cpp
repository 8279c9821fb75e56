// Parameters into settings through MakeSettings.
#include "peer_fixture.h"

namespace {

using Values = std::vector<std::string>;

Values setting(const QorXML_940::QorSettings& settings, const std::string& name) {
    Values values{"stale"};
    return settings.GetSettingValByName(name, values) ? values : Values{"<absent>"};
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

}  // namespace

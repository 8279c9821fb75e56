// Messages recorded by a peer and delivered through GetErrorDetail.
#include "peer_fixture.h"

namespace {

using namespace CfCppHelperV1;

TEST_F(PeerTest, ErrorDetailKeepsMessagesUntilDelivered) {
    err = 99;
    EXPECT_EQ(peer.CollectMsgs(QorCF_940::MsgError, 280004, {"region", "<&\">"}, &err), 0u);
    EXPECT_EQ(peer.CollectMsgs(QorCF_940::MsgWarning, 280016, &err), 0u);
    EXPECT_EQ(err, 99);

    size_t needed = 0;
    ASSERT_EQ(peer.GetErrorDetail(nullptr, 0, &needed, &err), CF_BUFFER_TOO_SMALL);
    const size_t full = needed;
    std::vector<char> buffer(full, '#');
    EXPECT_EQ(peer.GetErrorDetail(buffer.data(), full - 1, &needed, &err), CF_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, full);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(full, '#'));
    EXPECT_EQ(peer.CollectedMessages().size(), 2u);

    ASSERT_EQ(peer.GetErrorDetail(buffer.data(), full, &needed, &err), 0u);
    EXPECT_EQ(needed, full);
    EXPECT_TRUE(peer.CollectedMessages().empty());
    XMLDocument document = HostHelper(nullptr).createFromContents(buffer.data());
    std::string text;
    document.doc2string(text);
    EXPECT_EQ(text,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Messages>\n"
              "  <Message type=\"3\" code=\"280004\">\n    <Argument value=\"region\" />\n"
              "    <Argument value=\"&lt;&amp;&quot;>\" />\n  </Message>\n"
              "  <Message type=\"2\" code=\"280016\" />\n</Messages>\n");
    document.dispose();

    ASSERT_EQ(peer.GetErrorDetail(buffer.data(), full, &needed, &err), 0u);
    EXPECT_EQ(std::string(buffer.data()).find("<Message "), std::string::npos);
}

}  // namespace

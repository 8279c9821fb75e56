// Construction, configuration and begin execution of the collect peer, and
// the group writers' own rules.
#include "collect/entry_properties.h"
#include "collect_support.h"

using namespace collecttest;

namespace {

class Lifecycle : public PeerFixture {};

TEST_F(Lifecycle, BeginExecutionCreatesTheCombinedRootAndReadsTheInputDataModel) {
    context->setParameter("TargetFieldList", {"amount"});
    context->setParameter("InputFieldList", {"age", "channel"});
    Start();
    EXPECT_TRUE(SameTree(Access::combined(peer()),
                         R"(<StatXML xmlns="http://www.morvi.org/statxml/ext" )"
                         R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" version="1.0" )"
                         R"(xsi:schemaLocation="http://www.morvi.org/statxml/ext )"
                         R"(http://www.morvi.org/statxml/ext/StatXML_7.0.xsd"/>)"));
    EXPECT_TRUE(SameTree(Access::inputDataModel(peer()), InputDataModel()));
    EXPECT_EQ(Access::targetFieldList(peer()), (std::vector<std::string>{"amount"}));
    EXPECT_EQ(Access::inputFieldList(peer()), (std::vector<std::string>{"age", "channel"}));
    EXPECT_TRUE(Access::hasLock(peer()));

    // A setting that is gone leaves its list empty at the next configuration.
    context->clearParameters();
    int err = 0;
    ASSERT_EQ(peer().Configure(&err), 0u);
    EXPECT_TRUE(Access::targetFieldList(peer()).empty());
    EXPECT_TRUE(Access::inputFieldList(peer()).empty());
}

TEST_F(Lifecycle, BeginExecutionFailures) {
    Start();
    int err = 0;
    EXPECT_EQ(peer().BeginExecution(nullptr, nullptr, &err), 8u);

    context->faults().refuse("getInputDataModel", 1, 7);
    EXPECT_EQ(peer().BeginExecution(nullptr, context->progress(), &err), 7u);
    context->faults().refuse("getInputDataModel", 1, 13, 0, 2);
    EXPECT_EQ(peer().BeginExecution(nullptr, context->progress(), &err), 13u);

    context->setDataModel("<DataModel><Fields>");
    EXPECT_EQ(peer().BeginExecution(nullptr, context->progress(), &err), 5u);
    // The data model read at the last successful begin stays.
    EXPECT_TRUE(SameTree(Access::inputDataModel(peer()), InputDataModel()));
}

TEST_F(Lifecycle, LargeInputDataModelIsFetchedWithASecondCall) {
    std::string model = InputDataModel();
    model.insert(model.find("<RecordCounts"), "<Padding text=\"" + std::string(9000, 'p') + "\"/>");
    context->setDataModel(model);
    Start();
    const uint64_t before = context->faults().calls("getInputDataModel");
    int err = 0;
    ASSERT_EQ(peer().BeginExecution(nullptr, context->progress(), &err), 0u);
    EXPECT_EQ(context->faults().calls("getInputDataModel") - before, 2u);
    EXPECT_TRUE(SameTree(Access::inputDataModel(peer()), model));
}

TEST_F(Lifecycle, ConfigureReturnsTheBaseFailures) {
    peer_ = std::make_unique<SplitCollectPeer>(context->record(), host.record());
    int err = 0;
    context->faults().refuse("getParameters", 1, 7);
    EXPECT_EQ(peer().Configure(&err), 7u);
    context->setDataModel("<DataModel/>");
    EXPECT_EQ(peer().Configure(&err), 5u);
}

TEST_F(Lifecycle, NoLockWithoutThreadServicesOrWhenTheHostRefusesOne) {
    context->faults().refuse("createLock", 1, 0);
    peer_ = std::make_unique<SplitCollectPeer>(context->record(), host.record());
    EXPECT_FALSE(Access::hasLock(peer()));
    context->setThreadServices(false);
    peer_ = std::make_unique<SplitCollectPeer>(context->record(), host.record());
    EXPECT_FALSE(Access::hasLock(peer()));
    context->setThreadServices(true);
    peer_ = std::make_unique<SplitCollectPeer>(context->record(), host.record());
    EXPECT_TRUE(Access::hasLock(peer()));
    peer_.reset();
    EXPECT_EQ(context->lockStats().created, context->lockStats().destroyed);
}

TEST_F(Lifecycle, ContainersLeftOpenAreClosedByTheNextBeginOrTheDestruction) {
    Start();
    int err = 0;
    ASSERT_EQ(peer().WriteGroupStatXML("<a/>", "k", &err), 0u);
    ASSERT_EQ(peer().WriteGroupPMML("<b/>", "k", &err), 0u);
    // When closing "StatXML" fails, "PMML" stays open.
    context->faults().refuse("closeContainer", 1, 7);
    ASSERT_EQ(peer().BeginExecution(nullptr, context->progress(), &err), 0u);
    EXPECT_FALSE(context->container("PMML").isClosed());
    peer_.reset();
    EXPECT_TRUE(context->container("PMML").isClosed());
}

TEST_F(Lifecycle, GroupWritersReuseTheirContainerAndRefuseEmptyTexts) {
    Start();
    EXPECT_EQ(MakeEntryProperties("a/b", "T.xml"), "mimeType=a/b\ntypeId=T.xml");
    int err = 0;
    const uint64_t locks = context->lockStats().taken;
    EXPECT_EQ(peer().WriteGroupStatXML("", "k", &err), 1u);
    EXPECT_EQ(peer().WriteGroupPMML("<p/>", "", &err), 1u);
    EXPECT_EQ(context->lockStats().taken, locks);
    EXPECT_FALSE(context->hasContainer("StatXML") || context->hasContainer("PMML"));

    // Two groups reporting one model ID give two entries under that key.
    ASSERT_EQ(peer().WriteGroupStatXML("<one/>", "same", &err), 0u);
    ASSERT_EQ(peer().WriteGroupStatXML("<two/>", "same", &err), 0u);
    EXPECT_EQ(context->containerOpens("StatXML"), 1u);
    const std::vector<refhost::Entry> entries = context->container("StatXML").entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].key, "same");
    EXPECT_EQ(entries[0].data, "<one/>");
    EXPECT_EQ(entries[1].key, "same");
    EXPECT_EQ(entries[1].data, "<two/>");
}

}  // namespace

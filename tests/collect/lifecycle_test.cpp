// Configure, begin and end of the collect peer, and the group writers' rules.
#include <functional>

#include "collect_support.h"

using namespace collecttest;

namespace {

class Lifecycle : public PeerFixture {
protected:
    uint32_t Begin() { return peer().BeginExecution(nullptr, context->progress(), &err); }
    uint32_t End() { return peer().EndExecution(&err); }
    uint32_t Write(bool statXML, const std::string& text, const std::string& key) {
        return statXML ? peer().WriteGroupStatXML(text, key, &err) : peer().WriteGroupPMML(text, key, &err);
    }
    void CompleteGroups() {  // a model, a failure, and a model for a missing value
        ASSERT_EQ(Complete(AddWorker({{"region", "north"}}, WorkerStatXML("m-1"), WorkerPMML("a"))) +
                      Complete(AddWorker({{"region", "south"}}, WorkerStatXML("m-2", "other"), WorkerPMML("b")), 3) +
                      Complete(AddWorker({{"region", "", "true"}}, WorkerStatXML("m-3"), WorkerPMML("c"))), 0u);
    }
};

TEST_F(Lifecycle, ConfigureReadsTheSettingListsAfreshAndReturnsTheBaseFailures) {
    context->setParameter("TargetFieldList", {"amount"});
    context->setParameter("InputFieldList", {"age", "channel"});
    Start();
    ASSERT_EQ(Access::targets(peer()).size() + Access::inputs(peer()).size(), 3u);
    context->clearParameters();
    ASSERT_EQ(peer().Configure(&err), 0u);
    EXPECT_TRUE(Access::targets(peer()).empty() && Access::inputs(peer()).empty());
    context->setDataModel("<DataModel/>");
    EXPECT_EQ(peer().Configure(&err), 5u);
}

TEST_F(Lifecycle, BeginExecutionReadsTheInputDataModelOrKeepsTheLastOneOnFailure) {
    std::string model = kInputDataModel;
    model.insert(model.find("<RecordCounts"), "<Padding text=\"" + std::string(9000, 'p') + "\"/>");
    context->setDataModel(model);
    Start();
    EXPECT_EQ(Outline(combined()), kCombinedRoot);
    const uint64_t before = context->faults().calls("getInputDataModel");
    ASSERT_EQ(Begin(), 0u);
    EXPECT_EQ(context->faults().calls("getInputDataModel") - before, 2u);  // beyond 8192 bytes: a second call
    for (const std::size_t size : {8191, 8192}) {   // the buffer's own size, with the terminator, takes one call
        context->setDataModel(kInputDataModel + std::string(size - kInputDataModel.size(), ' '));
        const uint64_t calls = context->faults().calls("getInputDataModel");
        ASSERT_EQ(Begin(), 0u);
        EXPECT_EQ(context->faults().calls("getInputDataModel") - calls, size == 8191 ? 1u : 2u) << size;
    }
    context->setDataModel(model);
    ASSERT_EQ(Begin(), 0u);
    EXPECT_EQ(peer().BeginExecution(nullptr, nullptr, &err), 8u);
    context->faults().refuse("getInputDataModel", 1, 13, 0, 2);
    EXPECT_EQ(Begin(), 13u);
    context->setDataModel("<DataModel><Fields>");
    EXPECT_EQ(Begin(), 5u);
    EXPECT_EQ(Outline(Access::inputModel(peer())), Outline(model));
}

TEST_F(Lifecycle, GroupWritersReuseTheirContainerRefuseEmptyTextsAndLeaveItToTheNextBegin) {
    Start();
    EXPECT_EQ(Write(true, "", "k"), 1u);
    EXPECT_EQ(Write(false, "<p/>", ""), 1u);
    EXPECT_EQ(context->lockStats().taken, 0u);
    EXPECT_FALSE(context->hasContainer("StatXML") || context->hasContainer("PMML"));
    // Two groups reporting one model ID give two entries under that key.
    ASSERT_EQ(Write(true, "<one/>", "same") + Write(true, "<two/>", "same") + Write(false, "<p/>", "k"), 0u);
    EXPECT_EQ(context->containerOpens("StatXML"), 1u);
    EXPECT_EQ(Keys("StatXML"), (Strings{"same", "same"}));
    // When closing "StatXML" fails, "PMML" stays open until the destruction.
    context->faults().refuse("closeContainer", 1, 7);
    ASSERT_EQ(Begin(), 0u);
    EXPECT_FALSE(context->container("PMML").isClosed());
    ASSERT_EQ(End(), 1u);  // no model: the containers stay open
    peer_.reset();
    EXPECT_TRUE(context->container("PMML").isClosed());
}

TEST_F(Lifecycle, EndWritesTheCombinedDocumentLastToBothContainersAndClosesThem) {
    for (bool threadServices : {true, false}) {
        SCOPED_TRACE(threadServices);
        Reset();
        context->setThreadServices(threadServices);
        Start();
        EXPECT_EQ(Access::hasLock(peer()), threadServices);
        CompleteGroups();
        ASSERT_EQ(End(), 0u);
        EXPECT_EQ(Keys("StatXML"), (Strings{"m-1", "m-3", "rootStatXML"}));
        EXPECT_EQ(Keys("PMML"), (Strings{"m-1", "m-3", "rootPMML"}));
        const std::vector<refhost::Entry> stat = context->container("StatXML").entries(),
                                          pmml = context->container("PMML").entries();
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(stat[i].properties, "mimeType=application/vnd.qantor.stat+xml\ntypeId=SPLITstatxml.xml");
            EXPECT_EQ(pmml[i].properties, "mimeType=application/vnd.qantor.pmml+xml\ntypeId=SPLITpmml.xml");
            EXPECT_TRUE(stat[i].complete && pmml[i].complete);
        }
        EXPECT_EQ(stat[2].data, pmml[2].data);
        EXPECT_EQ(Outline(stat[2].data, 1), kCombinedRoot + "(BuildSettings{algorithm=tree} DataModel{version=1.0} "
                                                            "SplitGroup SplitGroup SplitGroup)");
        EXPECT_TRUE(context->container("StatXML").isClosed() && context->container("PMML").isClosed());
        EXPECT_FALSE(Access::containersOpen(peer()));
        EXPECT_TRUE(combined().isEmpty() && Access::inputModel(peer()).isEmpty());
        EXPECT_EQ(Messages(), "");
        EXPECT_EQ(context->lockStats().created + context->lockStats().taken > 0, threadServices);
    }
}

TEST_F(Lifecycle, EndWithoutAnyModelSummaryWritesNothingAndLeavesContainersOpen) {
    Start();
    ASSERT_EQ(End(), 1u);  // no task at all
    EXPECT_EQ(Messages(), "3/280014");
    ASSERT_EQ(Begin(), 0u);
    ASSERT_EQ(Complete(AddWorker({{"region", "north"}}, WorkerStatXML("m-1"), ""), 9), 0u);
    ASSERT_EQ(Write(true, "<x/>", "opened"), 0u);
    ASSERT_EQ(End(), 1u);
    EXPECT_EQ(Messages(), "3/280014");
    EXPECT_EQ(Keys("StatXML"), Strings{"opened"});
    EXPECT_FALSE(context->container("StatXML").isClosed());
    EXPECT_TRUE(combined().isEmpty());
    ASSERT_EQ(Begin(), 0u);  // the next execution closes what this one left open
    EXPECT_TRUE(context->container("StatXML").isClosed());
    EXPECT_FALSE(Access::containersOpen(peer()));
}

TEST_F(Lifecycle, EndStopsWhenTheDataModelSectionCannotBeBuilt) {
    context->setParameter("TargetFieldList", {"amount", "ghost"});
    Start();
    CompleteGroups();
    ASSERT_EQ(End(), 5u);
    EXPECT_EQ(Messages(), "3/280015");
    EXPECT_EQ(Keys("StatXML"), (Strings{"m-1", "m-3"}));
    EXPECT_FALSE(context->container("PMML").isClosed());
    EXPECT_TRUE(combined().isEmpty() && Access::inputModel(peer()).isEmpty());
    // A begin that could not read the data model leaves the end no section to build.
    context->faults().refuse("getInputDataModel", 1, 13, 0, 2);
    EXPECT_EQ(Begin(), 13u);
    EXPECT_FALSE(combined().isEmpty());
    EXPECT_EQ(End(), 5u);
}


// A host that leaves operations null, or answers 0 without the record asked
// for: each such call counts as refused with status 1, and nothing crashes.
CFLock kLockWithoutOperations{nullptr, nullptr, nullptr};
CFThreadServices kServicesWithBrokenLock{nullptr, nullptr, nullptr,
                                         [](void*, int*) { return &kLockWithoutOperations; }, nullptr};

TEST_F(Lifecycle, HostWithoutOperationsOrOutputsFailsCleanly) {
    // sections: children of the combined document's first SplitGroup; entries: keys written to "StatXML"
    const struct { const char* name; std::function<void(CFContext&, CFWorker&)> breakHost; uint32_t status;
                   const char* sections, *entries, *messages; } cases[] = {
        {"no getTask", [](CFContext&, CFWorker& w) { w.getTask = nullptr; }, 1, "", "", ""},
        {"no openWorkerContainer", [](CFContext&, CFWorker& w) { w.openWorkerContainer = nullptr; }, 1,
         "SplitField Message", "", ""},
        {"a container that is not there", [this](CFContext&, CFWorker&) { context->faults().refuse("openContainer", 1, 0, 0, 9); }, 1,
         "SplitField ModelSummary", "", ""},
        {"a lock without operations", [](CFContext& c, CFWorker&) {
             c.getThreadServices = [](void*, CFThreadServices** out, int*) { *out = &kServicesWithBrokenLock; return 0u; };
         }, 1, "", "", "3/280012 3/280012"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();  // ends the begun peer, so that it leaves no documents behind
        refhost::Worker& worker = AddWorker({{"region", "north"}}, WorkerStatXML("m-1"), WorkerPMML("a"));
        c.breakHost(*context->record(), *worker.record());
        Start();  // a new peer takes the services anew
        EXPECT_EQ(Complete(worker), c.status);
        XMLElement group = combined().getElementsDirect("SplitGroup").next();
        EXPECT_EQ(group.isEmpty() ? "" : ChildNames(group), c.sections);
        std::string keys;
        for (const std::string& key : Keys("StatXML")) keys += key;
        EXPECT_EQ(keys, c.entries);
        EXPECT_EQ(Messages(), c.messages);
    }
}

}  // namespace

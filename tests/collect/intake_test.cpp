// Taking in completed worker tasks, with every host failure along the way.
#include <functional>

#include "collect_support.h"

using namespace collecttest;

namespace {

const std::vector<TaskField> kNorth = {{"region", "north"}, {"channel", "", "true"}};

class Intake : public StartedFixture {
protected:
    // "summary " or "failure " for each section of the combined document.
    std::string Sections() {
        std::string kinds;
        for (auto groups = combined().getElementsDirect("SplitGroup"); groups.hasMore();) {
            const std::string names = ChildNames(groups.next());
            kinds += names.ends_with("ModelSummary") ? "summary " : names.ends_with("Message") ? "failure " : "other ";
        }
        return kinds;
    }
};

TEST_F(Intake, EveryFailureHasItsStatusSectionsEntriesAndMessages) {
    using Setup = std::function<void(refhost::Worker&)>;
    auto worker = [](const char* op, uint64_t nth) -> Setup { return [=](refhost::Worker& w) { w.faults().refuse(op, nth, 7); }; };
    auto hostOp = [this](const char* op, uint64_t nth) -> Setup {
        return [=, this](refhost::Worker&) { context->faults().refuse(op, nth, 7); }; };
    auto text = [](const char* c, std::string t) -> Setup {
        return [=](refhost::Worker& w) { w.container(c).setDefaultEntry(t); }; };
    auto task = [](std::string t) -> Setup { return [=](refhost::Worker& w) { w.setTask("", t); }; };
    // expected: status, sections, number of entries in StatXML/PMML, messages.
    const struct { const char* name; Setup setup; const char* expected; } rows[] = {
        {"no failure", [](refhost::Worker&) {}, "0 summary 1/1"},
        {"task text unparsable", task("<SplitFields>"), "5 0/0"},
        {"task without SplitField", task("<SplitFields/>"), "5 0/0"},
        {"WorkerStatXML empty", text("WorkerStatXML", ""), "1 failure 0/0"},
        {"first key's entry answered without a stream",  // the default entry's stream is not read again
         [](refhost::Worker& w) { w.container("WorkerStatXML").setDefaultEntry(""); w.container("WorkerStatXML").addEntry("k", WorkerStatXML("m-1"));
                                  w.faults().refuse("closeStream", 1, 0); w.faults().refuse("openEntry", 2, 0); }, "1 failure 0/0"},
        {"WorkerStatXML empty under its first key too",
         [](refhost::Worker& w) { w.container("WorkerStatXML").setDefaultEntry(""); w.container("WorkerStatXML").addEntry("k", ""); },
         "1 failure 0/0"},
        {"StatXML unparsable", text("WorkerStatXML", "<StatXML>"), "5 failure 0/0"},
        {"split field unknown to the input", task(TaskDocument({{"ghost", "g"}})), "5 failure 0/0"},
        {"model without summary", text("WorkerStatXML", R"(<StatXML><PMMLModel modelID="m"/></StatXML>)"), "5 failure 0/0"},
        {"empty model ID", text("WorkerStatXML", WorkerStatXML("")), "1 summary 0/0"},
        {"WorkerPMML missing", worker("openWorkerContainer", 2), "7 summary 1/0"},
        {"WorkerPMML empty", text("WorkerPMML", ""), "1 summary 1/0"},
        {"PMML unparsable", text("WorkerPMML", "<PMML"), "5 summary 1/0"},
        {"PMML container refused", hostOp("openContainer", 2), "0 summary 1/0"},
        {"PMML write refused", hostOp("writeStream", 2), "7 summary 1/1"},
        {"PMML writer lock refused", hostOp("lock", 5), "7 summary 1/0 3/280012"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        refhost::Worker& w = AddWorker(kNorth, WorkerStatXML("m-1"), WorkerPMML("t"));
        row.setup(w);
        const std::string status = std::to_string(Complete(w)), messages = Messages();
        EXPECT_EQ(status + " " + Sections() + std::to_string(Keys("StatXML").size()) + "/" +
                      std::to_string(Keys("PMML").size()) + (messages.empty() ? "" : " " + messages), row.expected);
        // Every stream opened is closed, once: none is left open, none closed again.
        EXPECT_EQ(w.faults().calls("closeStream"), w.faults().calls("openEntry") - w.faults().refused("openEntry"));
    }
}

TEST_F(Intake, ContainerTextIsReadInChunksFromTheDefaultEntryOrTheFirstKey) {
    const std::string a1000(1000, 'a');
    // silentRead: the nth read answers 0 and reports no count, which ends the text
    const struct { std::string defaultText, keyed, expected; std::vector<size_t> reads; uint64_t silentRead = 0; } rows[] = {
        {std::string(2100, 'x'), "", std::string(2100, 'x'), {1023, 1023, 54}},
        {std::string(2100, 'x'), "", std::string(1023, 'x'), {1023}, 2},
        {std::string(1023, 'y'), "", std::string(1023, 'y'), {1023, 0}},  // an exact multiple needs an empty read
        {a1000 + '\0' + std::string(100, 'b') + std::string(2000, 'c'), "",  // a zero byte ends its chunk's text
         a1000 + std::string(78, 'b') + std::string(2000, 'c'), {1023, 1023, 1023, 32}},
        {"", "first", "first", {0, 5}},  // an empty default entry falls back to the first key
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reads.size());
        refhost::Container& container = AddWorker(kNorth, "", "").container("C");
        container.setDefaultEntry(row.defaultText);
        if (!row.keyed.empty()) { container.addEntry("k1", row.keyed); container.addEntry("k2", "second"); }
        if (row.silentRead) container.faults().refuse("readStream", row.silentRead, 0);
        std::string text = "unchanged";
        ASSERT_EQ(peer().ReadWorkerContainer(workers.back()->record(), "C", text, &err), 0u);
        EXPECT_EQ(text, row.expected);
        EXPECT_EQ(container.readSizes(), row.reads);
        EXPECT_EQ(container.closeCount(), 1u);
    }
}

// Each task text starts in an 8192-byte buffer: one that needs all of it
// (its terminator included) takes one call, one byte more a second.
TEST_F(Intake, TaskTextsPastTheFirstBuffersTakeASecondCall) {
    const std::string task = TaskDocument(kNorth);
    const struct { std::size_t first, second, calls; } rows[] = {{0, 8191, 1}, {0, 8192, 2}, {8191, 0, 1}, {8192, 0, 2}};
    for (const auto& row : rows) {
        refhost::Worker& worker = AddWorker(kNorth, "", "");
        worker.setTask(std::string(row.first, 'f'), task + std::string(std::max(row.second, task.size()) - task.size(), ' '));
        std::vector<SplitFieldEntry> entries;
        ASSERT_EQ(peer().ReadSplitFields(worker.record(), entries, &err), 0u);
        EXPECT_EQ(worker.faults().calls("getTask"), row.calls) << row.first << " " << row.second;
    }
}

TEST_F(Intake, TaskFieldsTakeTheirCodesFromTheInputDataModel) {
    const std::string longValue(9000, 'v');
    refhost::Worker& worker = AddWorker({{"age", "3"}, {"ghost", longValue}, {"Region", "x", "true"}}, "", "");
    std::vector<SplitFieldEntry> entries{{"stale", 1, 1, "", ""}};
    ASSERT_EQ(peer().ReadSplitFields(worker.record(), entries, &err), 0u);
    EXPECT_EQ(worker.faults().calls("getTask"), 2u);  // beyond 8192 bytes
    std::string read;
    for (const SplitFieldEntry& e : entries)
        read += e.name + "/" + std::to_string(e.storage) + "/" + std::to_string(e.measure) + "/" + e.value.substr(0, 3) +
                "/" + e.isNull + " ";
    EXPECT_EQ(read, "age/1/1/3/false ghost/0/6/vvv/false Region/0/6/x/true ");
    EXPECT_EQ(entries[1].value, longValue);
}

// The first task, failed or not, names the split fields; any non-zero outcome fails unopened.
TEST_F(Intake, FirstTaskNamesTheSplitFieldsAndAnyNonZeroOutcomeFails) {
    for (int outcome : {-1, 3}) {
        refhost::Worker& failed = AddWorker(outcome < 0 ? kNorth : std::vector<TaskField>{{"channel", "web"}},
                                            WorkerStatXML("m"), WorkerPMML("t"));
        EXPECT_EQ(Complete(failed, outcome), 0u);
        EXPECT_EQ(failed.faults().calls("openWorkerContainer"), 0u);
    }
    ASSERT_EQ(peer().EndExecution(&err), 1u);  // no model
    ASSERT_EQ(peer().BeginExecution(nullptr, context->progress(), &err), 0u);
    EXPECT_EQ(Complete(AddWorker({{"channel", "web"}, {"region", "south"}}, WorkerStatXML("m"), WorkerPMML("t"))), 0u);
    EXPECT_EQ(Access::splitFields(peer()), (Strings{"region", "channel"}));
    // The failure section: the task's fields as they came, then the message.
    Restart();
    ASSERT_EQ(peer().ReportSplitFailure({{"region", 3, 3, "n<", "false"}, {"channel", 0, 6, "", "true"}}, &err), 0u);
    EXPECT_EQ(Outline(combined()), kCombinedRoot + "(SplitGroup(SplitField{name=region value=n< isNull=false} "
                                   "SplitField{name=channel value= isNull=true} Message{type=error}("
                                   "PrintableList{pattern=kSPLIT_SplitFailedErr_0 isKey=true})))");
    EXPECT_EQ(Sections(), "failure ");
}

}  // namespace

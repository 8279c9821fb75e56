// The fault-injection matrix: every place in the module that calls a host
// operation is found by a clean run with call-site recording, then run again
// with exactly that call refused. Each refusal must give the status, error
// number and messages its row below names, leave nothing open, and leave the
// components able to run a clean execution with the usual outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "faultmatrix/call_sites.h"
#include "faultmatrix/matrix_host.h"

namespace faultmatrix {
namespace {

using refhost::Message;

// A run of the matrix host; `setup` refuses calls before the one under test
// (given as the ordinal-th call site of op in a file, first call), so that
// the clean-up paths behind those refusals are reached too.
struct Scenario {
    const char* name;
    Variant variant;
    struct Setup { const char* op; const char* file; int ordinal; };
    std::vector<Setup> setup;
};

const Scenario kScenarios[] = {
    {"main", Variant::Main, {}},
    {"irregular host", Variant::Irregular, {}},
    {"unusable measure", Variant::NoMeasure, {}},
    {"empty model IDs", Variant::NoModelIds, {}},
    {"first worker refused", Variant::Main, {{"createWorker", "worker_planning.cpp", 0}}},
    {"record refused", Variant::Main, {{"addRecord", "worker_handout.cpp", 0}}},
    {"key list refused", Variant::Main, {{"getKeys", "read_worker_container.cpp", 0}}},
    {"first key refused", Variant::Main, {{"firstKey", "read_worker_container.cpp", 0}}},
    {"keyed entry refused", Variant::Main, {{"openEntry", "read_worker_container.cpp", 1}}},
    {"group container refused", Variant::Main, {{"openContainer", "write_group_entry.cpp", 0}}},
    {"group key refused", Variant::Main, {{"createKey", "write_group_entry.cpp", 0}}},
};

// The expectations of tests/faultmatrix/expectations.tsv, a call site a line.
struct Expectation {
    std::string op, step, file;
    int ordinal;
    cf_status status;
    int err;
    std::string messages;  // as Text() writes them
    long misuses;
};

std::vector<Expectation> ReadExpectations() {
    std::vector<Expectation> all;
    std::ifstream in(SPLIT_SOURCE_ROOT "/tests/faultmatrix/expectations.tsv");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Expectation e;
        std::string ordinal, status, err, misuses;
        for (std::string* field : {&e.op, &e.step, &e.file, &ordinal, &status, &err, &e.messages, &misuses})
            std::getline(fields, *field, '\t');
        e.ordinal = std::stoi(ordinal), e.misuses = std::stol(misuses);
        e.status = status == "R" ? kRefused : static_cast<cf_status>(std::stoul(status));
        e.err = err == "H" ? kHostErr : std::stoi(err);
        if (e.messages == "-") e.messages.clear();
        all.push_back(e);
    }
    EXPECT_GT(all.size(), 50u) << "expectations.tsv not read";
    return all;
}


// Calls no run can make: defensive code behind a condition that an earlier
// step always clears.
struct Unreachable { const char* op; const char* file; const char* text; const char* reason; };
const Unreachable kUnreachable[] = {
    {"releaseRecordSet", "worker_handout.cpp", "entry->records, &ignored",
     "the hand-out gives back a worker's record set before it collects the next group"},
    {"unlock", "add_model_summary.cpp", "lock.Release(&ignored)",
     "the split-group annotation always puts a SplitGroup under the worker document's root"},
};

const Expectation* Find(const SourceSite& site, const std::string& step) {
    const std::string file = site.file.substr(site.file.rfind('/') + 1);
    static const std::vector<Expectation> expectations = ReadExpectations();
    for (const Expectation& e : expectations)
        if (e.op == site.op && e.step == step && e.file == file && (e.ordinal < 0 || e.ordinal == site.ordinal))
            return &e;
    return nullptr;
}

// The kind of thing a refused release leaves behind.
Leaks LeftBy(const std::string& op) {
    Leaks l;
    if (op == "closeContainer") l.containers = 1;
    if (op == "closeStream") l.streams = 1;
    if (op == "releaseRecordSet") l.recordSets = 1;
    if (op == "destroyLock") l.locks = 1;
    if (op == "releaseKeys") l.keyLists = 1;
    return l;
}

std::string Text(const std::vector<Message>& messages) {
    std::string text;
    for (const Message& m : messages) {
        text += (text.empty() ? "" : " ") + std::to_string(m.type) + "/" + std::to_string(m.code);
        for (const std::string& a : m.args) text += "/" + a.substr(0, 20);
    }
    return text;
}

// One call site under test: where it is, in which scenario its first call
// happens, and which calls to refuse.
// refusals: the scenario's, then the site's first call
struct Case { const Scenario* scenario; const SourceSite* site; std::vector<Refusal> refusals; RunLog baseline; };

TEST(FaultMatrix, EveryHostCallSiteRefusedOnce) {
    refhost::Module module(SPLIT_MODULE_PATH);
    const std::vector<SourceSite> sources = ScanSources(SPLIT_SOURCE_ROOT);
    ASSERT_GT(sources.size(), 50u);

    // Clean runs of each scenario, recording where the module calls the host.
    std::vector<Case> cases;
    std::set<const SourceSite*> reached;
    std::map<const SourceSite*, uint64_t> mainFirstCalls;
    std::vector<std::string> unmatched;
    for (const Scenario& scenario : kScenarios) {
        std::vector<Refusal> setup;
        for (const Scenario::Setup& s : scenario.setup) {
            for (const auto& [site, call] : mainFirstCalls)
                if (site->op == s.op && site->ordinal == s.ordinal && site->file.ends_with(s.file))
                    setup.push_back({s.op, call});
            ASSERT_EQ(setup.size(), &s - scenario.setup.data() + 1u) << scenario.name << ": no site " << s.op;
        }
        std::vector<refhost::CallSite> sites;
        std::string modulePath;
        RunLog baseline = RunMatrixHost(module, scenario.variant, setup, "", &sites, &modulePath);
        ASSERT_FALSE(sites.empty()) << scenario.name;
        EXPECT_EQ(Describe(baseline.leaks), Describe(Leaks{})) << scenario.name;
        const std::vector<const SourceSite*> mapped = MapSites(sites, modulePath, sources, &unmatched);
        for (size_t i = 0; i < sites.size(); ++i) {
            const SourceSite* site = mapped[i];
            if (site == nullptr) continue;
            if (&scenario == &kScenarios[0] && !mainFirstCalls.count(site)) mainFirstCalls[site] = sites[i].firstCall;
            if (!reached.insert(site).second) continue;
            std::vector<Refusal> refusals = setup;
            refusals.push_back({site->op, sites[i].firstCall});
            cases.push_back({&scenario, site, refusals, baseline});
        }
    }
    EXPECT_TRUE(unmatched.empty()) << "calls from places the source scan does not know: " << testing::PrintToString(unmatched);

    for (const Case& c : cases) {
        const SourceSite& site = *c.site;
        SCOPED_TRACE(site.name() + " (" + c.scenario->name + "): " + site.text);
        const Refusal& refusal = c.refusals.back();
        const RunLog log = RunMatrixHost(module, c.scenario->variant, c.refusals, site.op);
        // The call that met the refusal.
        size_t at = 0;
        while (at < log.steps.size() && log.steps[at].watchedCalls < refusal.nth) ++at;
        ASSERT_LT(at, log.steps.size()) << "the refused call was not made";
        const Step& step = log.steps[at];
        const Step& before = c.baseline.steps.at(at);
        ASSERT_EQ(step.name, before.name);
        const Expectation* expected = before.status != 0 ? nullptr : Find(site, step.name);
        if (before.status == 0 && expected == nullptr) {
            ADD_FAILURE() << "no expectation for " << site.op << " in " << step.name << " (" << site.file << " #"
                          << site.ordinal << "): got status " << step.status
                          << ", err " << step.err << ", messages " << Text(step.messages);
            continue;
        }
        EXPECT_EQ(step.status, expected ? expected->status : before.status) << step.name;
        EXPECT_EQ(step.err, expected ? expected->err : before.err) << step.name;
        EXPECT_EQ(Text(step.messages), expected ? expected->messages : Text(before.messages)) << step.name;
        Leaks left = LeftBy(site.op);
        left.lockMisuses = expected ? expected->misuses : 0;
        EXPECT_EQ(Describe(log.leaks), Describe(left));
        if (at < log.lastExecution) {
            EXPECT_EQ(log.lastOutput, c.baseline.lastOutput) << "the next clean execution differs";
        }
    }

    // Every call site in the sources must have been reached and refused. An
    // optimising compiler may fold calls with the same text in one function
    // into one call instruction: such a call counts as covered with its twin.
    std::vector<std::string> missing, unreachable;
    size_t merged = 0, covered = 0;
    for (const SourceSite& s : sources) {
        bool skip = false;
        for (const Unreachable& u : kUnreachable)
            if (s.op == u.op && s.file.ends_with(u.file) && s.text.find(u.text) != std::string::npos) {
                unreachable.push_back(s.name() + " (" + u.reason + ")");
                skip = true;
            }
        if (skip) continue;
        if (reached.count(&s)) {
            ++covered;
            continue;
        }
        bool twin = false;
        for (const SourceSite* r : reached)
            twin |= r->op == s.op && r->file == s.file && r->text == s.text && std::abs(r->line - s.line) < 30;
        if (twin) {
            ++covered;
            ++merged;
        } else {
            missing.push_back(s.name() + ": " + s.text);
        }
    }
    std::cout << "fault-injection matrix: " << covered << " of " << sources.size() - unreachable.size()
              << " call sites covered (" << merged << " through a twin call the compiler merged it with); "
              << unreachable.size() << " more cannot be reached:\n";
    for (const std::string& u : unreachable) std::cout << "  " << u << "\n";
    EXPECT_TRUE(missing.empty()) << "call sites never reached:\n" << testing::PrintToString(missing);
}

// The records each task of an execution handed out, by their band ("[1 1][2]"),
// the entries it wrote ("StatXML:model-0 ...") and the groups in its root document.
struct Outcome { std::string handedOut, entries; size_t sections = 0; };
Outcome OutcomeOf(const std::string& output) {
    Outcome o;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("task=", 0) == 0) o.handedOut += o.handedOut.empty() ? "[" : "][";
        if (line.rfind("record=", 0) == 0) {
            const size_t band = line.find('|') + 1;
            o.handedOut += (o.handedOut.back() == '[' ? "" : " ") + line.substr(band, line.find('|', band) - band);
        }
        const size_t open = line.find('['), bar = line.find('|');
        if (line.rfind("StatXML[", 0) == 0 || line.rfind("PMML[", 0) == 0) {
            o.entries += (o.entries.empty() ? "" : " ") + line.substr(0, open) + ":" + line.substr(open + 1, bar - open - 1);
        }
    }
    // The root document runs from its entry to the first PMML entry.
    const size_t root = output.find("StatXML[rootStatXML|");
    const size_t end = root == std::string::npos ? root : output.find("\nPMML[", root);
    for (size_t at = output.find("<SplitGroup", root); at < end; at = output.find("<SplitGroup", at + 1)) ++o.sections;
    if (!o.handedOut.empty()) o.handedOut += "]";
    return o;
}

const std::string kTwoGroups =
    "StatXML:model-0 StatXML:model-1 StatXML:rootStatXML PMML:model-0 PMML:model-1 PMML:rootPMML";

// A refusal's effect, pinned: the host calls of the entry point call that met
// it (in the order the reference host logged them), and what the execution
// planned, handed out, wrote and collected.
TEST(FaultMatrix, RefusalsPinWorkersRecordsEntriesAndCalls) {
    const struct {
        const char* name;
        Variant variant;
        Refusal refusal;  // counted from the start of the run
        const char* step;
        std::vector<std::string> calls;
        size_t workers;
        Outcome outcome;
    } cases[] = {
        // The record key of the second record is only prepared (0), so 5 and 5 differ:
        // three workers and five reads.
        {"record key unread while planning", Variant::Integers, {"getRecordValue", 2}, "d.begin",
         {"getInputIterator", "getInputDataModel", "rewind", "nextRecord", "createWorker", "getRecordValue",
          "nextRecord", "getRecordValue!", "createWorker", "getRecordValue", "nextRecord", "getRecordValue",
          "createWorker", "getRecordValue", "nextRecord", "rewind", "nextRecord"},
         3, {"[5 5][7]", kTwoGroups, 2}},
        // The hand-out's first record key likewise: the first task hands out [5].
        {"record key unread in the hand-out", Variant::Integers, {"getRecordValue", 7}, "d.task",
         {"lock", "getRecordValue", "createRecordSet", "addRecord", "getRecordValue", "nextRecord",
          "getRecordValue!", "unlock"},
         2, {"[5][5]", kTwoGroups, 2}},
        // A refused second worker ends planning: the groups after it go to no worker.
        {"second worker refused", Variant::Main, {"createWorker", 2}, "d.begin",
         {"getInputIterator", "getInputDataModel", "getInputDataModel", "rewind", "nextRecord", "createWorker",
          "getRecordValue", "getRecordValue", "nextRecord", "getRecordValue", "getRecordValue", "nextRecord",
          "getRecordValue", "getRecordValue", "createWorker!", "rewind", "nextRecord"},
         1, {"[1 1]", "StatXML:model-0 StatXML:rootStatXML PMML:model-0 PMML:rootPMML", 1}},
        // A refused record: the partial record set goes back at once, the group's
        // first record is lost, and the next task starts at its second.
        {"record refused", Variant::Main, {"addRecord", 2}, "d.task",
         {"lock", "getRecordValue", "getRecordValue", "createRecordSet", "addRecord", "getRecordValue",
          "getRecordValue", "nextRecord", "getRecordValue", "getRecordValue", "addRecord!", "releaseRecordSet",
          "unlock"},
         3, {"[1][2]", kTwoGroups, 2}},
        // The first group's StatXML entry cannot be keyed: its summary stands, it
        // has no entries, and its PMML is not read.
        {"group entry key refused", Variant::Main, {"createKey", 1}, "c.completed",
         {"getTask", "lock", "unlock", "openWorkerContainer", "openEntry", "readStream", "closeStream",
          "closeContainer", "lock", "unlock", "lock", "unlock", "lock", "openContainer", "createKey!", "unlock"},
         3,
         {"[1 1][2][3 3]", "StatXML:model-1 StatXML:rootStatXML PMML:model-1 PMML:rootPMML", 3}},
    };
    refhost::Module module(SPLIT_MODULE_PATH);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunLog log = RunMatrixHost(module, c.variant, {c.refusal}, "");
        ASSERT_FALSE(log.outputs.empty());
        size_t workers = 0;
        const Step* step = nullptr;
        for (size_t i = 0; i < log.steps.size() && log.steps[i].name != "c.end"; ++i) {
            const Step& s = log.steps[i];
            if (s.name == "d.begin") workers = std::count(s.calls.begin(), s.calls.end(), "createWorker");
            const bool refused = std::find(s.calls.begin(), s.calls.end(), c.refusal.op + "!") != s.calls.end();
            if (step == nullptr && refused) step = &s;
        }
        ASSERT_NE(step, nullptr) << "no call was refused";
        EXPECT_EQ(step->name, c.step);
        EXPECT_EQ(testing::PrintToString(step->calls), testing::PrintToString(c.calls));
        EXPECT_EQ(workers, c.workers);
        const Outcome outcome = OutcomeOf(log.outputs[0]);
        EXPECT_EQ(outcome.handedOut, c.outcome.handedOut);
        EXPECT_EQ(outcome.entries, c.outcome.entries);
        EXPECT_EQ(outcome.sections, c.outcome.sections);
    }
}

}  // namespace
}  // namespace faultmatrix

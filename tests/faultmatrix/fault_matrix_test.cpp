// The fault-injection matrix: every place in the module that calls a host
// operation is found by a clean run with call-site recording, then run again
// with exactly that call refused. Each refusal must give the status, error
// number and messages its row of expectations.tsv names, leave nothing open,
// and leave the components able to run a clean execution with the usual
// outputs; what the refused run did is pinned in outcomes.tsv. A clean run of
// every variant of the matrix host is pinned whole in runs/.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "common/tsv.h"
#include "faultmatrix/call_sites.h"
#include "faultmatrix/matrix_host.h"

namespace faultmatrix {
namespace {

using refhost::Message;

// A run of the matrix host; `setup` refuses calls before the one under test
// (given as the ordinal-th call site of op in a file, first call), so that
// the clean-up paths behind those refusals are reached too.
struct Scenario { struct Setup { const char* op; const char* file; int ordinal; };
                  const char* name; Variant variant; std::vector<Setup> setup; };

const Scenario kScenarios[] = {
    {"main", Variant::Main, {}}, {"irregular host", Variant::Irregular, {}},
    {"unusable measure", Variant::NoMeasure, {}}, {"empty model IDs", Variant::NoModelIds, {}},
    {"first worker refused", Variant::Main, {{"createWorker", "worker_planning.cpp", 0}}},
    {"record refused", Variant::Main, {{"addRecord", "worker_handout.cpp", 0}}},
    {"key list refused", Variant::Main, {{"getKeys", "read_worker_container.cpp", 0}}},
    {"first key refused", Variant::Main, {{"firstKey", "read_worker_container.cpp", 0}}},
    {"keyed entry refused", Variant::Main, {{"openEntry", "read_worker_container.cpp", 1}}},
    {"group container refused", Variant::Main, {{"openContainer", "write_group_entry.cpp", 0}}},
    {"group key refused", Variant::Main, {{"createKey", "write_group_entry.cpp", 0}}},
};

// The expectations of tests/faultmatrix/expectations.tsv, a call site a line; messages as Text() writes them.
struct Expectation { std::string op, step, file; int ordinal; cf_status status; int err; std::string messages; long misuses; };

std::vector<Expectation> ReadExpectations() {
    std::vector<Expectation> all;
    for (const std::vector<std::string>& f : splittest::TsvRows("faultmatrix/expectations.tsv")) {
        const std::string &status = f.at(4), &err = f.at(5);
        all.push_back({f.at(0), f.at(1), f.at(2), std::stoi(f.at(3)),
                       status == "R" ? kRefused : static_cast<cf_status>(std::stoul(status)),
                       err == "H" ? kHostErr : std::stoi(err), f.at(6) == "-" ? "" : f.at(6), std::stol(f.at(7))});
    }
    EXPECT_GT(all.size(), 50u) << "expectations.tsv not read";
    return all;
}


// Calls no run can make: defensive code behind a condition that an earlier
// step always clears.
struct Unreachable { const char* op; const char* file; const char* text; const char* reason; };
const Unreachable kUnreachable[] = {
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

// The snapshots: compared with the files under tests/faultmatrix/, or
// written there when SPLIT_UPDATE_GOLDEN=1 (review the diff before committing).
const std::string kSnapshots = SPLIT_SOURCE_ROOT "/tests/faultmatrix/";
std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void CompareSnapshot(const std::string& name, const std::string& actual) {
    if (const char* update = std::getenv("SPLIT_UPDATE_GOLDEN"); update != nullptr && std::string(update) == "1") {
        std::filesystem::create_directories(std::filesystem::path(kSnapshots + name).parent_path());
        std::ofstream(kSnapshots + name, std::ios::binary) << actual;
        return;
    }
    const std::string expected = ReadFile(kSnapshots + name);
    if (expected == actual) return;
    const size_t at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end()).first - expected.begin();
    const size_t from = at == 0 ? 0 : expected.rfind('\n', at - 1) + 1;  // npos + 1 is 0
    const auto line = [&](const std::string& t) { return from < t.size() ? t.substr(from, t.find('\n', from) - from) : "<end>"; };
    ADD_FAILURE() << name << " differs at line " << std::count(expected.begin(), expected.begin() + from, '\n') + 1
                  << "\n  expected: " << line(expected) << "\n  actual:   " << line(actual);
}

// What a refused run did from the entry point call `at` that met the
// refusal: the workers its execution planned, the records each task handed
// out, the entries written and the groups in the root document, the host
// calls of that call, and the status (and err) of every later call of the
// execution. Refusals at creation count as the first execution's.
std::string OutcomeLine(const RunLog& log, size_t at) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < log.steps.size(); ++i)
        if (log.steps[i].name == "d.configure") starts.push_back(i);
    size_t execution = 0;
    while (execution + 1 < starts.size() && starts[execution + 1] <= at) ++execution;
    const size_t end = execution + 1 < starts.size() ? starts[execution + 1] : log.steps.size();
    long workers = 0;
    std::string later;
    for (size_t i = starts.empty() ? end : starts[execution]; i < end; ++i)
        if (log.steps[i].name == "d.begin")
            workers += std::count(log.steps[i].calls.begin(), log.steps[i].calls.end(), "createWorker");
    for (size_t i = at + 1; i < end; ++i) {
        const Step& s = log.steps[i];
        later += (later.empty() ? "" : " ") + s.name + "=" + std::to_string(s.status);
        if (s.err != 0) later += "/" + std::to_string(s.err);
    }
    const Outcome o = execution < log.outputs.size() ? OutcomeOf(log.outputs[execution]) : Outcome{};
    std::string calls;
    for (const std::string& c : log.steps[at].calls) calls += (calls.empty() ? "" : " ") + c;
    const auto dash = [](const std::string& t) { return t.empty() ? std::string("-") : t; };
    return log.steps[at].name + "\t" + std::to_string(workers) + "\t" + dash(o.handedOut) + "\t" + dash(o.entries) +
           "\t" + std::to_string(o.sections) + "\t" + dash(calls) + "\t" + dash(later);
}

// Calls of one operation with the same text close together in one file,
// which an optimising compiler may fold into one call instruction.
bool Twins(const SourceSite& a, const SourceSite& b) {
    return a.op == b.op && a.file == b.file && a.text == b.text && std::abs(a.line - b.line) < 30;
}

// A site's key in outcomes.tsv: operation, file name and ordinal.
std::string KeyOf(const SourceSite& s, int ordinal) {
    return s.op + "\t" + s.file.substr(s.file.rfind('/') + 1) + "\t" + std::to_string(ordinal) + "\t";
}

// Refusals pinned beside the matrix's own, counted from the start of the
// run: with a single integer split field an unread record key holds what it
// held before, only prepared (0) on the first record after the group's, the
// group's value once a record matched it.
const struct { const char* name; Variant variant; Refusal refusal; } kPinned[] = {
    {"record key unread while planning", Variant::Integers, {"getRecordValue", 2}},
    {"record key unread after a matching one", Variant::Integers, {"getRecordValue", 3}},
    {"record key unread in the hand-out", Variant::Integers, {"getRecordValue", 7}},
};

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
    std::map<std::string, std::string> outcomes;  // by op, file, ordinal and scenario
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
        outcomes[KeyOf(site, site.ordinal) + c.scenario->name] = OutcomeLine(log, at);
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
        if (at < log.lastExecution) { EXPECT_EQ(log.lastOutput, c.baseline.lastOutput) << "the next clean execution differs"; }
    }

    // Every call site in the sources must have been reached and refused. An
    // optimising compiler may fold calls with the same text in one function
    // into one call instruction: such a call counts as covered with its twin.
    std::vector<std::string> missing, unreachable;
    std::vector<const SourceSite*> folded;  // reached only through a twin
    size_t merged = 0, covered = 0;
    for (const SourceSite& s : sources) {
        const Unreachable* u = std::find_if(std::begin(kUnreachable), std::end(kUnreachable), [&](const Unreachable& x) {
            return s.op == x.op && s.file.ends_with(x.file) && s.text.find(x.text) != std::string::npos;
        });
        if (u != std::end(kUnreachable)) {
            unreachable.push_back(s.name() + " (" + u->reason + ")");
            continue;
        }
        if (reached.count(&s)) {
            ++covered;
            continue;
        }
        if (std::any_of(reached.begin(), reached.end(), [&](const SourceSite* r) { return Twins(*r, s); })) {
            ++covered;
            ++merged;
            folded.push_back(&s);
        } else {
            missing.push_back(s.name() + ": " + s.text);
        }
    }
    std::cout << "fault-injection matrix: " << covered << " of " << sources.size() - unreachable.size()
              << " call sites covered (" << merged << " through a twin call the compiler merged it with); "
              << unreachable.size() << " more cannot be reached:\n";
    for (const std::string& u : unreachable) std::cout << "  " << u << "\n";
    EXPECT_TRUE(missing.empty()) << "call sites never reached:\n" << testing::PrintToString(missing);

    for (const auto& p : kPinned) {
        const RunLog log = RunMatrixHost(module, p.variant, {p.refusal}, p.refusal.op);
        size_t at = 0;
        while (at < log.steps.size() && log.steps[at].watchedCalls < p.refusal.nth) ++at;
        ASSERT_LT(at, log.steps.size()) << p.name;
        outcomes[p.refusal.op + "\t-\t" + std::to_string(p.refusal.nth) + "\t" + p.name] = OutcomeLine(log, at);
    }
    // The snapshot keeps its header. A call folded with a twin is refused
    // under one ordinal where a Debug build refuses each twin: the rows of
    // such a group are the ones a Debug build wrote, and each refusal here
    // must match one of them, its ordinal aside.
    std::set<std::string> group;
    for (const SourceSite* t : folded)
        for (const SourceSite& s : sources)
            if (Twins(s, *t)) group.insert(KeyOf(s, s.ordinal));
    const auto inGroup = [&](const std::string& row) {
        return std::any_of(group.begin(), group.end(), [&](const std::string& g) { return row.starts_with(g); });
    };
    const auto withoutOrdinal = [](const std::string& row) {
        const size_t at = row.find('\t', row.find('\t') + 1);
        return row.substr(0, at) + row.substr(row.find('\t', at + 1));
    };
    std::string header;
    std::set<std::string> rows, writtenAnyOrdinal;
    std::istringstream lines(ReadFile(kSnapshots + "outcomes.tsv"));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("#")) header += line + "\n";
        if (inGroup(line)) rows.insert(line + "\n"), writtenAnyOrdinal.insert(withoutOrdinal(line));
    }
    for (const auto& [key, outcome] : outcomes) {
        const std::string row = key + "\t" + outcome;
        if (!inGroup(row)) rows.insert(row + "\n");
        else EXPECT_TRUE(writtenAnyOrdinal.count(withoutOrdinal(row))) << "a folded call's outcome differs: " << row;
    }
    for (const std::string& row : rows) header += row;
    CompareSnapshot("outcomes.tsv", header);
}

// Text a snapshot can hold: control bytes other than the line feed as \xNN,
// and a run of more than 32 equal bytes as the byte and {its length}.
std::string Printable(const std::string& text) {
    std::string out;
    for (size_t i = 0, run; i < text.size(); i += run) {
        run = std::find_if(text.begin() + i, text.end(), [&](char c) { return c != text[i]; }) - text.begin() - i;
        char one[8] = {text[i]};
        if (static_cast<unsigned char>(text[i]) < 0x20 && text[i] != '\n')
            std::snprintf(one, sizeof one, "\\x%02x", static_cast<unsigned char>(text[i]));
        for (size_t k = 0; k < (run > 32 ? 1 : run); ++k) out += one;
        if (run > 32) out += "{" + std::to_string(run) + "}";
    }
    return out;
}

// A clean run of every variant, pinned: the module's information and
// execution requirements, each entry point call's status, err, messages and
// host calls, then what each execution handed out (task documents, records,
// data model size, input copies) and every entry written, byte for byte.
TEST(FaultMatrix, CleanRunOfEachVariant) {
    const struct { const char* name; Variant variant; } variants[] = {
        {"main", Variant::Main},         {"irregular", Variant::Irregular},
        {"no_measure", Variant::NoMeasure}, {"no_model_ids", Variant::NoModelIds},
        {"integers", Variant::Integers}, {"keys", Variant::Keys},
        {"one_group", Variant::OneGroup}, {"no_records", Variant::NoRecords}};
    refhost::Module module(SPLIT_MODULE_PATH);
    refhost::Host host;
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        // The module's own two documents head each transcript: the same
        // bytes whatever ran before.
        ASSERT_EQ(module.initialise(host), 0u);
        std::string text = "information=" + module.moduleInformation() + "\nrequirements=" +
                           module.executionRequirements() + "\n";
        const RunLog log = RunMatrixHost(module, v.variant, {}, "");
        EXPECT_EQ(Describe(log.leaks), Describe(Leaks{}));
        for (const Step& s : log.steps) {
            const std::string messages = Text(s.messages);
            text += s.name + " " + std::to_string(s.status) + " " + std::to_string(s.err) + " " +
                    (messages.empty() ? "-" : messages) + ":";
            for (const std::string& c : s.calls) text += " " + c;
            text += "\n";
        }
        for (size_t i = 0; i < log.outputs.size(); ++i)
            text += "== execution " + std::to_string(i + 1) +
                    (i > 0 && log.outputs[i] == log.outputs[i - 1] ? ": as the one before\n" : "\n" + log.outputs[i]);
        CompareSnapshot("runs/" + std::string(v.name) + ".txt", Printable(text));
    }
}

}  // namespace
}  // namespace faultmatrix

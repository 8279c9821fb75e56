// A run gives every group's job to its engine, not the local worker; results come in group order.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <tuple>

#include "refhost/engine.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/run.h"

namespace refhost {
namespace {

struct RemoteLikeEngine : Engine {  // as if elsewhere: group 2's fit fails, group 4's process is lost
    size_t concurrency() const override { return 3; }
    WorkerOutput run(const WorkerJob& job, const WorkerFunction&) override {
        ++calls;
        if (job.groupIndex == 4) throw EngineFailure("rank 2 lost");
        if (job.groupIndex == 2) return {1, "too few records", "", "", ""};
        const std::string id = std::to_string(job.groupIndex);
        return {0, "", "<StatXML><PMMLModel modelID=\"m" + id + "\" modelType=\"RegressionModel\" isActive=\"true\">"
                       "<PredictiveSummary recordCount=\"10\"/></PMMLModel></StatXML>", "<PMML version=\"4.4\"/>", id};
    }
    std::atomic<int> calls{0};
};

TEST(EngineRun, GroupsRunOnTheEngineAndArriveInOrder) {
    RemoteLikeEngine engine;
    RunConfig config;
    config.input = Table({{"g", 1, 1}, {"x", 2, 1}});
    for (int64_t i = 0; i < 60; ++i) config.input.addRow({Cell::integer(i / 10), Cell::real(i * 0.5)});
    config.splitFields = {"g"};
    config.engine = &engine;
    config.worker = [](const WorkerJob&) -> WorkerOutput { throw std::logic_error("ran locally"); };
    std::vector<std::string> seen(6);  // a slot per group, so hooks on several threads never collide
    config.received = [&seen](const WorkerJob& job, WorkerOutput& out) { seen[job.groupIndex] = "+" + out.attachment; };
    Module module;
    Host host;
    const std::vector<GroupReport> g = runSplit(module, host, config).groups;
    ASSERT_EQ(std::make_pair(engine.calls.load(), g.size()), std::make_pair(6, size_t{6}));
    const std::string reasons[] = {"", "", "too few records", "", "rank 2 lost", ""};
    for (size_t i = 0; i < g.size(); ++i)
        EXPECT_EQ(std::tie(g[i].index, g[i].records, g[i].outcome, g[i].reason, g[i].collectStatus),
                  std::make_tuple(i, size_t{10}, reasons[i].empty() ? 0 : 1, reasons[i], cf_status{0}));
    EXPECT_EQ(seen, (std::vector<std::string>{"+0", "+1", "+", "+3", "", "+5"}));  // a failed fit, not a lost job
}

TEST(EngineRun, EveryGroupGetsTheInputDocumentsAsOneSharedCopy) {
    RunConfig config;
    config.input = Table({{"g", 1, 1}, {"x", 2, 1}});
    for (int64_t i = 0; i < 40; ++i) config.input.addRow({Cell::integer(i / 5), Cell::real(i * 0.5)});
    config.splitFields = {"g"};
    config.threads = 3;
    std::string pmml = "<PMML>";
    for (int i = 0; pmml.size() < 5000; ++i) pmml += "<X n=\"" + std::to_string(i) + "\"/>";  // several module reads
    pmml += "</PMML>";
    config.inputPmml = std::make_shared<const std::string>(pmml);
    config.inputStatXml = std::make_shared<const std::string>("<StatXML/>");
    std::vector<std::shared_ptr<const std::string>> pmmls(8), statXmls(8), dataModels(8);
    // Work while the module plans: on the threads planning leaves idle,
    // with the run's shared data model, and over before any hand-out.
    const int idle = int(std::min(3u, std::max(1u, std::thread::hardware_concurrency()))) - 1;
    std::atomic<int> planningDone{0};
    std::shared_ptr<const std::string> planningModel;
    config.whilePlanning = [&](const std::shared_ptr<const std::string>& model, const std::atomic<bool>& planned) {
        for (; !planned; std::this_thread::yield()) {}
        if (planningDone++ == 0) planningModel = model;
    };
    std::vector<int> doneAtHandOut(8);
    config.worker = [&](const WorkerJob& job) {
        pmmls[job.groupIndex] = job.inputPmml;
        statXmls[job.groupIndex] = job.inputStatXml;
        dataModels[job.groupIndex] = job.dataModel;
        doneAtHandOut[job.groupIndex] = planningDone;
        return WorkerOutput{1, "no model", "", "", ""};
    };
    Module module;
    Host host;
    ASSERT_EQ(runSplit(module, host, config).groups.size(), size_t{8});
    for (size_t g = 0; g < 8; ++g) {
        ASSERT_TRUE(pmmls[g] && statXmls[g]) << g;
        EXPECT_EQ(std::tie(*pmmls[g], *statXmls[g]), std::tie(pmml, "<StatXML/>")) << g;
        // The run's own bytes, not a copy of them.
        EXPECT_EQ(std::make_pair(pmmls[g], statXmls[g]), std::make_pair(config.inputPmml, config.inputStatXml)) << g;
        EXPECT_EQ(doneAtHandOut[g], idle) << g;
        EXPECT_TRUE(idle == 0 || dataModels[g] == planningModel) << g;
    }
}

}  // namespace
}  // namespace refhost

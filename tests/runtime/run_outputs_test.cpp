// A whole run through the module: the result's outputs are the collect
// component's entries, found by key and read back from the spool after the
// run's contexts and containers are gone.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/run.h"
#include "refhost/table.h"

namespace refhost {
namespace {

constexpr size_t kGroups = 300;

WorkerOutput groupWorker(const WorkerJob& job) {
    char id[32];
    std::snprintf(id, sizeof id, "model-%04zu", job.groupIndex + 1);
    WorkerOutput out;
    out.statXml = std::string("<StatXML><PMMLModel modelID=\"") + id +
                  "\" modelType=\"RegressionModel\" isActive=\"true\"><PredictiveSummary recordCount=\"" +
                  std::to_string(job.records.rowCount()) + "\"/></PMMLModel></StatXML>";
    out.pmml = "<PMML xmlns=\"http://www.dmg.org/PMML-4_4\" version=\"4.4\"><DataDictionary/>"
               "<Header description=\"" + std::string(id) + "\"/></PMML>";
    return out;
}

TEST(RunOutputs, HoldEveryCollectedEntryReadBackFromTheSpool) {
    Table input({{"k", 3, 3}, {"y", 2, 1}});
    for (size_t g = 0; g < kGroups; ++g)
        for (int r = 0; r < 2; ++r)
            input.addRow({Cell::text("s" + std::to_string(1000 + g)), Cell::real(static_cast<double>(r))});
    Module module(SPLIT_MODULE_PATH);
    Host host;
    RunConfig config;
    config.input = input;
    config.splitFields = {"k"};
    config.targetFields = {"y"};
    config.worker = groupWorker;
    config.threads = 2;
    const RunResult result = runSplit(module, host, config);
    ASSERT_TRUE(result.ok());

    // One entry per group under its model ID, each with its own group's
    // PMML, then the root document, the same bytes in both containers.
    for (const char* name : {"StatXML", "PMML"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(result.outputs.count(name), kGroups + 1);
        const std::vector<Entry> entries = result.outputs.entries(name);
        for (size_t g = 0; g < kGroups; ++g) {
            char id[32];
            std::snprintf(id, sizeof id, "model-%04zu", g + 1);
            ASSERT_EQ(result.outputs.find(name, id), std::optional<size_t>(g));
            EXPECT_EQ(entries[g].key, id);
            EXPECT_TRUE(entries[g].complete);
            EXPECT_NE(entries[g].data.find(id), std::string::npos);
            EXPECT_EQ(result.outputs.entry(name, g).data, entries[g].data);
        }
    }
    const Entry rootStatXml = result.outputs.entry("StatXML", kGroups);
    const Entry rootPmml = result.outputs.entry("PMML", kGroups);
    EXPECT_EQ(rootStatXml.key, "rootStatXML");
    EXPECT_EQ(rootPmml.key, "rootPMML");
    EXPECT_GT(rootStatXml.data.size(), kGroups * 100);
    EXPECT_TRUE(rootStatXml.data == rootPmml.data);
    EXPECT_THROW(result.outputs.entry("PMML", kGroups + 1), std::out_of_range);
}

}  // namespace
}  // namespace refhost

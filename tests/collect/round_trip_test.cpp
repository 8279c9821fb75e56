// A whole run through the reference host's run driver: the data set is
// distributed, simple workers write a StatXML and a PMML per group (one
// fails, one writes StatXML that does not parse), and the results are
// collected.
#include "collect_support.h"
#include "refhost/run.h"

using namespace collecttest;
using refhost::Cell;

namespace {

refhost::WorkerOutput Work(const refhost::WorkerJob& job) {
    if (job.groupIndex == 1) return {1, "no model for this group", "", ""};
    if (job.groupIndex == 2) return {0, "", "<StatXML><PMMLModel", "<PMML/>"};
    const std::string n = std::to_string(job.groupIndex), records = std::to_string(job.records.rowCount());
    return {0, "",
            R"(<StatXML><PMMLModel modelID="model-)" + n + R"(" isActive="true"><PredictiveSummary records=")" + records +
                R"("/></PMMLModel></StatXML>)",
            R"(<PMML version="4.4"><DataDictionary/><RegressionModel records=")" + records + R"("/></PMML>)"};
}

std::string Keys(const std::vector<refhost::Entry>& entries) {
    std::string keys;
    for (const refhost::Entry& entry : entries) keys += entry.key + " ";
    return keys;
}

TEST(RoundTrip, DistributedGroupsAreCollectedWithTheirFailures) {
    refhost::RunConfig config;
    config.input = refhost::Table({{"region", 3, 3}, {"x", 2, 1}, {"y", 2, 1}});
    const Cell north = Cell::text("north"), south = Cell::text("south"), east = Cell::text("east");
    const Cell regions[] = {north, north, north, south, south, east, east, Cell::text("west"), Cell::missing()};
    for (int i = 0; i < 9; ++i) config.input.addRow({regions[i], Cell::real(i + 1), Cell::real(2 * (i + 1))});
    config.splitFields = {"region"};
    config.targetFields = {"y"};
    config.inputFields = {"x"};
    config.worker = Work;
    config.threads = 3;
    refhost::Host host;
    refhost::Module module(SPLIT_MODULE_PATH);
    const refhost::RunResult result = refhost::runSplit(module, host, config);

    for (const refhost::StepStatus& step : result.steps) EXPECT_EQ(step.status, 0u) << step.step;
    EXPECT_TRUE(result.distributeMessages.empty() && result.collectMessages.empty());
    std::string groups;  // records and collect status of each group
    for (const refhost::GroupReport& group : result.groups)
        groups += std::to_string(group.records) + "/" + std::to_string(group.collectStatus) + " ";
    EXPECT_EQ(groups, "3/0 2/0 2/5 1/0 1/0 ");
    EXPECT_EQ(Keys(result.statXml), "model-0 model-3 model-4 rootStatXML ");
    EXPECT_EQ(Keys(result.pmml), "model-0 model-3 model-4 rootPMML ");
    EXPECT_EQ(result.statXml.back().data, result.pmml.back().data);
    // The group with the missing value carries no value in its PMML.
    EXPECT_EQ(Outline(result.pmml[2].data), "PMML{version=4.4}(MiningBuildTask(Extension{name=split-info extender="
              "morvi-split}(DataField{name=region optype=categorical dataType=string})) DataDictionary "
              "RegressionModel{records=1})");

    XMLDocument combined = CfCppHelperV1::HostHelper(host.record()).createFromContents(result.statXml.back().data);
    // The data model section first, then one section per group in group order.
    const XMLElement section = combined.getElementsDirect("DataModel").next();
    EXPECT_EQ(Outline(section.getElementsDirect("FieldGroups").next()),
              "FieldGroups(FieldGroup{groupType=splitGroup name=}(FieldName{name=region}))");
    EXPECT_EQ(Roles(section.getElementsDirect("Fields").next()), "region=split x=input y=target");
    const std::string field = "SplitGroup(SplitField{name=region value=", failure = " isNull=false} Message{type=error}) ";
    EXPECT_EQ(ChildNames(combined), "DataModel SplitGroup SplitGroup SplitGroup SplitGroup SplitGroup");
    std::string sections;
    for (auto group = combined.getElementsDirect("SplitGroup"); group.hasMore();) sections += Outline(group.next(), 1) + " ";
    EXPECT_EQ(sections,
              field + "north isNull=false} ModelSummary{modelID=model-0}) " + field + "south" + failure + field + "east" +
                  failure + field + "west isNull=false} ModelSummary{modelID=model-3}) " + field +
                  " isNull=true} ModelSummary{modelID=model-4}) ");
    combined.dispose();
}

}  // namespace

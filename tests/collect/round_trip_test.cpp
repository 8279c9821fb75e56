// A whole run through the reference host's run driver: the data set is
// distributed, simple workers write a StatXML and a PMML per group (one
// fails, one writes StatXML that does not parse), and the results are
// collected.
#include "collect_support.h"
#include "refhost/run.h"

using namespace collecttest;
using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;
using refhost::Cell;

namespace {

refhost::Table Input() {
    refhost::Table table({{"region", 3, 3}, {"x", 2, 1}, {"y", 2, 1}});
    const std::vector<std::pair<Cell, double>> rows = {
        {Cell::text("north"), 1}, {Cell::text("north"), 2}, {Cell::text("north"), 3},
        {Cell::text("south"), 4}, {Cell::text("south"), 5}, {Cell::text("east"), 6},
        {Cell::text("east"), 7},  {Cell::text("west"), 8},  {Cell::missing(), 9}};
    for (const auto& [region, x] : rows) table.addRow({region, Cell::real(x), Cell::real(2 * x)});
    return table;
}

refhost::WorkerOutput Work(const refhost::WorkerJob& job) {
    const std::string n = std::to_string(job.groupIndex);
    if (job.groupIndex == 1) return {1, "no model for this group", "", ""};
    if (job.groupIndex == 2) return {0, "", "<StatXML><PMMLModel", "<PMML/>"};
    const std::string records = std::to_string(job.records.rowCount());
    return {0, "",
            R"(<StatXML><PMMLModel modelID="model-)" + n + R"(" isActive="true">)"
            R"(<PredictiveSummary records=")" + records + R"("/></PMMLModel></StatXML>)",
            R"(<PMML version="4.4"><DataDictionary/><RegressionModel records=")" + records + R"("/></PMML>)"};
}

std::vector<std::string> Keys(const std::vector<refhost::Entry>& entries) {
    std::vector<std::string> keys;
    for (const refhost::Entry& entry : entries) keys.push_back(entry.key);
    return keys;
}

TEST(RoundTrip, DistributedGroupsAreCollectedWithTheirFailures) {
    refhost::Host host;
    refhost::Module module(SPLIT_MODULE_PATH);
    refhost::RunConfig config;
    config.input = Input();
    config.splitFields = {"region"};
    config.targetFields = {"y"};
    config.inputFields = {"x"};
    config.worker = Work;
    config.threads = 3;
    const refhost::RunResult result = refhost::runSplit(module, host, config);

    for (const refhost::StepStatus& step : result.steps) EXPECT_EQ(step.status, 0u) << step.step;
    EXPECT_TRUE(result.distributeMessages.empty());
    EXPECT_TRUE(result.collectMessages.empty());
    ASSERT_EQ(result.groups.size(), 5u);
    const uint32_t collectStatuses[] = {0, 0, 5, 0, 0};
    const size_t records[] = {3, 2, 2, 1, 1};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(result.groups[i].collectStatus, collectStatuses[i]) << i;
        EXPECT_EQ(result.groups[i].records, records[i]) << i;
    }

    EXPECT_EQ(Keys(result.statXml), (std::vector<std::string>{"model-0", "model-3", "model-4", "rootStatXML"}));
    EXPECT_EQ(Keys(result.pmml), (std::vector<std::string>{"model-0", "model-3", "model-4", "rootPMML"}));
    EXPECT_EQ(result.statXml.back().data, result.pmml.back().data);

    // The group with the missing value carries no value in its PMML.
    EXPECT_TRUE(SameTree(result.pmml[2].data, R"(<PMML version="4.4">
      <MiningBuildTask><Extension name="split-info" extender="morvi-split">
        <DataField name="region" optype="categorical" dataType="string"/></Extension></MiningBuildTask>
      <DataDictionary/><RegressionModel records="1"/></PMML>)"));

    CfCppHelperV1::HostHelper helper(host.record());
    XMLDocument combined = helper.createFromContents(result.statXml.back().data);
    XMLElement section = combined.getElementsDirect("DataModel").next();
    EXPECT_TRUE(SameTree(section.getElementsDirect("FieldGroups").next(),
                         R"(<FieldGroups><FieldGroup groupType="splitGroup" name=""><FieldName name="region"/></FieldGroup></FieldGroups>)"));
    std::string roles;
    auto fields = section.getElementsDirect("Fields").next().getElementsDirect("Field");
    while (fields.hasMore()) {
        XMLElement field = fields.next();
        roles += field.getAttribute("name") + "=" + field.getAttribute("role") + " ";
    }
    EXPECT_EQ(roles, "region=split x=input y=target ");

    // One section per group in group order: summaries and failures.
    const std::vector<std::tuple<std::string, std::string, std::string>> expected = {
        {"north", "false", "model-0"}, {"south", "false", ""}, {"east", "false", ""},
        {"west", "false", "model-3"},  {"", "true", "model-4"}};
    auto groups = combined.getElementsDirect("SplitGroup");
    ASSERT_EQ(groups.count(), expected.size());
    for (const auto& [value, isNull, model] : expected) {
        SCOPED_TRACE(value);
        XMLElement group = groups.next();
        XMLElement field = group.getElementsDirect("SplitField").next();
        EXPECT_EQ(field.getAttribute("value"), value);
        EXPECT_EQ(field.getAttribute("isNull"), isNull);
        auto summary = group.getElementsDirect("ModelSummary");
        if (model.empty()) {
            EXPECT_FALSE(summary.hasMore());
            EXPECT_TRUE(group.getElementsDirect("Message").hasMore());
        } else {
            ASSERT_TRUE(summary.hasMore());
            EXPECT_EQ(summary.next().getAttribute("modelID"), model);
        }
    }
    EXPECT_EQ(combined.getElementsDirect("").next().getName(), "DataModel");
    combined.dispose();
}

}  // namespace

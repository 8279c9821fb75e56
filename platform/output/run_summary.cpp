#include "run_summary.h"

namespace splitrun {

namespace {

std::string statusText(refhost::StepStatus step)
{
    return step.step + " returned status " + std::to_string(step.status) +
           (step.err != 0 ? " (error " + std::to_string(step.err) + ")" : "");
}

}  // namespace

RunSummary summariseRun(const refhost::RunResult& result, const GroupWorker& worker)
{
    RunSummary summary;
    summary.groups.reserve(result.groups.size());
    for (std::size_t i = 0; i < result.groups.size(); ++i) {
        const refhost::GroupReport& report = result.groups[i];
        GroupOutcome group;
        group.index = i;
        group.values = parseTaskDocument(report.task);
        group.records = report.records;
        group.model = worker.model(i);
        const std::string id = modelIdFor(i);
        group.pmml = result.outputs.find("PMML", id);
        if (report.outcome != 0)
            group.failure = report.reason.empty() ? "the worker failed" : report.reason;
        else if (report.collectStatus != 0)
            group.failure = "the collect component returned status " +
                            std::to_string(report.collectStatus) + " for this group";
        else if (!group.pmml)
            group.failure = "the collect component stored no PMML for this group";
        if (group.failure.empty()) {
            group.modelId = id;
            ++summary.models;
        } else {
            ++summary.failures;
        }
        summary.groups.push_back(std::move(group));
    }
    for (const refhost::StepStatus& step : result.steps)
        if (step.status != 0) summary.componentFailures.push_back(statusText(step));
    for (const refhost::TaskFailure& failure : result.taskFailures)
        summary.componentFailures.push_back(
            "worker " + std::to_string(failure.workerId) + " got no task: status " +
            std::to_string(failure.status) +
            (failure.err != 0 ? " (error " + std::to_string(failure.err) + ")" : ""));
    return summary;
}

}  // namespace splitrun

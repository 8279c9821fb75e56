#include "run_summary.h"

#include <cstdlib>

#include "visible_text.h"

namespace splitrun {

namespace {

std::string statusText(refhost::StepStatus step)
{
    return step.step + " returned status " + std::to_string(step.status) +
           (step.err != 0 ? " (error " + std::to_string(step.err) + ")" : "");
}

std::string keyText(const SplitKey& key)
{
    std::string text;
    for (const splitmodels::SplitValue& value : key)
        text += (text.empty() ? "" : ", ") + value.field + "=" +
                (value.missing ? std::string("<missing>") : visibleText(value.value));
    return text;
}

// Writes the group's real split values as its first key holds them, and
// notes the keys the module merged into the group.
void adoptExactKeys(GroupOutcome& group, const std::vector<SplitKey>& keys, RunSummary& summary)
{
    if (keys.empty()) return;
    bool ownPmmlDiffers = false;
    for (TaskSplitValue& value : group.values)
        for (const splitmodels::SplitValue& exact : keys.front()) {
            if (exact.field != value.field || exact.missing || value.missing) continue;
            if (exact.storage == splitmodels::StorageReal) {
                ownPmmlDiffers |= std::strtod(value.value.c_str(), nullptr) != std::strtod(exact.value.c_str(), nullptr);
                value.value = exact.value;
            }
        }
    if (keys.size() < 2 && ownPmmlDiffers)
        summary.keyNotes.push_back("the group of " + keyText(keys.front()) +
                                   " is written in its own PMML with the split value the module's task document "
                                   "gives, which does not select its records exactly; score with split-model.pmml");
    if (keys.size() < 2) return;
    std::string listed;
    for (std::size_t k = 0; k < keys.size() && k < 5; ++k) listed += (k ? "; " : "") + keyText(keys[k]);
    summary.keyNotes.push_back(
        "the group of " + keyText(keys.front()) + " holds " + std::to_string(keys.size()) +
        " distinct split keys that the module takes as one group (reals closer than its tolerance): " + listed + (keys.size() > 5 ? "; ..." : "") +
        "; round or recode the split field if they are different groups (the group's own PMML "
        "selects its first key only; score with split-model.pmml)");
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
        if (const std::vector<SplitKey>* keys = worker.splitKeys(i)) adoptExactKeys(group, *keys, summary);
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

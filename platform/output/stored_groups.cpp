#include "stored_groups.h"

#include "remote_groups.h"
#include "stored_output.h"
#include "tables.h"

#include <utility>

namespace splitrun {

ReuseCounts markReusedGroups(RunSummary& summary, const ReusingEngine& engine, const PreviousBuild* previous,
                             const std::vector<int>& splitStorages)
{
    ReuseCounts counts;
    std::size_t kept = 0;
    for (GroupOutcome& group : summary.groups) {
        const ReusingEngine::Group* worked = engine.group(group.index);
        group.reused = worked && worked->reused;
        const bool had = previous && previous->hadGroup(splitValuesText(group, splitStorages));
        kept += had;
        if (group.reused)
            ++counts.reused;
        else if (had)
            ++counts.refitted;
        else
            ++counts.added;
    }
    if (previous && previous->groupCount() > kept) counts.removed = previous->groupCount() - kept;
    return counts;
}

namespace {

// The content of the group's entry in that output container, when there is one.
std::optional<std::string> entryContent(const refhost::RunOutputs& outputs, const std::string& container,
                                        const std::string& key)
{
    const std::optional<std::size_t> index = outputs.find(container, key);
    if (!index) return std::nullopt;
    return outputs.content(container, *index);
}

// True when the group's StatXML and PMML entries in `outputs` are those its
// stored output was kept against (by their hashes), so that the stored
// bytes are what encoding its documents against them again would give.
bool sameEntries(const StagedStore& store, const refhost::RunOutputs& outputs, const std::string& key,
                 const std::uint64_t (&hashes)[2])
{
    const char* const containers[2] = {"StatXML", "PMML"};
    for (int i = 0; i < 2; ++i) {
        const std::optional<std::size_t> index = outputs.find(containers[i], key);
        if (!index || store.contentHash(outputs.sinkHandle(containers[i], *index)) != hashes[i]) return false;
    }
    return true;
}

}  // namespace

void addStoredGroups(StagedStore& store, const RunSummary& summary, const ReusingEngine& engine,
                     const GroupWorker& worker, const refhost::RunOutputs& outputs,
                     const std::vector<int>& splitStorages, const std::string& settings)
{
    refhost::ContainerStoreWriter& writer = store.writer();
    for (const GroupOutcome& group : summary.groups) {
        const ReusingEngine::Group* worked = engine.group(group.index);
        const KeptModel* model = worker.model(group.index);
        if (!worked || !model) continue;
        const std::string modelId = modelIdFor(group.index);
        refhost::StoredGroup row;
        row.model = static_cast<std::int64_t>(group.index) + 1;
        row.splitValues = splitValuesText(group, splitStorages);
        row.fingerprint = worked->fingerprint;
        if (worked->stored && sameEntries(store, outputs, modelId, worked->entryHashes)) {
            row.output = engine.storedOutput(group.index);
            writer.addGroup(std::move(row));
            continue;
        }
        // The collected entries are found by model ID, as the next build
        // finds them in containers.db.
        const std::optional<std::string> statXml = entryContent(outputs, "StatXML", modelId);
        const std::optional<std::string> pmml = entryContent(outputs, "PMML", modelId);
        const std::string* entries[2] = {statXml ? &*statXml : nullptr, pmml ? &*pmml : nullptr};
        // Entries that changed where the documents do not reach (the split
        // values listed when a group was added or removed) usually leave
        // the stored bytes as they were.
        if (worked->stored) {
            row.output = engine.storedOutput(group.index);
            if (storedAlike(row.output, entries[0], entries[1])) {
                writer.addGroup(std::move(row));
                continue;
            }
        }
        row.output = encodeStoredOutput(
            engine.workerTexts(group.index),
            encodeKept(*model, worker.splitKeys(group.index), worker.heldLevels(group.index)), entries[0], entries[1]);
        writer.addGroup(std::move(row));
    }
    writer.setBuild(kModelCodeVersion, settings);
}

}  // namespace splitrun

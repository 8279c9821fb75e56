#include "stored_groups.h"

#include "remote_groups.h"
#include "stored_output.h"
#include "tables.h"

#include <optional>
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

// Adds the group's row, when it has one. Returns the group's PMML entry
// when it was read for the row.
std::optional<std::string> addStoredGroup(StagedStore& store, const GroupOutcome& group, const ReusingEngine& engine,
                                          const GroupWorker& worker, const refhost::RunOutputs& outputs,
                                          const std::vector<int>& splitStorages)
{
    const ReusingEngine::Group* worked = engine.group(group.index);
    const KeptModel* model = worker.model(group.index);
    if (!worked || !model) return std::nullopt;
    refhost::ContainerStoreWriter& writer = store.writer();
    const std::string modelId = modelIdFor(group.index);
    refhost::StoredGroup row;
    row.model = static_cast<std::int64_t>(group.index) + 1;
    row.splitValues = splitValuesText(group, splitStorages);
    row.fingerprint = worked->fingerprint;
    if (worked->stored && sameEntries(store, outputs, modelId, worked->entryHashes)) {
        row.output = engine.storedOutput(group.index);
        writer.addGroup(std::move(row));
        return std::nullopt;
    }
    // The collected entries are found by model ID, as the next build
    // finds them in containers.db.
    const std::optional<std::string> statXml = entryContent(outputs, "StatXML", modelId);
    std::optional<std::string> pmml = entryContent(outputs, "PMML", modelId);
    const std::string* entries[2] = {statXml ? &*statXml : nullptr, pmml ? &*pmml : nullptr};
    // Entries that changed where the documents do not reach (the split
    // values listed when a group was added or removed) usually leave
    // the stored bytes as they were.
    if (worked->stored) {
        row.output = engine.storedOutput(group.index);
        if (storedAlike(row.output, entries[0], entries[1])) {
            writer.addGroup(std::move(row));
            return pmml;
        }
    }
    row.output = encodeStoredOutput(
        engine.workerTexts(group.index),
        encodeKept(*model, worker.splitKeys(group.index), worker.heldLevels(group.index)), entries[0], entries[1]);
    writer.addGroup(std::move(row));
    return pmml;
}

}  // namespace

void addStoredGroups(StagedStore& store, const RunSummary& summary, const ReusingEngine& engine,
                     const GroupWorker& worker, const refhost::RunOutputs& outputs,
                     const std::vector<int>& splitStorages, const std::string& settings, SegmentFeed* feed)
{
    // The feed ends however this ends, so that its consumer never waits.
    struct FinishFeed {
        SegmentFeed* feed;
        ~FinishFeed() { if (feed) feed->finish(); }
    } finishFeed{feed};
    for (const GroupOutcome& group : summary.groups) {
        std::optional<std::string> pmml = addStoredGroup(store, group, engine, worker, outputs, splitStorages);
        if (!feed || group.modelId.empty() || !group.pmml) continue;
        // The split model's part of the group: the entry just read (the
        // one its model ID finds, as the summary's is), or read now.
        SegmentFeed::Part& part = feed->part();
        part.pmml = pmml ? std::move(*pmml) : outputs.content("PMML", *group.pmml);
        const std::vector<SplitKey>* keys = worker.splitKeys(group.index);
        const auto* levels = worker.heldLevels(group.index);
        if (keys) part.keys = *keys;
        else part.keys.clear();
        if (levels) part.levels = *levels;
        else part.levels.clear();
        feed->add();
    }
    store.writer().setBuild(kModelCodeVersion, settings);
}

}  // namespace splitrun

#include "reusing_engine.h"

#include <filesystem>

#include <unistd.h>

#include <refhost/wire.h>

#include "errors.h"
#include "fast_xxh3.h"
#include "fits_ahead.h"
#include "group_worker.h"
#include "remote_groups.h"
#include "stored_output.h"

namespace splitrun {

std::unique_ptr<PreviousBuild> PreviousBuild::open(const std::string& path, const std::string& settings,
                                                   std::string& why)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        why = "there is no previous build (" + path + " does not exist)";
        return nullptr;
    }
    try {
        std::unique_ptr<PreviousBuild> previous(new PreviousBuild(path));
        const auto build = previous->store_.build();
        if (!build) {
            why = path + " was written by an older split-run that kept no fingerprints";
            return nullptr;
        }
        if (previous->store_.version() < refhost::kOldestGroupsVersion) {
            why = path + " was written by an older split-run that kept its groups otherwise";
            return nullptr;
        }
        // Another version or other options: nothing is reused, but the
        // groups still count as refitted or removed in the report.
        if (build->first != kModelCodeVersion)
            why = path + " was written by another version of the model code (" + std::to_string(build->first) +
                  ", this is " + std::to_string(kModelCodeVersion) + ")";
        else if (build->second != settings)
            why = "the previous build used other model options";
        const bool reusable = why.empty();
        previous->store_.forEachGroup([&](const refhost::StoredGroup& group) {
            if (reusable && group.model > 0)
                previous->rows_.emplace(group.fingerprint,
                                        Row{group.model, modelIdFor(static_cast<std::size_t>(group.model - 1))});
            previous->splitValues_.insert(group.splitValues);
        });
        if (reusable) previous->findEntries();
        return previous;
    } catch (const refhost::StoreError& error) {
        why = std::string("the previous build cannot be read: ") + error.what();
        return nullptr;
    }
}

namespace {

const char* const kEntryContainers[2] = {"StatXML", "PMML"};

}  // namespace

void PreviousBuild::findEntries()
{
    std::unordered_map<std::string_view, Row*> byModelId;
    byModelId.reserve(rows_.size());
    for (auto& [fingerprint, row] : rows_) byModelId.emplace(row.modelId, &row);
    for (int c = 0; c < 2; ++c)
        store_.forEachEntryKey(kEntryContainers[c], [&](const std::string& key, std::int64_t rowId) {
            const auto found = byModelId.find(key);
            if (found == byModelId.end()) return;
            std::int64_t& entryRow = found->second->entryRows[c];
            entryRow = entryRow == 0 ? rowId : -1;
        });
}

std::optional<PreviousBuild::Restored> PreviousBuild::output(const std::string& fingerprint,
                                                             const std::string& modelId) const
{
    const auto found = rows_.find(fingerprint);
    if (found == rows_.end()) return std::nullopt;
    const Row& row = found->second;
    try {
        Restored restored;
        std::optional<std::string> entries[2];
        {
            // Only the reads share the connection; the decoding runs on
            // the worker threads side by side.
            std::lock_guard<std::mutex> guard(mutex_);
            restored.stored = store_.groupOutput(row.model);
            for (int c = 0; c < 2; ++c)
                if (row.entryRows[c] > 0)
                    entries[c] = store_.entryContentAt(row.entryRows[c]);
                else if (row.entryRows[c] < 0)
                    entries[c] = store_.entryContent(kEntryContainers[c], row.modelId);
        }
        int leaned = 0;
        const auto entry = [&](const std::string& container) -> const std::string* {
            const int c = container == kEntryContainers[1];
            leaned += entries[c].has_value();
            return entries[c] ? &*entries[c] : nullptr;
        };
        restored.output = decodeStoredOutput(restored.stored, entry, restored.kept);
        if (!renameModel(restored.output, row.modelId, modelId)) return std::nullopt;
        if (leaned != 2) {
            restored.stored.clear();
            return restored;
        }
        if (row.modelId != modelId) {
            // A group moved by a group added or removed before it: its new
            // entries are expected to be the old ones under the new ID, and
            // its row what its renamed documents encode to against them.
            refhost::WorkerOutput renamed;
            renamed.statXml = std::move(*entries[0]);
            renamed.pmml = std::move(*entries[1]);
            if (!renameModel(renamed, row.modelId, modelId)) {
                restored.stored.clear();
                return restored;
            }
            entries[0] = std::move(renamed.statXml);
            entries[1] = std::move(renamed.pmml);
            restored.stored = encodeStoredOutput(restored.output, encodeKept(restored.kept), &*entries[0],
                                                 &*entries[1]);
        }
        for (int c = 0; c < 2; ++c) restored.entryHashes[c] = XXH3_64bits(entries[c]->data(), entries[c]->size());
        return restored;
    } catch (const refhost::StoreError&) {
    } catch (const refhost::WireError&) {
    }
    return std::nullopt;   // the group is fitted instead
}

ReusingEngine::ReusingEngine(refhost::Engine& inner, const Fingerprinter& fingerprinter,
                             const PreviousBuild* previous, GroupWorker& worker)
    : inner_(inner), fingerprinter_(fingerprinter), previous_(previous), worker_(worker), spool_(std::tmpfile())
{
    if (!spool_) throw RunError("cannot create a temporary file for the groups' outputs");
}

ReusingEngine::~ReusingEngine() { std::fclose(spool_); }

refhost::WorkerOutput ReusingEngine::run(const refhost::WorkerJob& job, const refhost::WorkerFunction& local)
{
    Group group;
    group.worked = true;
    if (ahead_)
        if (std::optional<FitsAhead::Fit> fit = ahead_->take(job)) {
            group.fingerprint = std::move(fit->fingerprint);
            refhost::WorkerOutput output = worker_.keep(job.groupIndex, std::move(fit->fitted));
            keep(job.groupIndex, std::move(group), &output, {});
            return output;
        }
    group.fingerprint = fingerprinter_(job);
    if (previous_)
        if (std::optional<PreviousBuild::Restored> restored = previous_->output(group.fingerprint,
                                                                                 modelIdFor(job.groupIndex))) {
            group.reused = true;
            // A group whose documents were kept against its entries keeps
            // its stored bytes too (encoded anew under its new model ID
            // when it moved): they go back into the groups table as they
            // are, instead of its documents being spooled and compared with
            // its entries again.
            group.stored = !restored->stored.empty();
            group.entryHashes[0] = restored->entryHashes[0];
            group.entryHashes[1] = restored->entryHashes[1];
            const refhost::WorkerOutput* texts = group.stored ? nullptr : &restored->output;
            keep(job.groupIndex, std::move(group), texts, restored->stored);
            worker_.adopt(job.groupIndex, std::move(restored->kept));
            return std::move(restored->output);
        }
    refhost::WorkerOutput output = inner_.run(job, local);
    keep(job.groupIndex, std::move(group), &output, {});
    return output;
}

void ReusingEngine::keep(std::size_t groupIndex, Group group, const refhost::WorkerOutput* texts,
                         std::string_view stored)
{
    std::lock_guard<std::mutex> guard(mutex_);
    // The texts gather in memory and go to the file a large block at a
    // time: one write per group cost a system call each.
    const std::size_t start = pending_.size();
    if (texts)
        encodeWorkerTexts(*texts, pending_);
    else
        pending_.append(stored);
    group.offset = spoolSize_ + start;
    group.size = pending_.size() - start;
    if (groups_.size() <= groupIndex) groups_.resize(groupIndex + 1);
    groups_[groupIndex] = std::move(group);
    if (pending_.size() >= kSpoolBlock) flushLocked();
}

void ReusingEngine::flushLocked() const
{
    const int fd = fileno(spool_);
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t wrote = ::pwrite(fd, pending_.data() + done, pending_.size() - done,
                                       static_cast<off_t>(spoolSize_ + done));
        if (wrote <= 0) throw RunError("cannot write the groups' outputs to a temporary file");
        done += static_cast<std::size_t>(wrote);
    }
    spoolSize_ += pending_.size();
    pending_.clear();
}

const ReusingEngine::Group* ReusingEngine::group(std::size_t groupIndex) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return groupIndex < groups_.size() && groups_[groupIndex].worked ? &groups_[groupIndex] : nullptr;
}

void ReusingEngine::spooled(const Group& group, std::string& bytes) const
{
    if (!pending_.empty()) flushLocked();
    bytes.resize(group.size);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fileno(spool_), bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(group.offset + done));
        if (got <= 0) throw RunError("cannot read the groups' outputs back from a temporary file");
        done += static_cast<std::size_t>(got);
    }
}

refhost::WorkerOutput ReusingEngine::workerTexts(std::size_t groupIndex) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    const Group& group = groups_.at(groupIndex);
    if (!group.stored) {
        spooled(group, readBuffer_);
        return decodeWorkerTexts(readBuffer_);
    }
    std::optional<PreviousBuild::Restored> restored;
    if (previous_) restored = previous_->output(group.fingerprint, modelIdFor(groupIndex));
    if (!restored) throw RunError("cannot read a reused group back from the previous build");
    return std::move(restored->output);
}

std::string ReusingEngine::storedOutput(std::size_t groupIndex) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::string bytes;
    spooled(groups_.at(groupIndex), bytes);
    return bytes;
}

}  // namespace splitrun

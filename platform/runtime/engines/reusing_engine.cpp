#include "reusing_engine.h"

#include <filesystem>

#include <unistd.h>

#include <refhost/wire.h>

#include "errors.h"
#include "group_worker.h"
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
        // Another version or other options: nothing is reused, but the
        // groups still count as refitted or removed in the report.
        if (build->first != kModelCodeVersion)
            why = path + " was written by another version of the model code (" + std::to_string(build->first) +
                  ", this is " + std::to_string(kModelCodeVersion) + ")";
        else if (build->second != settings)
            why = "the previous build used other model options";
        const bool reusable = why.empty();
        previous->store_.forEachGroup([&](std::int64_t row, const refhost::StoredGroup& group) {
            if (reusable) previous->rows_.emplace(group.fingerprint, Row{row, group.modelId});
            previous->splitValues_.insert(group.splitValues);
        });
        return previous;
    } catch (const refhost::StoreError& error) {
        why = std::string("the previous build cannot be read: ") + error.what();
        return nullptr;
    }
}

std::optional<refhost::WorkerOutput> PreviousBuild::output(const std::string& fingerprint,
                                                           const std::string& modelId) const
{
    const auto found = rows_.find(fingerprint);
    if (found == rows_.end()) return std::nullopt;
    const Row& row = found->second;
    std::lock_guard<std::mutex> guard(mutex_);
    try {
        refhost::WorkerOutput output = decodeStoredOutput(store_.groupOutput(row.id), [&](const std::string& container) {
            return store_.entryContent(container, row.modelId);
        });
        if (renameModel(output, row.modelId, modelId)) return output;
    } catch (const refhost::StoreError&) {
    } catch (const refhost::WireError&) {
    }
    return std::nullopt;   // the group is fitted instead
}

ReusingEngine::ReusingEngine(refhost::Engine& inner, const Fingerprinter& fingerprinter,
                             const PreviousBuild* previous)
    : inner_(inner), fingerprinter_(fingerprinter), previous_(previous), spool_(std::tmpfile())
{
    if (!spool_) throw RunError("cannot create a temporary file for the groups' outputs");
}

ReusingEngine::~ReusingEngine() { std::fclose(spool_); }

refhost::WorkerOutput ReusingEngine::run(const refhost::WorkerJob& job, const refhost::WorkerFunction& local)
{
    std::string fingerprint = fingerprinter_(job);
    if (previous_)
        if (std::optional<refhost::WorkerOutput> output = previous_->output(fingerprint, modelIdFor(job.groupIndex))) {
            keep(job.groupIndex, std::move(fingerprint), true, *output);
            return std::move(*output);
        }
    refhost::WorkerOutput output = inner_.run(job, local);
    keep(job.groupIndex, std::move(fingerprint), false, output);
    return output;
}

void ReusingEngine::keep(std::size_t groupIndex, std::string fingerprint, bool reused,
                         const refhost::WorkerOutput& output)
{
    std::lock_guard<std::mutex> guard(mutex_);
    // The texts gather in memory and go to the file a large block at a
    // time: one write per group cost a system call each.
    const std::size_t start = pending_.size();
    encodeWorkerTexts(output, pending_);
    const std::uint64_t size = pending_.size() - start;
    if (groups_.size() <= groupIndex) groups_.resize(groupIndex + 1);
    groups_[groupIndex] = Group{true, reused, std::move(fingerprint), spoolSize_ + start, size};
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

refhost::WorkerOutput ReusingEngine::workerTexts(std::size_t groupIndex) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    const Group& group = groups_.at(groupIndex);
    if (!pending_.empty()) flushLocked();
    std::string& bytes = readBuffer_;
    bytes.resize(group.size);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fileno(spool_), bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(group.offset + done));
        if (got <= 0) throw RunError("cannot read the groups' outputs back from a temporary file");
        done += static_cast<std::size_t>(got);
    }
    return decodeWorkerTexts(bytes);
}

}  // namespace splitrun

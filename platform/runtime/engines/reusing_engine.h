// An incremental build: groups whose fingerprint matches a group of the
// previous build in DIR get that group's stored worker output back instead
// of being fitted. The run still plans, hands out and collects every group;
// only the worker's fit and documents are skipped.
#ifndef SPLITRUN_REUSING_ENGINE_H
#define SPLITRUN_REUSING_ENGINE_H

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <refhost/container_store.h>
#include <refhost/engine.h>

#include "fingerprint.h"
#include "group_worker.h"

namespace splitrun {

class FitsAhead;

// The groups of the previous build, read from its containers.db, which
// stays open read-only until this object goes.
class PreviousBuild {
public:
    // Opens the database at `path`. When its groups cannot be reused by a
    // build with these model settings, says why in `why`: and returns null
    // when there is no previous build or it cannot be read (not a container
    // store, an older one, corrupt), or the previous build's groups with
    // nothing to reuse when it was built by another version of the model
    // code or with other options.
    static std::unique_ptr<PreviousBuild> open(const std::string& path, const std::string& settings,
                                               std::string& why);

    // A group of the previous build, read back.
    struct Restored {
        // Its worker output, the documents naming the model ID asked for,
        // and the kept state of its fit (see decodeStoredOutput).
        refhost::WorkerOutput output;
        GroupWorker::Kept kept;
        // Set when both documents were kept against its entries: the
        // stored bytes, and the hashes of the StatXML and PMML entries they
        // lean on (for a group whose model ID changed, the bytes and
        // entries under the new ID). Written again as they are when the
        // group's new entries hash the same.
        std::string stored;
        std::uint64_t entryHashes[2] = {0, 0};
    };
    // The group with that fingerprint, its documents naming `modelId`;
    // nullopt when the previous build had no such group or it cannot be
    // read back exactly.
    std::optional<Restored> output(const std::string& fingerprint, const std::string& modelId) const;
    // True when the previous build had a group with these split values (as
    // groups.csv writes them).
    bool hadGroup(const std::string& splitValues) const { return splitValues_.count(splitValues) > 0; }
    std::size_t groupCount() const { return splitValues_.size(); }

private:
    explicit PreviousBuild(const std::string& path) : store_(path) {}
    refhost::ContainerStoreReader store_;
    struct Row {
        std::int64_t model = 0;
        std::string modelId;
        // The row IDs of its StatXML and PMML entries: 0 when there is
        // none, -1 when several share its key (found by key then).
        std::int64_t entryRows[2] = {0, 0};
    };
    // Finds each row's entries in one pass over the key index.
    void findEntries();
    std::unordered_map<std::string, Row> rows_;  // by fingerprint
    std::unordered_set<std::string> splitValues_;
    mutable std::mutex mutex_;
};

// Wraps the engine a build runs on: computes each group's fingerprint,
// answers a group the previous build had with its stored output (its kept
// state adopted by the run's worker directly, not sent as an attachment),
// hands the others to the wrapped engine, and keeps every group's
// fingerprint and worker texts (in a temporary file) for the groups table.
// Thread-safe.
class ReusingEngine : public refhost::Engine {
public:
    // `previous` may be null (a full build that still records fingerprints).
    ReusingEngine(refhost::Engine& inner, const Fingerprinter& fingerprinter, const PreviousBuild* previous,
                  GroupWorker& worker);
    ~ReusingEngine() override;
    ReusingEngine(const ReusingEngine&) = delete;
    ReusingEngine& operator=(const ReusingEngine&) = delete;

    std::size_t concurrency() const override { return inner_.concurrency(); }
    refhost::WorkerOutput run(const refhost::WorkerJob& job, const refhost::WorkerFunction& local) override;
    // Jobs then take the fits made ahead for them, where there is one,
    // instead of running the worker function: only for a worker function
    // that runs in this process and a build that reuses no groups. Not
    // owned; must outlive the run.
    void takeFitsFrom(FitsAhead* ahead) { ahead_ = ahead; }

    struct Group {
        bool worked = false;  // an output was handed back for it
        bool reused = false;
        // The spooled bytes are the previous build's stored output (see
        // PreviousBuild::Restored) rather than the worker texts.
        bool stored = false;
        std::uint64_t entryHashes[2] = {0, 0};   // with `stored`
        std::string fingerprint;
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
    };
    // The group at that index; null when no output was handed back for it.
    const Group* group(std::size_t groupIndex) const;
    // The outcome, reason and documents handed back for a group (for a
    // group kept in stored form, read back from the previous build, which
    // must still be open).
    refhost::WorkerOutput workerTexts(std::size_t groupIndex) const;
    // The previous build's stored output of a group kept in stored form.
    std::string storedOutput(std::size_t groupIndex) const;

private:
    // Spools the group's worker texts, or with `texts` null its stored
    // output `stored`.
    void keep(std::size_t groupIndex, Group group, const refhost::WorkerOutput* texts, std::string_view stored);
    void flushLocked() const;   // the pending texts to the file; under mutex_
    void spooled(const Group& group, std::string& bytes) const;   // under mutex_

    static constexpr std::size_t kSpoolBlock = 1 << 20;

    refhost::Engine& inner_;
    const Fingerprinter& fingerprinter_;
    const PreviousBuild* previous_;
    GroupWorker& worker_;
    FitsAhead* ahead_ = nullptr;
    mutable std::mutex mutex_;
    std::deque<Group> groups_;
    std::FILE* spool_ = nullptr;
    mutable std::uint64_t spoolSize_ = 0;  // bytes in the file
    mutable std::string pending_;          // texts not yet in the file, which follow its bytes
    mutable std::string readBuffer_;
};

}  // namespace splitrun

#endif

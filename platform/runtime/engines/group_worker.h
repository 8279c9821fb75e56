// The work split-run does for one split group: fit the group's model and
// hand its PMML and StatXML back to the host.
#ifndef SPLITRUN_GROUP_WORKER_H
#define SPLITRUN_GROUP_WORKER_H

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <refhost/run.h>
#include <splitmodels/data_model.h>
#include <splitmodels/group_model.h>

#include "group_keys.h"
#include "kept_model.h"

namespace splitrun {

// "model-" followed by the 1-based group position, at least four digits.
std::string modelIdFor(std::size_t groupIndex);

// The records of a worker job as the model library reads them: the fields as
// the data model describes them (with their categories), the values read
// straight from the table's columns.
class TableRecords : public splitmodels::GroupRecords {
public:
    // With `nonFiniteMissing`, an infinite number reads as a missing value.
    // Throws std::invalid_argument when the data model's fields cannot be read.
    TableRecords(const refhost::TableRows& records, const splitmodels::DataModel& dataModel,
                 bool nonFiniteMissing = false);
    const std::vector<splitmodels::FieldDef>& fields() const override { return fields_; }
    std::size_t rowCount() const override { return records_.rowCount(); }
    void readField(std::size_t field, splitmodels::FieldColumn& out) const override;

private:
    const refhost::TableRows& records_;
    std::vector<splitmodels::FieldDef> fields_;
    bool nonFiniteMissing_;
};

// Fits every group it is called for and remembers each group's model
// summary. Called from several pool threads at once.
class GroupWorker {
public:
    // `request` describes the model of every group (its model ID and data
    // model are set per group).
    explicit GroupWorker(splitmodels::ModelSpec request);

    refhost::WorkerOutput operator()(const refhost::WorkerJob& job);

    // A group's fit and what the worker keeps of it, made without changing
    // the worker: the same for the same job (its group index, records and
    // data model), whenever and on whichever thread it is made.
    struct Fitted;
    Fitted fit(const refhost::WorkerJob& job);
    // Keeps a fit as the group's (replacing whatever was kept for it) and
    // returns its output.
    refhost::WorkerOutput keep(std::size_t groupIndex, Fitted fitted);

    // The kept summary of a group that has been worked on; null when the
    // group never reached the worker.
    const KeptModel* model(std::size_t groupIndex) const;

    // Makes the worker keep, for each group, the distinct keys of its
    // records over these split fields (see distinctSplitKeys) and the
    // categories its fit has seen (see heldCategories). Call before the run.
    void keepSplitKeys(std::vector<std::string> splitFields) { splitFields_ = std::move(splitFields); }
    // Records with an infinite target, input, weight or offset are left out
    // of their group's fit (counted by nonFiniteSkipped) instead of failing
    // the group. Call before the run.
    void skipNonFinite() { skipNonFinite_ = true; }
    // Records left out for an infinite value so far, over all groups.
    std::size_t nonFiniteSkipped() const { return nonFiniteSkipped_; }
    // The keys kept for a group; null when none were kept for it.
    const std::vector<SplitKey>* splitKeys(std::size_t groupIndex) const;
    // The categories kept for a group; null when none were kept for it or
    // its fit held none.
    const std::vector<std::pair<std::string, std::vector<std::string>>>* heldLevels(std::size_t groupIndex) const;

    // What the worker kept for one group. A worker in another process
    // releases it after the group's fit and sends it to the process that
    // hosts the run, whose worker adopts it as if it had fitted the group.
    struct Kept {
        splitmodels::GroupModel model;
        std::vector<SplitKey> keys;
        std::vector<std::pair<std::string, std::vector<std::string>>> levels;
    };
    // Takes a group's kept state out of the worker (empty when none).
    Kept release(std::size_t groupIndex);
    void adopt(std::size_t groupIndex, Kept kept);

private:
    // What is kept of one group: a slot per group index, so that looking a
    // group up costs nothing per group and a slot costs no tree node.
    struct Slot {
        bool worked = false;  // the group reached the worker, or was adopted
        KeptModel model;
        std::vector<SplitKey> keys;
        std::vector<std::pair<std::string, std::vector<std::string>>> levels;
    };
    const Slot* kept(std::size_t groupIndex) const;
    // The job's data model, parsed: once per run, for the first job that
    // brings the run's shared text, and again only for a job whose text is
    // another object.
    std::shared_ptr<const splitmodels::DataModel> dataModelOf(const std::shared_ptr<const std::string>& text);

    splitmodels::ModelSpec request_;
    std::mutex dataModelMutex_;
    std::shared_ptr<const std::string> dataModelText_;  // what dataModel_ was parsed from
    std::shared_ptr<const splitmodels::DataModel> dataModel_;
    mutable std::mutex mutex_;
    std::vector<std::string> splitFields_;
    ModelShapes shapes_;
    bool skipNonFinite_ = false;
    std::atomic<std::size_t> nonFiniteSkipped_{0};
    // By group index; a deque, so kept groups never move as it grows.
    std::deque<Slot> groups_;
};

struct GroupWorker::Fitted {
    refhost::WorkerOutput output;
    Slot kept;
    std::size_t nonFiniteSkipped = 0;
};

inline refhost::WorkerOutput GroupWorker::operator()(const refhost::WorkerJob& job)
{
    return keep(job.groupIndex, fit(job));
}

}  // namespace splitrun

#endif

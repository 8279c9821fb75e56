// A group's fingerprint: a 128-bit hash (XXH3-128) of everything its
// worker's output depends on, so that a later build can tell that a group's
// model would come out the same and reuse it instead of fitting again.
#ifndef SPLITRUN_FINGERPRINT_H
#define SPLITRUN_FINGERPRINT_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <refhost/run.h>
#include <splitmodels/data.h>

namespace splitrun {

// The version of the model code: fitting, the group's PMML and StatXML,
// and the summary a worker keeps. Bump it whenever any of them changes what
// a group's worker produces, so that a build never reuses a group fitted by
// code that would now give another result.
constexpr std::int64_t kModelCodeVersion = 2;

// Computes the fingerprints of a build's groups. A fingerprint covers:
// - the model code version;
// - the build's model settings (`settings`, the encoded model request:
//   kind, family, link, target, inputs, reference levels, weights and offset
//   fields, control, the split fields);
// - the data model of the fields the model uses (the target, inputs,
//   weights and offset): storage, measure, role and categories;
// - the group's records as the worker receives them, in order: every
//   column's name, storage and measure, and every value with its type of
//   the columns the model reads (the used fields above) and of the split
//   fields. Other columns' values cannot change the output: a streamed
//   build does not even carry them, and an edit of them keeps a group's
//   fingerprint.
// The group's model ID (its position) is left out: a group whose position
// moved keeps its fingerprint, and its stored documents get the new model
// ID when they are restored (see renameModel).
// Thread-safe.
class Fingerprinter {
public:
    Fingerprinter(const splitmodels::ModelSpec& request, std::string settings,
                  std::vector<std::string> splitFields);

    // 16 bytes.
    std::string operator()(const refhost::WorkerJob& job) const;

private:
    // The hash of the used fields' definitions in a data model text; the
    // same text comes with every group, so it is parsed once.
    std::string usedFieldsHash(const std::string& dataModel) const;
    // The same for a job's data model: the run's shared text is known by
    // its pointer, without hashing it again.
    std::string usedFieldsHash(const std::shared_ptr<const std::string>& dataModel) const;

    std::string settings_;
    std::vector<std::string> usedFields_;
    std::vector<std::string> splitFields_;
    // The names above as sets, looked up once per column of a group.
    std::unordered_set<std::string> used_;
    std::unordered_set<std::string> usedOrSplit_;
    mutable std::mutex mutex_;
    mutable std::unordered_map<std::uint64_t, std::string> dataModels_;
    // The last shared text and its hash; holding the text keeps its
    // address from being another's.
    mutable std::shared_ptr<const std::string> lastDataModel_;
    mutable std::string lastHash_;
};

}  // namespace splitrun

#endif

// split-run's side of a build whose groups are fitted in other processes:
// what each worker process needs to fit groups, and what it sends back
// beside a group's documents.
#ifndef SPLITRUN_REMOTE_GROUPS_H
#define SPLITRUN_REMOTE_GROUPS_H

#include <string>
#include <string_view>
#include <vector>

#include <refhost/run.h>
#include <splitmodels/data.h>

#include "group_worker.h"

namespace splitrun {

// The setup a worker process receives once: the model request of every
// group and the split fields whose keys it keeps.
std::string encodeRemoteSetup(const splitmodels::ModelSpec& request, const std::vector<std::string>& splitFields,
                              bool skipNonFinite = false);

// The worker function of a worker process, made from its setup: fits the
// group as the host process's GroupWorker would and attaches the group's
// kept state (see GroupWorker::Kept) to the output.
refhost::WorkerFunction remoteWorkerFunction(const std::string& setup);

// The process hosting the run takes in an output's attachment, so that
// `worker` holds the group's state as if it had fitted the group itself.
// Throws refhost::WireError for an attachment that does not decode.
void adoptAttachment(GroupWorker& worker, const refhost::WorkerJob& job, refhost::WorkerOutput& output);

std::string encodeKept(const GroupWorker::Kept& kept);
// The same bytes from a group's kept summary, keys and levels as the worker
// holds them (null: none), without a GroupModel in between.
std::string encodeKept(const KeptModel& model, const std::vector<SplitKey>* keys,
                       const std::vector<std::pair<std::string, std::vector<std::string>>>* levels);
GroupWorker::Kept decodeKept(std::string_view bytes);

}  // namespace splitrun

#endif

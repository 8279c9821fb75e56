// A group's worker output as containers.db keeps it for the next build
// (the output column of the groups table). The worker's documents differ
// from the group's collected entries only where the collect component
// labelled them, so each is kept as that difference (see entry_diff.h)
// and a hash of the whole that a reader checks. A document with no entry
// to lean on is kept whole. Numbers are variable-length and the fit's kept
// state has its runs of zero bytes packed (compact_bytes.h), so that the
// row is a few hundred bytes.
#ifndef SPLITRUN_STORED_OUTPUT_H
#define SPLITRUN_STORED_OUTPUT_H

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <refhost/run.h>

#include "group_worker.h"

namespace splitrun {

// The output's outcome, reason and documents, whole (no attachment),
// appended to `appendTo`.
void encodeWorkerTexts(const refhost::WorkerOutput& output, std::string& appendTo);
refhost::WorkerOutput decodeWorkerTexts(std::string_view bytes);

// The stored form of `texts` with the group's kept state (see encodeKept),
// its documents kept against the group's StatXML and PMML entries (either
// may be null).
std::string encodeStoredOutput(const refhost::WorkerOutput& texts, const std::string& kept,
                               const std::string* statXmlEntry, const std::string* pmmlEntry);

// The entry a document was kept against, by container name ("StatXML",
// "PMML"); null when it cannot be found.
using EntryLookup = std::function<const std::string*(const std::string& container)>;

// The stored output back (no attachment), its kept state decoded into
// `kept`. Throws refhost::WireError when the bytes do not decode, an entry
// is missing or a document does not come back exactly.
refhost::WorkerOutput decodeStoredOutput(std::string_view stored, const EntryLookup& entry, GroupWorker::Kept& kept);

// True when `stored` is what encodeStoredOutput writes for the documents it
// holds against these entries (either may be null): each document kept
// against an entry comes back exactly from the new one, sharing the same
// longest ends with it. Lets a group whose entries changed where its
// documents do not reach (another group's split values listed in a
// StatXML entry) keep its stored bytes without decoding and encoding them.
bool storedAlike(std::string_view stored, const std::string* statXmlEntry, const std::string* pmmlEntry);

// Gives restored documents another model ID: the model element's name in
// the PMML (modelName) and the model's ID in the StatXML (modelID), the
// only places a worker writes it. False when a document that is not empty
// does not name `from` there; the output is then left as it was.
bool renameModel(refhost::WorkerOutput& output, const std::string& from, const std::string& to);

}  // namespace splitrun

#endif

// The build's output directory as a transaction: the run writes into a fresh
// staging directory beside DIR, and only a run that succeeds swaps its files
// into DIR. A run that fails, at any point, leaves DIR exactly as it was.
//
// DIR keeps a manifest (`.split-run-files`) of the files split-run wrote
// there (see readManifest for directories from before the manifest). A later build replaces those files and no others: a file in DIR
// that split-run did not write is never deleted or overwritten (a build
// that would have to overwrite one fails and says which).
#ifndef SPLITRUN_OUTPUT_TRANSACTION_H
#define SPLITRUN_OUTPUT_TRANSACTION_H

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace splitrun {

class RemoveOnInterrupt;

// The name of the manifest inside DIR.
extern const char* const kManifestName;

class OutputTransaction {
public:
    // An input file of the run and the option that named it, e.g.
    // {"--data", "sales.csv"}.
    using NamedInput = std::pair<std::string, std::string>;

    // Checks `dir` and creates the staging directory beside it (creating
    // dir's parent directories when missing). Throws InputError when dir
    // exists but is not a directory, when an input is one of the files an
    // earlier build wrote into dir (the build would replace it), or when
    // the staging directory cannot be made (with the OS reason).
    OutputTransaction(std::filesystem::path dir, const std::vector<NamedInput>& inputs);
    // Removes the staging directory unless commit() succeeded; so does
    // SIGINT, SIGTERM or SIGHUP before commit() starts.
    ~OutputTransaction();
    OutputTransaction(const OutputTransaction&) = delete;
    OutputTransaction& operator=(const OutputTransaction&) = delete;

    // Where the run writes its files (same layout as in DIR).
    const std::filesystem::path& staging() const { return staging_; }
    const std::filesystem::path& dir() const { return dir_; }

    // Swaps the staged files into DIR: the files of the earlier build's
    // manifest are moved aside, the new ones moved in, the new manifest
    // written, and the old files deleted. Any failure undoes the steps
    // taken so far and throws RunError with the OS reason; a file in DIR
    // that split-run did not write but the new build would overwrite
    // throws InputError before anything changes. Call at most once.
    void commit();

private:
    std::filesystem::path dir_;
    std::filesystem::path staging_;
    bool committed_ = false;
    // Removes the staging directory on Ctrl-C until commit() starts.
    std::unique_ptr<RemoveOnInterrupt> interruptGuard_;
};

// The relative paths listed in DIR's manifest; paths that would leave DIR
// (absolute, empty or ".." components) are ignored. Without a manifest, a
// directory an earlier version wrote is recognised by its containers'
// entries.tsv indexes, which list the files written: those files, the
// indexes and split-model.pmml. Empty when neither is there.
std::vector<std::string> readManifest(const std::filesystem::path& dir);

}  // namespace splitrun

#endif

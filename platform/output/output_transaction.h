// The build's output directory as a transaction: the run writes into a fresh
// staging directory beside DIR, and only a run that succeeds switches it
// with DIR, in one atomic exchange of the two directories. A run that fails
// or is killed, at any point, leaves DIR exactly as it was or wholly
// replaced, never a mix.
//
// DIR keeps a manifest (see output_manifest.h) of the files split-run wrote
// there. A later build replaces those files and no others: the user's own
// files in DIR are carried into the staging directory just before the
// exchange, and a build that would have to overwrite one of them fails and
// says which. Carrying and exchanging run under a lock on DIR's parent
// directory, so two builds into one DIR switch one after the other.
//
// A build killed during the switch (SIGKILL, power loss) leaves its staging
// directory and a journal of the files it carried; the next build into DIR
// finishes or rolls back that switch before it does anything else.
#ifndef SPLITRUN_OUTPUT_TRANSACTION_H
#define SPLITRUN_OUTPUT_TRANSACTION_H

#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace splitrun {

class RemoveOnInterrupt;

// Refuses an --out that cannot work, before the build does any work: empty,
// "-", a file, a dangling symlink, or a path that cannot be examined.
// Throws InputError saying what to do.
void checkOutDir(const std::string& dir);

class OutputTransaction {
public:
    // An input file of the run and the option that named it, e.g.
    // {"--data", "sales.csv"}.
    using NamedInput = std::pair<std::string, std::string>;

    // Checks `dir`, finishes or rolls back the switches of builds into it
    // that were killed, and creates the staging directory beside it
    // (creating dir's parent directories when missing). Throws InputError
    // when dir exists but is not a directory, when an input is one of the
    // files an earlier build wrote into dir (the build would replace it),
    // or when the staging directory cannot be made (with the OS reason).
    OutputTransaction(std::filesystem::path dir, const std::vector<NamedInput>& inputs);
    // Removes the staging directory unless commit() succeeded; so does
    // SIGINT, SIGTERM or SIGHUP before commit() starts.
    ~OutputTransaction();
    OutputTransaction(const OutputTransaction&) = delete;
    OutputTransaction& operator=(const OutputTransaction&) = delete;

    // Throws InputError when one of `names` (files every successful build
    // writes) exists in DIR and is not split-run's own: the switch would
    // refuse it, so the build is refused before it starts.
    void refuseForeignFiles(const std::vector<std::string>& names) const;
    // Where the run writes its files (same layout as in DIR).
    const std::filesystem::path& staging() const { return staging_; }
    const std::filesystem::path& dir() const { return dir_; }

    // Switches the staged files into DIR: writes the manifest and the
    // journal, carries the user's files over, exchanges the two
    // directories, and deletes the earlier build's files. A failure before
    // the exchange undoes the steps taken and throws RunError with the OS
    // reason; so does a staged file that cannot be flushed to the disk,
    // before anything changes. A file in DIR that split-run did not write
    // but the new build would overwrite throws InputError before anything
    // changes. Call at most once.
    void commit();
    // Starts writing `file`'s pages to the disk in the background, so that
    // commit()'s flush finds little left to wait for: a build that writes
    // hundreds of megabytes would otherwise wait that long for the device
    // once everything is written. A hint only, safe from any thread; the
    // flush in commit() still waits for every byte.
    void startWriteback(const std::filesystem::path& file);

    // Called with the name of each step of commit() as it completes
    // ("manifest", "journal", "carry", "exchange", "journal-removed",
    // "old-removed"): lets tests stop the process at every step.
    using StepHook = std::function<void(const std::string& step)>;
    static void setStepHook(StepHook hook);
    // Called with each file and directory commit() flushes to the disk,
    // before it does, on the flushing threads (several at once): an errno
    // returned fails that flush as the device would. Lets tests see a
    // write the kernel could not complete.
    using FlushHook = std::function<int(const std::filesystem::path& path)>;
    static void setFlushHook(FlushHook hook);

private:
    void waitForWritebacks();
    // Flushes the path to the disk; throws RunError when it cannot.
    void flush(const std::filesystem::path& path, int flags) const;

    std::filesystem::path dir_;
    std::filesystem::path staging_;
    bool committed_ = false;
    std::mutex writebackMutex_;
    std::vector<std::future<void>> writebacks_;
    // Removes the staging directory on Ctrl-C until commit() starts.
    std::unique_ptr<RemoveOnInterrupt> interruptGuard_;
};

}  // namespace splitrun

#endif

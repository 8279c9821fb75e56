// Files and directories that must not outlive an interrupted run: a staging
// directory, a temporary output file, spilled partitions. While a
// RemoveOnInterrupt guard lives, its path is removed (a directory with
// everything in it) when the process gets SIGINT, SIGTERM or SIGHUP; the
// process then ends by that signal as it would have without the guard, so
// the shell sees the usual status (130 for Ctrl-C).
//
// The signal handler only wakes a watcher thread through a pipe; the
// removal runs on that thread, outside signal context. A signal the process
// inherited as ignored (SIGHUP under nohup) stays ignored.
#ifndef SPLITRUN_INTERRUPT_CLEANUP_H
#define SPLITRUN_INTERRUPT_CLEANUP_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace splitrun {

class RemoveOnInterrupt {
public:
    explicit RemoveOnInterrupt(std::filesystem::path path);
    // Unregisters the path; does not remove it.
    ~RemoveOnInterrupt();
    RemoveOnInterrupt(const RemoveOnInterrupt&) = delete;
    RemoveOnInterrupt& operator=(const RemoveOnInterrupt&) = delete;

private:
    std::uint64_t id_;
    int lockFd_ = -1;  // holds the path's owner lock (working_path_owner.h)
};

// Working files and directories carry the host and process that made them
// in their names, "<stem>-<host>-<pid>-<random>", so that a later run can
// tell those of a process that was killed outright (SIGKILL, the
// out-of-memory killer), which no handler could remove.

// "<stem>-<host>-<pid>-" for this process; the host's name with characters
// other than letters, digits, '.' and '-' as '_'.
std::string workingNamePrefix(const std::string& stem);

// The paths in `parent` named by workingNamePrefix(stem) for this host
// whose process no longer exists (or whose number a newer process took)
// and whose owner lock nobody holds (working_path_owner.h). Those of a live
// process, or of another host sharing the file system, are not listed.
std::vector<std::filesystem::path> abandonedWorkingPaths(const std::filesystem::path& parent, const std::string& stem);

// Removes abandonedWorkingPaths(parent, stem), with everything in them.
void removeAbandonedWorkingPaths(const std::filesystem::path& parent, const std::string& stem);

}  // namespace splitrun

#endif

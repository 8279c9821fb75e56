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
};

}  // namespace splitrun

#endif

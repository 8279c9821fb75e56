// Who still owns a working file or directory ("<stem>-<host>-<pid>-...").
//
// A run holds a shared lock on each working path it registers for removal,
// for as long as it keeps the path; the kernel drops the lock when the
// process ends, however it ends. A later run removes a path only when the
// process its name gives is gone, or is a newer process that took over the
// number, and nobody holds the lock. The lock protects a live owner that the
// process number cannot tell (a process of another PID namespace on the same
// file system); the number protects a path between its creation and its
// lock, which the owner takes at once.
#ifndef SPLITRUN_WORKING_PATH_OWNER_H
#define SPLITRUN_WORKING_PATH_OWNER_H

#include <filesystem>

#include <sys/types.h>

namespace splitrun {

// A shared lock on `path`, held by the returned descriptor until it is
// closed; -1 when the path cannot be opened (it does not exist yet, or is
// not readable), which leaves it to the process number alone.
int lockWorkingPath(const std::filesystem::path& path);

// True when some process holds a lock taken by lockWorkingPath on `path`.
// A path that cannot be opened counts as free.
bool workingPathLocked(const std::filesystem::path& path);

// True when `pid` names no process that can have made `path`: none runs
// under that number, or the one that does started more than two seconds
// after the path last changed (the number was reused). False when the
// start cannot be told.
bool ownerGone(pid_t pid, const std::filesystem::path& path);

}  // namespace splitrun

#endif

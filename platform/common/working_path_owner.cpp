#include "working_path_owner.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace splitrun {
namespace {

// Opened without following a symlink and without waiting on a FIFO; a
// directory opens read-only like a file.
int openForLock(const std::filesystem::path& path)
{
    return ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

// The process's start as seconds since the epoch, from the kernel's boot
// time and the process's start in clock ticks after boot; -1 when unknown.
double processStart(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return -1;
    // The command name in parentheses may hold spaces: fields count from
    // after its closing parenthesis, where the state (field 3) begins.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i < 22) continue;
        std::ifstream boot("/proc/stat");
        std::string key;
        double bootTime = -1;
        while (boot >> key) {
            if (key == "btime") {
                boot >> bootTime;
                break;
            }
        }
        const long ticks = ::sysconf(_SC_CLK_TCK);
        if (bootTime < 0 || ticks <= 0) return -1;
        return bootTime + std::strtod(field.c_str(), nullptr) / static_cast<double>(ticks);
    }
    return -1;
}

}  // namespace

int lockWorkingPath(const std::filesystem::path& path)
{
    const int fd = openForLock(path);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool workingPathLocked(const std::filesystem::path& path)
{
    const int fd = openForLock(path);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

bool ownerGone(pid_t pid, const std::filesystem::path& path)
{
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    const double start = processStart(pid);
    if (start < 0) return false;
    const double changed = static_cast<double>(std::max(st.st_mtim.tv_sec, st.st_ctim.tv_sec));
    return start > changed + 2.0;
}

}  // namespace splitrun

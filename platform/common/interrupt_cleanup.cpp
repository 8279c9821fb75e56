#include "interrupt_cleanup.h"

#include "working_path_owner.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace splitrun {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The watcher's pipe, written to by the handlers.
std::atomic<int> gWakeFd{-1};   // -1 while no watcher runs

struct Registry {
    std::mutex mutex;
    std::map<std::uint64_t, fs::path> paths;
    std::uint64_t nextId = 0;
};

// Never destroyed: the watcher thread may still use it while the process
// exits.
Registry& registry()
{
    static Registry* const instance = new Registry;
    return *instance;
}

void onSignal(int signal)
{
    const int fd = gWakeFd.load();
    if (fd < 0) {   // no watcher (a forked child that registered nothing yet)
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    errno = savedErrno;
}

[[noreturn]] void removeAndDie(int signal)
{
    std::vector<fs::path> paths;
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        for (const auto& [id, path] : registry().paths) paths.push_back(path);
    }
    for (const fs::path& path : paths) {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::signal(signal, SIG_DFL);
    ::kill(::getpid(), signal);
    // The default action of these signals ends the process; should it be
    // blocked in this thread, end it anyway with the shell's convention.
    ::_exit(128 + signal);
}

void watch(int readFd)
{
    for (;;) {
        unsigned char byte = 0;
        const ssize_t got = ::read(readFd, &byte, 1);
        if (got == 1) removeAndDie(byte);
        if (got < 0 && errno == EINTR) continue;
        return;  // the pipe is gone: nothing more to watch
    }
}

std::mutex gStartMutex;
bool gStarted = false;

// fork() copies the registry and the handlers but not the watcher thread:
// the child starts its own watcher when it next registers a path. The locks
// are held across fork() so that the child never inherits one mid-update.
void lockBeforeFork()
{
    gStartMutex.lock();
    registry().mutex.lock();
}

void unlockAfterFork()
{
    registry().mutex.unlock();
    gStartMutex.unlock();
}

void unlockInChild()
{
    if (gStarted) ::close(gWakeFd.exchange(-1));   // a signal now ends the child as before
    gStarted = false;
    unlockAfterFork();
}

// Starts the watcher and installs the handlers, once per process. When the
// pipe or thread cannot be made the guards do nothing, which loses only the
// cleanup on interrupt, never the run.
void startWatcher()
{
    static std::once_flag atfork;
    std::call_once(atfork, [] { ::pthread_atfork(lockBeforeFork, unlockAfterFork, unlockInChild); });
    std::lock_guard<std::mutex> lock(gStartMutex);
    if (gStarted) return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    try {
        std::thread(watch, fds[0]).detach();
    } catch (const std::system_error&) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    gWakeFd.store(fds[1]);
    gStarted = true;
    for (int signal : kSignals) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) != 0) continue;
        if (previous.sa_handler == SIG_IGN || previous.sa_handler == onSignal) continue;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

RemoveOnInterrupt::RemoveOnInterrupt(fs::path path)
{
    startWatcher();
    std::lock_guard<std::mutex> lock(registry().mutex);
    id_ = registry().nextId++;
    lockFd_ = lockWorkingPath(path);
    registry().paths.emplace(id_, std::move(path));
}

RemoveOnInterrupt::~RemoveOnInterrupt()
{
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().paths.erase(id_);
    if (lockFd_ >= 0) ::close(lockFd_);
}

namespace {

std::string hostTag()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return "host";
    std::string tag = host;
    for (char& c : tag)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
    return tag.empty() ? "host" : tag;
}

}  // namespace

std::string workingNamePrefix(const std::string& stem)
{
    return stem + "-" + hostTag() + "-" + std::to_string(::getpid()) + "-";
}

std::vector<fs::path> abandonedWorkingPaths(const fs::path& parent, const std::string& stem)
{
    std::vector<fs::path> found;
    const std::string prefix = stem + "-" + hostTag() + "-";
    std::error_code ec;
    for (fs::directory_iterator it(parent.empty() ? fs::path(".") : parent,
                                   fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::size_t dash = name.find('-', prefix.size());
        if (dash == std::string::npos || dash == prefix.size() || dash - prefix.size() > 9) continue;
        const std::string digits = name.substr(prefix.size(), dash - prefix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        if (ownerGone(pid, it->path()) && !workingPathLocked(it->path())) found.push_back(it->path());
    }
    return found;
}

void removeAbandonedWorkingPaths(const fs::path& parent, const std::string& stem)
{
    for (const fs::path& path : abandonedWorkingPaths(parent, stem)) {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
}

}  // namespace splitrun

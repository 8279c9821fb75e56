#include "output_transaction.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>
#include <system_error>

#include "errors.h"
#include "interrupt_cleanup.h"
#include "output_dir.h"
#include "output_manifest.h"
#include "thread_shares.h"

namespace fs = std::filesystem;

namespace splitrun {

namespace {

// The list of the user's files a switch carried into the staging directory,
// kept there until the exchange (and in DIR just after it).
const char* const kJournalName = ".split-run-carried";

OutputTransaction::StepHook& stepHook()
{
    static OutputTransaction::StepHook hook;
    return hook;
}

void step(const char* name)
{
    if (stepHook()) stepHook()(name);
}

OutputTransaction::FlushHook& flushHook()
{
    static OutputTransaction::FlushHook hook;
    return hook;
}

std::string reason() { return std::strerror(errno); }

bool pathExists(const fs::path& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

fs::path parentOf(const fs::path& dir) { return dir.parent_path().empty() ? fs::path(".") : dir.parent_path(); }

std::string siblingStem(const fs::path& dir, const char* purpose)
{
    return "." + dir.filename().string() + "." + purpose;
}

// A fresh directory beside `dir`, mode 0700, named after it, this host and
// this process, that no other file has.
fs::path makeSibling(const fs::path& dir, const char* purpose)
{
    std::string pattern =
        (parentOf(dir) / (workingNamePrefix(siblingStem(dir, purpose)) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        const int error = errno;
        const std::string why = reason();
        if (error == ENAMETOOLONG)
            throw InputError("--out " + dir.string() + ": the name is too long for the working directory a build "
                             "makes beside it (the name and " +
                             std::to_string(fs::path(pattern).filename().string().size() -
                                            dir.filename().string().size()) +
                             " bytes more); choose a shorter name");
        throw InputError("--out " + dir.string() + ": cannot create a working directory in " +
                         parentOf(dir).string() + " (" + why + "); choose an output directory in a writable location");
    }
    return pattern;
}

// The working directories beside `dir` of builds on this host that were
// killed (see abandonedWorkingPaths).
std::vector<fs::path> abandonedSiblings(const fs::path& dir, const char* purpose)
{
    std::vector<fs::path> found;
    for (const fs::path& path : abandonedWorkingPaths(parentOf(dir), siblingStem(dir, purpose))) {
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) found.push_back(path);
    }
    return found;
}

// An exclusive lock on DIR's parent directory, held while a switch runs or
// is repaired, so that two builds into DIR never interleave theirs.
class SwitchLock {
public:
    explicit SwitchLock(const fs::path& dir)
        : fd_(::open(parentOf(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd_ < 0) throw RunError("cannot open " + parentOf(dir).string() + " (" + reason() + ")");
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~SwitchLock() { ::close(fd_); }
    SwitchLock(const SwitchLock&) = delete;
    SwitchLock& operator=(const SwitchLock&) = delete;

private:
    int fd_;
};

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

int openDir(const fs::path& path) { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }

std::vector<std::string> readJournal(const fs::path& root)
{
    std::vector<std::string> paths;
    for (const std::string& path : readLocalLines(root, kJournalName)) {
        bool contained = !path.empty() && path[0] != '/';
        for (const fs::path& part : fs::path(path))
            if (part.empty() || part == "." || part == "..") contained = false;
        if (contained) paths.push_back(path);
    }
    return paths;
}

// The parents of the carried paths: directories a switch made in the
// staging directory to hold them.
std::vector<std::string> parentsOf(const std::vector<std::string>& paths)
{
    std::vector<std::string> parents;
    for (const std::string& path : paths)
        for (fs::path parent = fs::path(path).parent_path(); !parent.empty(); parent = parent.parent_path())
            parents.push_back(parent.string());
    return parents;
}

// Removes `.split-run-carried` from `root` when it is a regular file there.
void removeJournal(const fs::path& root)
{
    struct stat st;
    if (::lstat((root / kJournalName).c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink((root / kJournalName).c_str());
}

// Moves each carried path from `from` back to `to`, where nothing has
// taken its place; true when none is left in `from`.
bool carryBack(const fs::path& from, const fs::path& to, const std::vector<std::string>& carried)
{
    bool all = true;
    for (auto path = carried.rbegin(); path != carried.rend(); ++path)
        if (::renameat2(AT_FDCWD, (from / *path).c_str(), AT_FDCWD, (to / *path).c_str(), RENAME_NOREPLACE) != 0 &&
            pathExists(from / *path))
            all = false;
    return all;
}

// Finishes or rolls back the switch of a build into `dir` that was killed,
// whose working directory is `work`. Call under the SwitchLock.
void repairSwitch(const fs::path& dir, const fs::path& work)
{
    const std::string name = work.filename().string();
    if (readManifest(dir).build == name) {
        // The exchange happened: DIR holds the new output and `work` the
        // earlier one, whose files are deleted.
        removeJournal(dir);
        removeOwnFiles(work, readManifest(work));
        return;
    }
    const std::vector<std::string> carried = readJournal(work);
    if (pathExists(work / kJournalName)) {
        // Killed before the exchange: the user's files go back to DIR. One
        // that cannot (a new file took its place) keeps the journal, and
        // the directory stays for the user to sort out.
        if (!carryBack(work, dir, carried)) return;
        removeJournal(work);
        removeOwnFiles(work, readManifest(work), parentsOf(carried));
        return;
    }
    const Manifest manifest = readManifest(work);
    if (!manifest.build.empty() && manifest.build != name) {
        // An earlier output moved aside (its manifest names another build).
        removeOwnFiles(work, manifest);
        return;
    }
    // A staging directory whose build never reached its switch: it holds
    // only what the build wrote.
    std::error_code ignored;
    fs::remove_all(work, ignored);
}

// Repairs what killed builds into `dir` left beside it. Call under the
// SwitchLock.
void repairAbandoned(const fs::path& dir)
{
    for (const fs::path& work : abandonedSiblings(dir, "split-run-new")) repairSwitch(dir, work);
    // Earlier versions moved the files they replaced aside into these.
    for (const fs::path& old : abandonedSiblings(dir, "split-run-old")) removeOwnFiles(old, readManifest(old));
}

// Why `path` in `dir` is not taken for split-run's own, and what to do.
std::string foreignFileMessage(const fs::path& dir, const std::string& path)
{
    const std::string head = "--out " + dir.string() + ": " + (dir / path).string() + " exists";
    const std::string tail = " (nothing was changed)";
    struct stat st;
    const bool hasList = ::lstat((dir / kManifestName).c_str(), &st) == 0;
    if (!hasList || !S_ISREG(st.st_mode))
        return head + ", but " + dir.string() + (hasList ? "'s " + std::string(kManifestName) + " is not a regular file"
                                                         : " has no " + std::string(kManifestName)) +
               ", the list of the files split-run wrote there, so it counts as someone else's; if " + dir.string() +
               " holds only an earlier build's output, delete it or move it away, or choose another --out" + tail;
    const Manifest manifest = readManifest(dir);
    const bool listed = std::any_of(manifest.files.begin(), manifest.files.end(),
                                    [&](const ManifestEntry& entry) { return entry.path == path; });
    if (listed)
        return head + " but was changed or replaced after split-run wrote it (it differs from its line in " +
               (dir / kManifestName).string() + "); move it away or choose another --out" + tail;
    return head + " and was not written by split-run (" + (dir / kManifestName).string() +
           " does not list it); move it away or choose another --out" + tail;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The split-run files of DIR's manifest that are still split-run's own.
std::set<std::string> ownFiles(const fs::path& dir, const Manifest& manifest)
{
    std::set<std::string> own;
    Fd root(openDir(dir));
    if (root.get() < 0) return own;
    for (const ManifestEntry& entry : manifest.files)
        if (isOwnFile(root.get(), entry)) own.insert(entry.path);
    return own;
}

// The user's paths in `dir` (relative), to be carried over whole: every
// entry that is not one of split-run's own files, descending only into
// real directories that hold some of them.
void userPaths(const fs::path& dir, const std::string& relative, const std::set<std::string>& own,
               const std::set<std::string>& ownDirs, std::vector<std::string>& paths)
{
    Fd fd(openDir(relative.empty() ? dir : dir / relative));
    if (fd.get() < 0) throw RunError("cannot read " + (dir / relative).string() + " (" + reason() + ")");
    DIR* listing = ::fdopendir(::dup(fd.get()));
    if (listing == nullptr) throw RunError("cannot read " + (dir / relative).string() + " (" + reason() + ")");
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        if (own.count(path)) continue;
        struct stat st;
        if (ownDirs.count(path) && ::fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode))
            userPaths(dir, path, own, ownDirs, paths);
        else
            paths.push_back(path);
    }
}

// Files flushed at once when a build's output is committed.
constexpr std::size_t kFlushThreads = 8;

// Flushes the file or directory to the disk: 0, or the errno of the
// failure. A write the kernel could not complete (a full disk found only
// when the pages are allocated, a device error) shows here and nowhere
// else. A file system that cannot flush at all (EINVAL) has nothing to
// wait for.
int fsyncPath(const fs::path& path, int flags)
{
    if (flushHook())
        if (const int failed = flushHook()(path)) return failed;
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return errno;
    const int failed = ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
    ::close(fd);
    return failed;
}

}  // namespace

void checkOutDir(const std::string& dir)
{
    if (dir.empty())
        throw InputError("--out is empty; give the output directory, e.g. --out sales-out");
    if (dir == "-")
        throw InputError("--out -: a build writes a directory, not a stream; give a directory, e.g. --out sales-out");
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            throw InputError("--out " + dir + ": exists and is not a directory; choose another output directory "
                             "or remove the file");
        return;
    }
    if (errno == ENOENT && ::lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        throw InputError("--out " + dir + ": is a symlink to nothing; remove the link or give the directory it "
                         "should point to");
    if (errno != ENOENT && errno != ENOTDIR)
        throw InputError("--out " + dir + ": cannot use the directory (" + reason() + "); choose a writable location");
}

void OutputTransaction::setStepHook(StepHook hook) { stepHook() = std::move(hook); }

void OutputTransaction::setFlushHook(FlushHook hook) { flushHook() = std::move(hook); }

void OutputTransaction::flush(const fs::path& path, int flags) const
{
    if (const int failed = fsyncPath(path, flags))
        throw RunError("cannot write " + path.string() + " to the disk (" + std::strerror(failed) + "); " +
                       dir_.string() + " is left as it was");
}

OutputTransaction::OutputTransaction(fs::path dir, const std::vector<NamedInput>& inputs)
    : dir_(std::move(dir))
{
    if (dir_.filename().empty()) dir_ = dir_.parent_path();   // "out/" names "out"
    checkOutDir(dir_.string());
    // "." and ".." name no entry of a parent that a working directory could
    // sit beside: the directory they stand for is used by its real path.
    if (dir_.filename() == "." || dir_.filename() == "..") {
        std::error_code ec;
        const fs::path real = fs::canonical(dir_, ec);
        if (ec)
            throw InputError("--out " + dir_.string() + ": cannot use the directory (" + ec.message() +
                             "); choose a writable location");
        dir_ = real;
    }
    if (dir_ == dir_.root_path())
        throw InputError("--out " + dir_.string() + ": is the root directory, which a build cannot replace; give "
                         "a directory below it, e.g. --out /srv/sales-out");
    struct stat st;
    // A DIR that is a symlink to a directory stays a link: the switch
    // happens where it points.
    if (::lstat(dir_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path target = fs::canonical(dir_, ec);
        if (!ec) dir_ = target;
    }
    if (::stat(dir_.c_str(), &st) == 0) {
        // An input that the build would replace must not be read and then lost.
        const Manifest manifest = readManifest(dir_);
        for (const NamedInput& input : inputs) {
            struct stat in;
            if (input.second.empty() || input.second == "-" || ::stat(input.second.c_str(), &in) != 0) continue;
            for (const ManifestEntry& file : manifest.files) {
                struct stat old;
                if (::stat((dir_ / file.path).c_str(), &old) == 0 && sameFile(in, old))
                    throw InputError(input.first + " " + input.second + ": is an output of an earlier build in " +
                                     dir_.string() + ", which this build replaces; copy it elsewhere first or "
                                     "choose another --out");
            }
        }
    } else if (!dir_.parent_path().empty()) {
        std::error_code ec;
        fs::create_directories(dir_.parent_path(), ec);
        if (ec)
            throw InputError("--out " + dir_.string() + ": cannot create the directory (" + ec.message() +
                             "); choose a writable location");
    }
    {
        SwitchLock lock(dir_);
        repairAbandoned(dir_);
    }
    staging_ = makeSibling(dir_, "split-run-new");
    interruptGuard_ = std::make_unique<RemoveOnInterrupt>(staging_);
}

void OutputTransaction::refuseForeignFiles(const std::vector<std::string>& names) const
{
    // Under the switch lock: another build switching its output into DIR
    // meanwhile would show this check its files before its manifest.
    SwitchLock lock(dir_);
    struct stat st;
    if (::stat(dir_.c_str(), &st) != 0) return;
    const std::set<std::string> own = ownFiles(dir_, readManifest(dir_));
    for (const std::string& name : names)
        if (!own.count(name) && ::lstat((dir_ / name).c_str(), &st) == 0)
            throw InputError(foreignFileMessage(dir_, name));
}

void OutputTransaction::startWriteback(const fs::path& file)
{
    std::lock_guard<std::mutex> guard(writebackMutex_);
    // Finished requests are dropped, so that a long run keeps a handful.
    std::erase_if(writebacks_, [](const std::future<void>& request) {
        return request.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    try {
        // Submitting a range's pages blocks for as long as the device queue
        // is full (tens of milliseconds per 64 MiB): not on the caller.
        writebacks_.push_back(std::async(std::launch::async, [file] {
            const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return;
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            ::close(fd);
        }));
    } catch (const std::system_error&) {
        // No thread to spare: the flush in commit() does it all.
    }
}

void OutputTransaction::waitForWritebacks()
{
    std::lock_guard<std::mutex> guard(writebackMutex_);
    for (std::future<void>& request : writebacks_) request.wait();
    writebacks_.clear();
}

OutputTransaction::~OutputTransaction()
{
    waitForWritebacks();
    if (committed_) return;
    // Only a staging directory still holding nothing but the build's own
    // files is removed outright; one that a failed switch could not clear
    // of the user's files is left for the next build to repair.
    if (pathExists(staging_ / kJournalName)) return;
    std::error_code ec;
    fs::remove_all(staging_, ec);
}

void OutputTransaction::commit()
{
    // From here on the user's files may move through the staging
    // directory: an interrupt must no longer remove it (the next build
    // repairs a switch cut short).
    interruptGuard_.reset();
    waitForWritebacks();
    const std::string build = staging_.filename().string();
    writeFile(staging_ / kManifestName, manifestText(staging_, build));
    const Manifest manifest = readManifest(staging_);
    // The new output reaches the disk before it can replace the old one:
    // the files are flushed on threads of their own, so that the waits for
    // the device overlap instead of adding up.
    // A file that does not reach the disk stops the switch: DIR keeps the
    // previous output rather than getting one with a hole.
    const std::size_t flushes = std::min<std::size_t>(manifest.files.size(), kFlushThreads);
    runShares(flushes, [&](std::size_t first) {
        for (std::size_t k = first; k < manifest.files.size(); k += flushes)
            flush(staging_ / manifest.files[k].path, O_RDONLY);
    });
    flush(staging_ / kManifestName, O_RDONLY);
    flush(staging_, O_RDONLY | O_DIRECTORY);
    step("manifest");

    SwitchLock lock(dir_);
    repairAbandoned(dir_);

    // A directory that does not exist yet is the staging directory renamed.
    if (!pathExists(dir_)) {
        if (::renameat2(AT_FDCWD, staging_.c_str(), AT_FDCWD, dir_.c_str(), RENAME_NOREPLACE) != 0)
            throw RunError("cannot move " + staging_.string() + " to " + dir_.string() + " (" + reason() + ")");
        committed_ = true;
        step("exchange");
        return;
    }

    const Manifest previous = readManifest(dir_);
    std::set<std::string> own = ownFiles(dir_, previous);
    struct stat st;
    if (::lstat((dir_ / kManifestName).c_str(), &st) == 0 && S_ISREG(st.st_mode)) own.insert(kManifestName);
    std::set<std::string> ownDirs;
    for (const std::string& path : own)
        for (fs::path parent = fs::path(path).parent_path(); !parent.empty(); parent = parent.parent_path())
            ownDirs.insert(parent.string());
    std::vector<std::string> carried;
    userPaths(dir_, "", own, ownDirs, carried);
    for (const std::string& path : carried)
        if (pathExists(staging_ / path) || path == kJournalName)
            throw InputError(foreignFileMessage(dir_, path));

    std::string journal;
    for (const std::string& path : carried) journal += path + "\n";
    writeFile(staging_ / kJournalName, journal);
    try {
        flush(staging_ / kJournalName, O_RDONLY);
    } catch (const RunError&) {
        // Nothing was carried yet: without the journal the staging
        // directory goes as after any other failure.
        std::error_code ec;
        fs::remove(staging_ / kJournalName, ec);
        throw;
    }
    step("journal");

    // DIR keeps its permissions through the switch.
    if (::stat(dir_.c_str(), &st) == 0) ::chmod(staging_.c_str(), st.st_mode & 07777);

    std::vector<std::string> moved;
    try {
        for (const std::string& path : carried) {
            const fs::path parent = fs::path(path).parent_path();
            if (!parent.empty()) {
                std::error_code ec;
                fs::create_directories(staging_ / parent, ec);
                if (ec) throw RunError("cannot create " + (staging_ / parent).string() + " (" + ec.message() + ")");
            }
            if (::renameat2(AT_FDCWD, (dir_ / path).c_str(), AT_FDCWD, (staging_ / path).c_str(), RENAME_NOREPLACE) !=
                0)
                throw RunError("cannot move " + (dir_ / path).string() + " to " + (staging_ / path).string() + " (" +
                               reason() + ")");
            moved.push_back(path);
            step("carry");
        }
        if (::renameat2(AT_FDCWD, staging_.c_str(), AT_FDCWD, dir_.c_str(), RENAME_EXCHANGE) != 0)
            throw RunError("cannot switch " + staging_.string() + " with " + dir_.string() + " (" + reason() +
                           (errno == EINVAL ? "; the file system cannot exchange directories atomically" : "") +
                           ")");
    } catch (const RunError&) {
        // Without the journal the destructor removes the staging directory:
        // it goes only once every file carried into it is back in DIR.
        if (carryBack(staging_, dir_, moved)) removeJournal(staging_);
        throw;
    }
    committed_ = true;
    step("exchange");
    removeJournal(dir_);
    step("journal-removed");
    // The staging directory's name now holds the earlier output.
    removeOwnFiles(staging_, previous, parentsOf(carried));
    step("old-removed");
}

}  // namespace splitrun

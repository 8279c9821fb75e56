#include "output_transaction.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>

#include "errors.h"
#include "interrupt_cleanup.h"
#include "output_dir.h"

namespace fs = std::filesystem;

namespace splitrun {

const char* const kManifestName = ".split-run-files";

namespace {

// A path below DIR that stays below DIR.
bool isContainedRelative(const std::string& text)
{
    if (text.empty() || text[0] == '/') return false;
    for (const fs::path& part : fs::path(text))
        if (part.empty() || part == ".." || part == ".") return false;
    return true;
}

bool pathExists(const fs::path& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Moves `from` to `to`, creating to's parent directories; throws RunError
// with the OS reason.
void move(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    if (ec)
        throw RunError("cannot create " + to.parent_path().string() + " (" + ec.message() + ")");
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw RunError("cannot move " + from.string() + " to " + to.string() + " (" +
                       std::strerror(errno) + ")");
}

// What ties a working directory to the process that made it: the host's
// name (characters other than letters, digits, '.' and '-' as '_') and the
// process ID.
std::string hostTag()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return "host";
    std::string tag = host;
    for (char& c : tag)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
    return tag.empty() ? "host" : tag;
}

std::string siblingPrefix(const fs::path& dir, const char* purpose)
{
    return "." + dir.filename().string() + "." + purpose + "-" + hostTag() + "-";
}

// A fresh directory beside `dir`, named after it, this host and this
// process, that no other file has.
fs::path makeSibling(const fs::path& dir, const char* purpose)
{
    const fs::path parent = dir.parent_path().empty() ? fs::path(".") : dir.parent_path();
    std::string pattern =
        (parent / (siblingPrefix(dir, purpose) + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw InputError("--out " + dir.string() + ": cannot create a working directory in " +
                         parent.string() + " (" + std::strerror(errno) +
                         "); choose an output directory in a writable location");
    return pattern;
}

// Removes the working directories beside `dir` that builds on this host
// left when they were killed outright (SIGKILL, the out-of-memory killer),
// which no handler can clean up: those whose process no longer exists. A
// directory of a live process, or of another host sharing the file system,
// is left alone.
void removeAbandonedSiblings(const fs::path& dir, const char* purpose)
{
    const fs::path parent = dir.parent_path().empty() ? fs::path(".") : dir.parent_path();
    const std::string prefix = siblingPrefix(dir, purpose);
    std::error_code ec;
    for (fs::directory_iterator it(parent, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::size_t dash = name.find('-', prefix.size());
        if (dash == std::string::npos || dash == prefix.size()) continue;
        const std::string digits = name.substr(prefix.size(), dash - prefix.size());
        if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        if (pid <= 0 || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

// Every regular file below `root`, as paths relative to it, sorted.
std::vector<std::string> stagedFiles(const fs::path& root)
{
    std::vector<std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        // The iterator's paths start with root itself, so the relative path
        // is a matter of the text (fs::relative would resolve every
        // component of every file through the file system).
        if (entry.is_regular_file()) files.push_back(entry.path().lexically_relative(root).string());
    std::sort(files.begin(), files.end());
    return files;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

namespace {

// The files of a directory written before builds kept a manifest: each
// container's entries.tsv lists the files written beside it, and the split
// model sits next to the containers.
std::vector<std::string> filesOfUnlistedBuild(const fs::path& dir)
{
    std::vector<std::string> files;
    for (const char* container : {"StatXML", "PMML"}) {
        std::ifstream index(dir / container / "entries.tsv", std::ios::binary);
        if (!index) continue;
        files.push_back(std::string(container) + "/entries.tsv");
        std::string line;
        std::getline(index, line);   // the column names
        while (std::getline(index, line)) {
            const std::size_t tab = line.find('\t');
            const std::string file = tab == std::string::npos ? "" : line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
            // Entry files are named with safe bytes only; anything else is not ours.
            if (file.find_first_of("/\\") == std::string::npos && isContainedRelative(file))
                files.push_back(std::string(container) + "/" + file);
        }
    }
    if (!files.empty() && pathExists(dir / "split-model.pmml")) files.push_back("split-model.pmml");
    return files;
}

}  // namespace

std::vector<std::string> readManifest(const fs::path& dir)
{
    std::ifstream in(dir / kManifestName, std::ios::binary);
    if (!in) return filesOfUnlistedBuild(dir);
    std::vector<std::string> files;
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#' && isContainedRelative(line)) files.push_back(line);
    return files;
}

OutputTransaction::OutputTransaction(fs::path dir, const std::vector<NamedInput>& inputs)
    : dir_(std::move(dir))
{
    if (dir_.filename().empty()) dir_ = dir_.parent_path();   // "out/" names "out"
    struct stat st;
    if (::stat(dir_.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            throw InputError("--out " + dir_.string() +
                             ": exists and is not a directory; choose another output directory "
                             "or remove the file");
        // An input that the build would replace must not be read and then lost.
        std::vector<struct stat> inputStats;
        for (const NamedInput& input : inputs) {
            struct stat in;
            if (input.second.empty() || input.second == "-" || ::stat(input.second.c_str(), &in) != 0)
                continue;
            for (const std::string& file : readManifest(dir_)) {
                struct stat old;
                if (::stat((dir_ / file).c_str(), &old) == 0 && sameFile(in, old))
                    throw InputError(input.first + " " + input.second +
                                     ": is an output of an earlier build in " + dir_.string() +
                                     ", which this build replaces; copy it elsewhere first or "
                                     "choose another --out");
            }
        }
    } else if (errno != ENOENT) {
        throw InputError("--out " + dir_.string() + ": cannot use the directory (" +
                         std::strerror(errno) + "); choose a writable location");
    } else if (!dir_.parent_path().empty()) {
        std::error_code ec;
        fs::create_directories(dir_.parent_path(), ec);
        if (ec)
            throw InputError("--out " + dir_.string() + ": cannot create the directory (" +
                             ec.message() + "); choose a writable location");
    }
    removeAbandonedSiblings(dir_, "split-run-new");
    staging_ = makeSibling(dir_, "split-run-new");
    // The containers' directories made inside it are then placed away from
    // the parent, where an earlier build's files were likely just deleted.
    setTopOfTree(staging_, true);
    interruptGuard_ = std::make_unique<RemoveOnInterrupt>(staging_);
}

OutputTransaction::~OutputTransaction()
{
    if (committed_) return;
    std::error_code ec;
    fs::remove_all(staging_, ec);
}

void OutputTransaction::commit()
{
    // From here on the staged files move into DIR: removing the staging
    // directory part-way would lose files, so an interrupt no longer does.
    interruptGuard_.reset();
    const std::vector<std::string> newFiles = stagedFiles(staging_);
    {
        std::string manifest = "# Files split-run wrote into this directory; the next build "
                               "replaces these and no others.\n";
        for (const std::string& file : newFiles) manifest += file + "\n";
        writeFile(staging_ / kManifestName, manifest);
    }

    // A directory that does not exist yet is the staging directory renamed,
    // without the allocator's mark (the user's own subdirectories stay
    // near it).
    if (!pathExists(dir_)) {
        setTopOfTree(staging_, false);
        if (::rename(staging_.c_str(), dir_.c_str()) != 0)
            throw RunError("cannot move " + staging_.string() + " to " + dir_.string() + " (" +
                           std::strerror(errno) + ")");
        committed_ = true;
        return;
    }

    std::vector<std::string> oldFiles = readManifest(dir_);
    if (pathExists(dir_ / kManifestName)) oldFiles.push_back(kManifestName);
    const std::set<std::string> old(oldFiles.begin(), oldFiles.end());
    for (const std::string& file : newFiles)
        if (!old.count(file) && pathExists(dir_ / file))
            throw InputError("--out " + dir_.string() + ": " + (dir_ / file).string() +
                             " exists and was not written by split-run; move it away or choose "
                             "another output directory (nothing was changed)");

    const fs::path backup = makeSibling(dir_, "split-run-old");
    std::vector<std::string> movedAside;
    std::vector<std::string> movedIn;
    try {
        for (const std::string& file : oldFiles) {
            if (!pathExists(dir_ / file)) continue;
            move(dir_ / file, backup / file);
            movedAside.push_back(file);
        }
        std::vector<std::string> all = newFiles;
        all.push_back(kManifestName);
        for (const std::string& file : all) {
            move(staging_ / file, dir_ / file);
            movedIn.push_back(file);
        }
    } catch (const RunError&) {
        // Undo in reverse: the new files out, the old ones back.
        for (const std::string& file : movedIn) ::unlink((dir_ / file).c_str());
        for (const std::string& file : movedAside)
            ::rename((backup / file).c_str(), (dir_ / file).c_str());
        std::error_code ec;
        fs::remove_all(backup, ec);
        throw;
    }
    committed_ = true;
    std::error_code ec;
    fs::remove_all(backup, ec);
    fs::remove_all(staging_, ec);
    // Directories the old files leave empty go too; fs::remove keeps any
    // directory that still holds something.
    for (const std::string& file : oldFiles)
        for (fs::path parent = fs::path(file).parent_path(); !parent.empty(); parent = parent.parent_path())
            fs::remove(dir_ / parent, ec);
}

}  // namespace splitrun

#include "output_manifest.h"

#include "fast_xxh3.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace splitrun {

const char* const kManifestName = ".split-run-files";

namespace {

const char* const kHeading =
    "# Files split-run wrote into this directory; the next build replaces these and no others.\n";
const char* const kBuildPrefix = "# build ";

// A path below the directory that stays below it.
bool isContainedRelative(const std::string& text)
{
    if (text.empty() || text[0] == '/') return false;
    for (const fs::path& part : fs::path(text))
        if (part.empty() || part == ".." || part == ".") return false;
    return true;
}

bool parseNumber(const std::string& text, int base, std::uint64_t* value)
{
    if (text.empty() || text.size() > 20) return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtoull(text.c_str(), &end, base);
    return errno == 0 && end == text.c_str() + text.size() && std::isxdigit(static_cast<unsigned char>(text[0]));
}

// The files earlier versions wrote, which their manifests listed by path
// alone: the containers' entry files and indexes, and the top-level outputs.
bool isEarlierOutputName(const std::string& path)
{
    const fs::path p(path);
    const std::string top = p.begin()->string();
    if (std::distance(p.begin(), p.end()) == 1)
        return top == "split-model.pmml" || top == "groups.csv" || top == "coefficients.csv";
    return std::distance(p.begin(), p.end()) == 2 && (top == "StatXML" || top == "PMML") &&
           (p.extension() == ".xml" || p.filename() == "entries.tsv");
}

// "size<TAB>hash<TAB>path", or a path alone (an older manifest, trusted
// only for the names earlier versions wrote).
bool parseLine(const std::string& line, ManifestEntry* entry)
{
    const std::size_t first = line.find('\t');
    const std::size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second != std::string::npos && parseNumber(line.substr(0, first), 10, &entry->size) &&
        parseNumber(line.substr(first + 1, second - first - 1), 16, &entry->hash)) {
        entry->path = line.substr(second + 1);
        entry->checked = true;
    } else {
        entry->path = line;
        entry->checked = false;
        if (!isContainedRelative(line) || !isEarlierOutputName(line)) return false;
    }
    return isContainedRelative(entry->path);
}

// An fd for the directory holding `path`'s last component, reached from
// `rootFd` without following symlinks; -1 when there is none.
int parentFd(int rootFd, const fs::path& path)
{
    int fd = ::dup(rootFd);
    for (auto part = path.begin(); fd >= 0 && std::next(part) != path.end(); ++part) {
        const int next = ::openat(fd, part->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

bool isOwnFileIn(int dirFd, const std::string& name, const ManifestEntry& entry)
{
    struct stat linked;
    if (::fstatat(dirFd, name.c_str(), &linked, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(linked.st_mode)) return false;
    if (!entry.checked) return true;
    if (static_cast<std::uint64_t>(linked.st_size) != entry.size) return false;
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::uint64_t hash = 0;
    struct stat opened;
    const bool same = ::fstat(fd, &opened) == 0 && opened.st_ino == linked.st_ino && opened.st_dev == linked.st_dev &&
                      contentHash(fd, &hash) && hash == entry.hash;
    ::close(fd);
    return same;
}

}  // namespace

std::vector<std::string> readLocalLines(const fs::path& dir, const char* name)
{
    std::vector<std::string> lines;
    // Opened without waiting (a FIFO put in its place would block the open
    // for good) and read only when it is a regular file.
    const int fd = ::open((dir / name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return lines;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return lines;
    }
    std::string text;
    char buffer[1 << 14];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

Manifest readManifest(const fs::path& root)
{
    Manifest manifest;
    for (std::string line : readLocalLines(root, kManifestName)) {
        // A list saved with CRLF line ends by an editor still lists the
        // same files: split-run writes no name that ends in a CR.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(kBuildPrefix, 0) == 0) {
            manifest.build = line.substr(std::string(kBuildPrefix).size());
            continue;
        }
        ManifestEntry entry;
        if (!line.empty() && line[0] != '#' && parseLine(line, &entry)) manifest.files.push_back(entry);
    }
    return manifest;
}

bool contentHash(int fd, std::uint64_t* hash)
{
    XXH3_state_t* state = XXH3_createState();
    if (state == nullptr) return false;
    XXH3_64bits_reset(state);
    // Left uninitialised: zeroing a megabyte for every file cost as much
    // as hashing a small one.
    constexpr std::size_t kBuffer = std::size_t{1} << 20;
    const std::unique_ptr<char[]> buffer(new char[kBuffer]);
    ssize_t got;
    while ((got = ::read(fd, buffer.get(), kBuffer)) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        XXH3_64bits_update(state, buffer.get(), static_cast<std::size_t>(got));
    }
    *hash = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    return got == 0;
}

std::string manifestText(const fs::path& root, const std::string& build)
{
    std::vector<std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        if (entry.symlink_status().type() == fs::file_type::regular)
            files.push_back(entry.path().lexically_relative(root).string());
    std::sort(files.begin(), files.end());
    std::string text = std::string(kHeading) + kBuildPrefix + build + "\n";
    for (const std::string& file : files) {
        if (file == kManifestName) continue;
        const int fd = ::open((root / file).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        std::uint64_t hash = 0;
        const bool read = fd >= 0 && ::fstat(fd, &st) == 0 && contentHash(fd, &hash);
        if (fd >= 0) ::close(fd);
        if (!read) continue;   // an unreadable file is left to the user, never deleted
        char fields[48];
        std::snprintf(fields, sizeof fields, "%" PRIu64 "\t%016" PRIx64 "\t", static_cast<std::uint64_t>(st.st_size),
                      hash);
        text += fields + file + "\n";
    }
    return text;
}

bool isOwnFile(int rootFd, const ManifestEntry& entry)
{
    const fs::path path(entry.path);
    const int dirFd = parentFd(rootFd, path);
    if (dirFd < 0) return false;
    const bool own = isOwnFileIn(dirFd, path.filename().string(), entry);
    ::close(dirFd);
    return own;
}

bool removeOwnFiles(const fs::path& root, const Manifest& manifest, std::vector<std::string> dirs)
{
    const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (rootFd < 0) return errno == ENOENT;
    for (const ManifestEntry& entry : manifest.files) {
        const fs::path path(entry.path);
        const int dirFd = parentFd(rootFd, path);
        if (dirFd < 0) continue;
        if (isOwnFileIn(dirFd, path.filename().string(), entry)) ::unlinkat(dirFd, path.filename().c_str(), 0);
        ::close(dirFd);
        for (fs::path parent = path.parent_path(); !parent.empty(); parent = parent.parent_path())
            dirs.push_back(parent.string());
    }
    struct stat st;
    if (::fstatat(rootFd, kManifestName, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
        ::unlinkat(rootFd, kManifestName, 0);
    // Deepest first; rmdir refuses any directory that still holds something.
    std::sort(dirs.begin(), dirs.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    dirs.erase(std::unique(dirs.begin(), dirs.end()), dirs.end());
    for (const std::string& dir : dirs) {
        if (!isContainedRelative(dir)) continue;
        const int parent = parentFd(rootFd, dir);
        if (parent < 0) continue;
        ::unlinkat(parent, fs::path(dir).filename().c_str(), AT_REMOVEDIR);
        ::close(parent);
    }
    ::close(rootFd);
    return ::rmdir(root.c_str()) == 0 || errno == ENOENT;
}

}  // namespace splitrun

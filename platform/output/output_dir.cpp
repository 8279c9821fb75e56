#include "output_dir.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <random>
#include <unordered_set>
#include <sstream>

#include "errors.h"

namespace fs = std::filesystem;

namespace splitrun {

namespace {

bool isSafeByte(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.';
}

// A TSV cell: tab, line feed, carriage return and backslash are escaped.
std::string tsvCell(const std::string& text)
{
    std::string cell;
    for (char c : text) {
        switch (c) {
        case '\t': cell += "\\t"; break;
        case '\n': cell += "\\n"; break;
        case '\r': cell += "\\r"; break;
        case '\\': cell += "\\\\"; break;
        default: cell += c;
        }
    }
    return cell;
}

}  // namespace

std::string entryFileName(const std::string& key)
{
    std::string name;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto c = static_cast<unsigned char>(key[i]);
        if (isSafeByte(c) && !(i == 0 && c == '.')) {
            name += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            name += hex;
        }
    }
    return name + ".xml";
}

std::string propertyValue(const std::string& properties, const std::string& name)
{
    std::istringstream lines(properties);
    std::string line;
    const std::string prefix = name + "=";
    while (std::getline(lines, line))
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    return "";
}

void setTopOfTree(const fs::path& dir, bool top)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && ((flags & FS_TOPDIR_FL) != 0) != top) {
        flags = top ? (flags | FS_TOPDIR_FL) : (flags & ~FS_TOPDIR_FL);
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    ::close(fd);
}

void makeSpreadDirectory(const fs::path& path)
{
    const fs::path parent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "-%08x%08x", random(), random());
        const fs::path temp = parent / ("." + path.filename().string() + suffix);
        if (::mkdir(temp.c_str(), 0777) != 0) {
            if (errno == EEXIST && attempt < 100) continue;
            throw RunError("cannot create " + path.string() + " (" + std::strerror(errno) + ")");
        }
        if (::rename(temp.c_str(), path.c_str()) != 0) {
            const int reason = errno;
            ::rmdir(temp.c_str());
            throw RunError("cannot create " + path.string() + " (" + std::strerror(reason) + ")");
        }
        return;
    }
}

void writeFile(const fs::path& path, const std::string& content)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw RunError("cannot write " + path.string() + " (" + std::strerror(errno) + ")");
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            const int reason = wrote < 0 ? errno : ENOSPC;
            ::close(fd);
            throw RunError("cannot write " + path.string() + " (" + std::strerror(reason) + ")");
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (::close(fd) != 0)
        throw RunError("cannot write " + path.string() + " (" + std::strerror(errno) + ")");
}

void writeContainerDir(const fs::path& dir, const NamedEntries& entries)
{
    const fs::path target = dir / entries.name;
    std::error_code ec;
    if (!fs::is_directory(target, ec)) {
        if (!fs::create_directories(dir, ec) && ec)
            throw RunError("cannot create " + dir.string() + " (" + ec.message() + ")");
        makeSpreadDirectory(target);
    }

    std::string index = "key\tfile\tmimeType\ttypeId\n";
    std::unordered_set<std::string> used;
    used.reserve(entries.count);
    for (std::size_t i = 0; i < entries.count; ++i) {
        const ContainerEntry entry = entries.entry(i);
        // A key written twice keeps both entries: later ones get "~N" (a byte
        // that encoded keys never contain) before the extension.
        const std::string base = entryFileName(entry.key);
        std::string file = base;
        for (int n = 2; !used.insert(file).second; ++n)
            file = base.substr(0, base.size() - 4) + "~" + std::to_string(n) + ".xml";
        index += tsvCell(entry.key) + "\t" + tsvCell(file) + "\t" +
                 tsvCell(propertyValue(entry.properties, "mimeType")) + "\t" +
                 tsvCell(propertyValue(entry.properties, "typeId")) + "\n";
        writeFile(target / file, entry.content);
    }
    writeFile(target / "entries.tsv", index);
}

void writeContainerDirs(const fs::path& dir, const std::vector<NamedEntries>& containers)
{
    // Creating files is most of the cost of many small entries. Files made
    // in one directory queue on that directory's lock, so each container
    // gets a thread of its own instead.
    std::vector<std::future<void>> writers;
    for (const NamedEntries& container : containers)
        writers.push_back(std::async(std::launch::async, [&dir, &container] {
            writeContainerDir(dir, container);
        }));
    // Every writer finishes before the first failure, in container order, is reported.
    for (std::future<void>& writer : writers) writer.wait();
    for (std::future<void>& writer : writers) writer.get();
}

}  // namespace splitrun

#include "output_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <refhost/container_store.h>

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
    // Read in place: the store asks twice for every entry it writes.
    std::string_view rest(properties);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 && line[name.size()] == '=')
            return std::string(line.substr(name.size() + 1));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return "";
}

RunError writeError(const fs::path& path, int error)
{
    const bool full = error == ENOSPC || error == EDQUOT;
    return RunError("cannot write " + path.string() + " (" + std::strerror(error) + ")" +
                    (full ? "; the file system is full: free space on it, or write to a file system with room" : ""));
}

void writeFile(const fs::path& path, const std::string& content)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw writeError(path, errno);
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            const int reason = wrote < 0 ? errno : ENOSPC;
            ::close(fd);
            throw writeError(path, reason);
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (::close(fd) != 0) throw writeError(path, errno);
}

ContainerDirWriter::ContainerDirWriter(const fs::path& dir, const std::string& name)
    : target_(dir / name), index_("key\tfile\tmimeType\ttypeId\n")
{
    std::error_code ec;
    fs::create_directories(target_, ec);
    if (ec) throw RunError("cannot create " + target_.string() + " (" + ec.message() + ")");
}

void ContainerDirWriter::add(const std::string& key, const std::string& mimeType, const std::string& typeId,
                             const std::string& content)
{
    // A key written twice keeps both entries: later ones get "~N" (a byte
    // that encoded keys never contain) before the extension.
    const std::string base = entryFileName(key);
    std::string file = base;
    for (int n = 2; !used_.insert(file).second; ++n)
        file = base.substr(0, base.size() - 4) + "~" + std::to_string(n) + ".xml";
    index_ += tsvCell(key) + "\t" + tsvCell(file) + "\t" + tsvCell(mimeType) + "\t" + tsvCell(typeId) + "\n";
    writeFile(target_ / file, content);
}

void ContainerDirWriter::finish() { writeFile(target_ / "entries.tsv", index_); }

const char* const kContainerStoreName = "containers.db";

void writeContainerStore(const fs::path& path, const std::vector<NamedEntries>& containers,
                         const std::function<void(refhost::ContainerStoreWriter&)>& more)
{
    try {
        refhost::ContainerStoreWriter store(path.string());
        for (const NamedEntries& container : containers)
            for (std::size_t i = 0; i < container.count; ++i) {
                const ContainerEntry entry = container.entry(i);
                store.add(container.name, entry.key, propertyValue(entry.properties, "mimeType"),
                          propertyValue(entry.properties, "typeId"), entry.content);
            }
        if (more) more(store);
        store.commit();
    } catch (const refhost::StoreError& error) {
        throw RunError(std::string("cannot write ") + error.what());
    }
}

}  // namespace splitrun

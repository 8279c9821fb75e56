// Writing the build outputs: the containers' entries into one database
// (containers.db), or exported as one directory per container, holding one
// file per entry plus an index (entries.tsv) in write order.
#ifndef SPLITRUN_OUTPUT_DIR_H
#define SPLITRUN_OUTPUT_DIR_H

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "errors.h"

namespace refhost {
class ContainerStoreWriter;
}

namespace splitrun {

// One entry that a component wrote to an output container.
struct ContainerEntry {
    std::string key;
    std::string properties;   // "mimeType=...\ntypeId=..."
    std::string content;
};

// The file name of an entry: the key with every byte outside [A-Za-z0-9._-]
// and every leading '.' percent-encoded (%XX, upper case), then ".xml".
std::string entryFileName(const std::string& key);

// The value of `name` in a properties text of "name=value" lines; empty when absent.
std::string propertyValue(const std::string& properties, const std::string& name);

// The entries of one output container, handed out one at a time: entry(i)
// for i = 0 .. count - 1, in that order, so that only one entry's bytes are
// in memory at a time.
struct NamedEntries {
    std::string name;
    std::size_t count = 0;
    std::function<ContainerEntry(std::size_t)> entry;
};

// Writes one container's entries into `dir`/`name` (created when missing),
// one at a time: one file each, named by entryFileName (a key written twice
// gets "~2", "~3" before the extension), and on finish() entries.tsv with
// the columns key, file, mimeType and typeId in write order. Throws
// RunError with the OS reason on I/O failure.
class ContainerDirWriter {
public:
    ContainerDirWriter(const std::filesystem::path& dir, const std::string& name);
    void add(const std::string& key, const std::string& mimeType, const std::string& typeId,
             const std::string& content);
    void finish();

private:
    std::filesystem::path target_;
    std::string index_;
    std::unordered_set<std::string> used_;
};

// The name of the containers' database inside DIR.
extern const char* const kContainerStoreName;

// Writes the containers' entries, in the order given, into a new database
// at `path` (see refhost/container_store.h). Throws RunError naming the
// path and the reason on failure. `more`, when given, adds the rows of the
// store's other tables before it is committed.
void writeContainerStore(const std::filesystem::path& path, const std::vector<NamedEntries>& containers,
                         const std::function<void(refhost::ContainerStoreWriter&)>& more = {});

// The error of a failed write of `path` for the OS reason `error`; a full
// file system says what to do about it.
RunError writeError(const std::filesystem::path& path, int error);

// Writes `content` to `path` byte for byte, replacing any file there.
// Throws RunError naming the path and the OS reason on failure.
void writeFile(const std::filesystem::path& path, const std::string& content);

}  // namespace splitrun

#endif

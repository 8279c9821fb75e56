// Writing the build outputs: one directory per output container, holding one
// file per entry plus an index (entries.tsv) in write order.
#ifndef SPLITRUN_OUTPUT_DIR_H
#define SPLITRUN_OUTPUT_DIR_H

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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

// Writes the entries into `dir`/`name` (created when missing): one file
// each, and entries.tsv with the columns key, file, mimeType and typeId.
// Throws RunError with the OS reason on I/O failure.
void writeContainerDir(const std::filesystem::path& dir, const NamedEntries& entries);
// writeContainerDir for each container, side by side; the first failure in
// the order given is thrown once all are done.
void writeContainerDirs(const std::filesystem::path& dir, const std::vector<NamedEntries>& containers);

// Marks `dir` as the top of a directory tree for the file system's
// allocator (the ext4 "T" attribute), or clears the mark. Directories made
// inside a marked one are then placed in the file system's emptier regions
// instead of next to their parent; elsewhere this does nothing. Only advice:
// failures are ignored.
void setTopOfTree(const std::filesystem::path& dir, bool top);

// Creates the directory `path` (its parent must exist and `path` must not)
// under a random temporary name beside it, then renames it into place. The
// allocator of a marked parent (see setTopOfTree) picks its starting region
// from the name, so a random one spreads successive builds over the disk:
// files created where many were deleted moments before cost the file system
// a scan past each deleted one. Throws RunError with the OS reason.
void makeSpreadDirectory(const std::filesystem::path& path);

// Writes `content` to `path` byte for byte, replacing any file there.
// Throws RunError naming the path and the OS reason on failure.
void writeFile(const std::filesystem::path& path, const std::string& content);

}  // namespace splitrun

#endif

// The manifest a build leaves in DIR (`.split-run-files`): which build made
// the directory's current output, and each file split-run wrote there with
// its size and content hash. A file counts as split-run's own only while it
// is a regular file, reached without symlinks, of the listed size and hash;
// anything else in DIR belongs to the user and is never deleted.
#ifndef SPLITRUN_OUTPUT_MANIFEST_H
#define SPLITRUN_OUTPUT_MANIFEST_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace splitrun {

// The name of the manifest inside DIR.
extern const char* const kManifestName;

struct ManifestEntry {
    std::string path;        // relative to DIR, below it
    std::uint64_t size = 0;
    std::uint64_t hash = 0;  // contentHash of the bytes
    // False for a line of an older manifest, which listed paths alone: such
    // a file, if it has a name earlier versions wrote (StatXML/*.xml,
    // PMML/entries.tsv, split-model.pmml, ...), is split-run's own when it
    // is a regular file reached without symlinks.
    bool checked = false;
};

struct Manifest {
    std::string build;                  // the name of the build's staging directory
    std::vector<ManifestEntry> files;
};

// The manifest at `root`/kManifestName; empty when there is none. Lines
// whose path would leave the directory (absolute, empty, "." or ".."
// components) are dropped.
Manifest readManifest(const std::filesystem::path& root);

// The lines of a small bookkeeping file in `dir`, opened without following a
// symbolic link; none when the file is missing or is not a regular file.
std::vector<std::string> readLocalLines(const std::filesystem::path& dir, const char* name);

// The manifest's text for the regular files below `root` (the manifest
// itself aside), made by the build whose staging directory is named `build`.
std::string manifestText(const std::filesystem::path& root, const std::string& build);

// The hash of the bytes readable from `fd` (64-bit XXH3); false on a read error.
bool contentHash(int fd, std::uint64_t* hash);

// True when `entry` names a regular file below the directory `rootFd`,
// reached without following symlinks, that matches its size and hash.
bool isOwnFile(int rootFd, const ManifestEntry& entry);

// Deletes the files of `manifest` below `root` that are still split-run's
// own (isOwnFile), then the manifest, then those of `dirs` (relative paths,
// and the parents of the listed files) and `root` itself that are left
// empty. Never follows a symlink and never deletes a directory that holds
// anything. True when `root` is gone.
bool removeOwnFiles(const std::filesystem::path& root, const Manifest& manifest,
                    std::vector<std::string> dirs = {});

}  // namespace splitrun

#endif

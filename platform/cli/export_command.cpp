// split-run export: a build's container entries written out as files, in
// the layout of one directory per container with entries.tsv as its index.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include <refhost/container_store.h>

#include "commands.h"
#include "errors.h"
#include "output_dir.h"
#include "output_manifest.h"

namespace fs = std::filesystem;

namespace splitrun {

namespace {

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The containers to export: those asked for, each checked to exist.
std::vector<std::string> chosenContainers(const refhost::ContainerStoreReader& store, const ExportOptions& options)
{
    const std::vector<std::string> all = store.containers();
    if (options.containers.empty()) return all;
    for (const std::string& name : options.containers)
        if (std::find(all.begin(), all.end(), name) == all.end())
            throw InputError("--container " + name + ": no such container in " + options.dir +
                             "; it has " + joined(all));
    return options.containers;
}

void refuseMissingKeys(const ExportOptions& options, const std::set<std::string>& seen)
{
    for (const std::string& key : options.keys)
        if (!seen.count(key))
            throw InputError("--key " + key + ": no entry has that key in the containers exported; "
                             "list the keys with split-run export " + options.dir + " --to DIR");
}

// The first entry with the one key given, in the one container chosen:
// the entry a reader of the container gets for that key.
int exportOne(const refhost::ContainerStoreReader& store, const std::vector<std::string>& containers,
              const ExportOptions& options, std::ostream& out)
{
    if (containers.size() != 1 || options.keys.size() != 1)
        throw InputError("--to -: standard output takes one entry; choose it with one --container and one --key, "
                         "e.g. --container PMML --key model-0001");
    bool found = false;
    std::string content;
    store.forEach(containers[0], options.keys, [&](const refhost::StoredRow& row) {
        if (!found) content = row.content;
        found = true;
    });
    refuseMissingKeys(options, found ? std::set<std::string>{options.keys[0]} : std::set<std::string>{});
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.flush();
    if (!out) throw RunError("cannot write standard output");
    return 0;
}

// Writes the containers into a working directory inside OUTDIR, then moves
// each into place, so that a failure leaves OUTDIR as it was.
int exportFiles(const refhost::ContainerStoreReader& store, const std::vector<std::string>& containers,
                const ExportOptions& options, std::ostream& out)
{
    const fs::path to = options.to;
    std::error_code ec;
    // The directories made for --to go again when the export fails, so
    // that a failure leaves nothing behind (those that hold anything stay).
    fs::path target = fs::absolute(to, ec).lexically_normal();
    if (!target.has_filename()) target = target.parent_path();   // "x/" is x
    fs::path firstMade;
    for (fs::path p = target; !ec && p != p.parent_path() && !fs::exists(fs::symlink_status(p)); p = p.parent_path())
        firstMade = p;
    struct Unmake {
        fs::path target, firstMade;
        bool keep = false;
        ~Unmake() {
            std::error_code ignored;
            for (fs::path p = target; !keep && !firstMade.empty() && fs::remove(p, ignored); p = p.parent_path())
                if (p == firstMade) break;
        }
    } unmake{target, firstMade};
    fs::create_directories(to, ec);
    if (ec || !fs::is_directory(to))
        throw InputError("--to " + options.to + ": cannot create the directory (" +
                         (ec ? ec.message() : std::string("a file is in the way")) + "); choose another");
    for (const std::string& container : containers)
        if (fs::exists(fs::symlink_status(to / container)))
            throw InputError("--to " + options.to + ": " + (to / container).string() +
                             " already exists; remove it or export elsewhere (nothing was written)");
    std::string pattern = (to / ".split-run-export-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw InputError("--to " + options.to + ": cannot write there (" + std::strerror(errno) + ")");
    const fs::path work = pattern;
    try {
        std::set<std::string> seen;
        std::size_t files = 0;
        for (const std::string& container : containers) {
            ContainerDirWriter writer(work, container);
            store.forEach(container, options.keys, [&](const refhost::StoredRow& row) {
                seen.insert(row.key);
                writer.add(row.key, row.mimeType, row.typeId, row.content);
                ++files;
            });
            writer.finish();
        }
        refuseMissingKeys(options, seen);
        for (const std::string& container : containers)
            if (::renameat2(AT_FDCWD, (work / container).c_str(), AT_FDCWD, (to / container).c_str(),
                            RENAME_NOREPLACE) != 0)
                throw RunError("cannot move " + (work / container).string() + " to " + (to / container).string() +
                               " (" + std::strerror(errno) + ")");
        fs::remove_all(work, ec);
        unmake.keep = true;
        out << "Exported " << files << " entries of " << joined(containers) << " to " << options.to << "\n";
    } catch (...) {
        fs::remove_all(work, ec);
        throw;
    }
    return 0;
}

// A store its build listed in DIR's manifest must still be the one it
// wrote: one edited since (a group's entries swapped, say) would hand out
// entries under keys they do not belong to. A DIR without a manifest (a
// copied store) is exported as it is.
void refuseEditedStore(const ExportOptions& options)
{
    const Manifest manifest = readManifest(options.dir);
    const auto listed = std::find_if(manifest.files.begin(), manifest.files.end(), [](const ManifestEntry& entry) {
        return entry.checked && entry.path == kContainerStoreName;
    });
    if (listed == manifest.files.end()) return;
    const int root = ::open(options.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool own = root >= 0 && isOwnFile(root, *listed);
    if (root >= 0) ::close(root);
    if (!own)
        throw InputError((fs::path(options.dir) / kContainerStoreName).string() +
                         ": was changed after split-run wrote it (its size or content no longer matches " +
                         (fs::path(options.dir) / kManifestName).string() +
                         "), so its entries may not be the build's; build " + options.dir +
                         " again (nothing was exported)");
}

}  // namespace

int runExport(const ExportOptions& options, std::ostream& out)
{
    const fs::path path = fs::path(options.dir) / kContainerStoreName;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        throw InputError(options.dir + ": has no " + kContainerStoreName + " (" + std::strerror(errno) +
                         "); give the --out directory of a build");
    // A FIFO would block the open for ever, and a device is no database.
    if (!S_ISREG(st.st_mode))
        throw InputError(path.string() + ": is not a regular file; give the --out directory of a build");
    refuseEditedStore(options);
    std::unique_ptr<refhost::ContainerStoreReader> store;
    try {
        store = std::make_unique<refhost::ContainerStoreReader>(path.string());
        const std::vector<std::string> containers = chosenContainers(*store, options);
        return options.to == "-" ? exportOne(*store, containers, options, out)
                                 : exportFiles(*store, containers, options, out);
    } catch (const refhost::StoreError& error) {
        throw InputError(error.what());
    }
}

}  // namespace splitrun

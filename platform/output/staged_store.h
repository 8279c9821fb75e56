// The build's containers.db in its staging directory, filled while the run
// goes on: the collect component's output entries are stored as it closes
// them (the store is the run's entry sink), and read back from there for
// the split model and the groups table; the groups rows follow after the
// run, and commit() finishes the file.
#ifndef SPLITRUN_STAGED_STORE_H
#define SPLITRUN_STAGED_STORE_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <refhost/container_store.h>

namespace splitrun {

// Thread-safe as an entry sink. A failure of the database is kept and
// reported by commit(), so that a run whose entries were not all stored
// writes no output.
class StagedStore : public refhost::EntrySink {
public:
    // Creates the database at `path`. Throws RunError naming the path.
    // `writeback`, when given, is called with `path` each time another
    // 64 MiB of content has been stored, to start writing the file to the
    // disk while the run goes on.
    explicit StagedStore(const std::filesystem::path& path,
                         std::function<void(const std::filesystem::path&)> writeback = {});

    int64_t reserve(const std::string& container) override;
    int64_t store(const std::string& container, int64_t seq, const std::string& key, const std::string& properties,
                  uint64_t length, std::string_view head) override;
    bool write(int64_t handle, uint64_t offset, std::string_view bytes) override;
    bool read(int64_t handle, std::string& out) const override;
    bool withdraw(int64_t handle) override;
    void fail(const std::string& what) override;

    // The XXH3-64 hash of the entry with that handle when it was stored in
    // one piece and not written to since; nullopt otherwise. Lets the
    // groups rows tell whether an entry came out as before without reading
    // it back.
    std::optional<uint64_t> contentHash(int64_t handle) const;

    // The writer, for the rows of the store's other tables once the run is
    // over (not while entries are still being stored).
    refhost::ContainerStoreWriter& writer() { return writer_; }
    // Builds the indexes and closes the file. Throws RunError with the
    // first failure kept, or the one of this step.
    void commit();

private:
    void keep(const std::string& what) const;
    void stored(uint64_t bytes);

    mutable std::mutex mutex_;
    std::filesystem::path path_;
    refhost::ContainerStoreWriter writer_;
    std::vector<std::pair<std::string, int64_t>> nextSeq_;
    // By handle (the row ID, dense from 1): the content's hash, 0 for none.
    // A hash that is itself 0 counts as none, which only costs a read.
    std::vector<uint64_t> hashes_;
    mutable std::string failure_;
    std::function<void(const std::filesystem::path&)> writeback_;
    uint64_t unsynced_ = 0;   // content bytes stored since the last writeback
};

}  // namespace splitrun

#endif

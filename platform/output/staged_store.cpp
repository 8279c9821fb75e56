#include "staged_store.h"

#include <algorithm>
#include <utility>

#include "errors.h"
#include "fast_xxh3.h"
#include "output_dir.h"

namespace splitrun {

StagedStore::StagedStore(const std::filesystem::path& path,
                         std::function<void(const std::filesystem::path&)> writeback) try
    : path_(path), writer_(path.string()), writeback_(std::move(writeback)) {
} catch (const refhost::StoreError& error) {
    throw RunError(std::string("cannot write ") + error.what());
}

void StagedStore::keep(const std::string& what) const
{
    if (failure_.empty()) failure_ = what;
}

void StagedStore::stored(uint64_t bytes)
{
    constexpr uint64_t kWritebackBytes = uint64_t{64} << 20;
    unsynced_ += bytes;
    if (unsynced_ < kWritebackBytes || !writeback_) return;
    unsynced_ = 0;
    writeback_(path_);
}

int64_t StagedStore::reserve(const std::string& container)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto next = std::find_if(nextSeq_.begin(), nextSeq_.end(), [&](const auto& c) { return c.first == container; });
    if (next == nextSeq_.end()) next = nextSeq_.insert(nextSeq_.end(), {container, 1});
    return next->second++;
}

int64_t StagedStore::store(const std::string& container, int64_t seq, const std::string& key,
                           const std::string& properties, uint64_t length, std::string_view head)
{
    std::lock_guard<std::mutex> guard(mutex_);
    try {
        const int64_t handle = writer_.insert(container, seq, key, propertyValue(properties, "mimeType"),
                                              propertyValue(properties, "typeId"), length, head);
        if (handle > 0 && head.size() == length) {
            if (hashes_.size() <= static_cast<uint64_t>(handle)) hashes_.resize(static_cast<std::size_t>(handle) + 1);
            hashes_[static_cast<std::size_t>(handle)] = XXH3_64bits(head.data(), head.size());
        }
        stored(head.size());
        return handle;
    } catch (const refhost::StoreError& error) {
        keep(error.what());
        return -1;
    }
}

bool StagedStore::write(int64_t handle, uint64_t offset, std::string_view bytes)
{
    std::lock_guard<std::mutex> guard(mutex_);
    try {
        writer_.writeContent(handle, offset, bytes);
        if (handle > 0 && static_cast<uint64_t>(handle) < hashes_.size()) hashes_[static_cast<std::size_t>(handle)] = 0;
        stored(bytes.size());
        return true;
    } catch (const refhost::StoreError& error) {
        keep(error.what());
        return false;
    }
}

bool StagedStore::read(int64_t handle, std::string& out) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    try {
        writer_.readContent(handle, out);
        return true;
    } catch (const refhost::StoreError& error) {
        keep(error.what());
        return false;
    }
}

bool StagedStore::withdraw(int64_t handle)
{
    std::lock_guard<std::mutex> guard(mutex_);
    try {
        writer_.remove(handle);
        if (handle > 0 && static_cast<uint64_t>(handle) < hashes_.size()) hashes_[static_cast<std::size_t>(handle)] = 0;
        return true;
    } catch (const refhost::StoreError& error) {
        keep(error.what());
        return false;
    }
}

std::optional<uint64_t> StagedStore::contentHash(int64_t handle) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (handle <= 0 || static_cast<uint64_t>(handle) >= hashes_.size() || hashes_[static_cast<std::size_t>(handle)] == 0)
        return std::nullopt;
    return hashes_[static_cast<std::size_t>(handle)];
}

void StagedStore::fail(const std::string& what)
{
    std::lock_guard<std::mutex> guard(mutex_);
    keep(path_.string() + ": " + what);
}

void StagedStore::commit()
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!failure_.empty()) throw RunError("cannot write " + failure_);
    try {
        writer_.commit();
    } catch (const refhost::StoreError& error) {
        throw RunError(std::string("cannot write ") + error.what());
    }
}

}  // namespace splitrun

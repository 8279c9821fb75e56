#include "stream_chunks.h"

#include <cstring>
#include <utility>

namespace splitrun {

StreamChunks::StreamChunks(std::streambuf& input, std::vector<char> start, std::size_t chunkBytes,
                           std::size_t maxLine, std::size_t ahead)
    : input_(input), start_(std::move(start)), chunkBytes_(std::max<std::size_t>(chunkBytes, 1)),
      maxLine_(maxLine), ahead_(std::max<std::size_t>(ahead, 1)), thread_([this] { cut(); })
{
}

StreamChunks::~StreamChunks()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

StreamChunks::Take StreamChunks::take(std::size_t k, std::vector<char>& bytes)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return ready_.count(k) != 0 || k < cutCount_ || ended_ || stopping_; });
    const auto chunk = ready_.find(k);
    if (chunk == ready_.end()) return failed_ ? Take::Failed : Take::End;
    bytes.swap(chunk->second);
    spare_.push_back(std::move(chunk->second));
    ready_.erase(chunk);
    lock.unlock();
    changed_.notify_all();
    return Take::Chunk;
}

bool StreamChunks::fill(std::vector<char>& block, std::size_t size)
{
    while (block.size() < size) {
        const std::size_t before = block.size();
        block.resize(size);
        const std::streamsize got =
            input_.sgetn(block.data() + before, static_cast<std::streamsize>(size - before));
        block.resize(before + static_cast<std::size_t>(got > 0 ? got : 0));
        if (got <= 0) return false;
    }
    return true;
}

bool StreamChunks::publish(std::vector<char>& block)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return ready_.size() < ahead_ || stopping_; });
    if (stopping_) return false;
    ready_.emplace(cutCount_++, std::move(block));
    lock.unlock();
    changed_.notify_all();
    return true;
}

void StreamChunks::finish(bool failed)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        failed_ = failed;
    }
    changed_.notify_all();
}

void StreamChunks::cut()
{
    try {
        std::vector<char> carry = std::move(start_);   // the part of a line that began in the last chunk
        bool more = true;                               // the stream may hold more bytes
        for (;;) {
            std::vector<char> block;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (!spare_.empty()) {
                    block = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            block.assign(carry.begin(), carry.end());
            carry.clear();
            // The chunk ends after its last line feed; a line longer than
            // the chunk makes it grow until the line ends, or is too long.
            std::size_t searched = 0;
            std::size_t want = block.size() + chunkBytes_;
            const char* lineFeed = nullptr;
            for (;;) {
                if (more) more = fill(block, want);
                lineFeed = static_cast<const char*>(
                    ::memrchr(block.data() + searched, '\n', block.size() - searched));
                if (lineFeed != nullptr || !more) break;
                if (block.size() > maxLine_ + 2) {
                    finish(true);
                    return;
                }
                searched = block.size();
                want = block.size() * 2;
            }
            if (more) {
                const auto used = static_cast<std::size_t>(lineFeed - block.data()) + 1;
                carry.assign(block.begin() + static_cast<std::ptrdiff_t>(used), block.end());
                block.resize(used);
            }
            if (!block.empty() && !publish(block)) return;
            if (!more) {
                finish(false);
                return;
            }
        }
    } catch (...) {
        // The reader that reads the input again reports what went wrong.
        finish(true);
    }
}

}  // namespace splitrun

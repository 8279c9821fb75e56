// The text of a stream cut into chunks of whole lines by a thread of its
// own, for parsing threads to take in order: a gzip-compressed file is
// inflated on that thread while the others parse what it gave before.
#ifndef SPLITRUN_STREAM_CHUNKS_H
#define SPLITRUN_STREAM_CHUNKS_H

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <streambuf>
#include <thread>
#include <vector>

namespace splitrun {

class StreamChunks {
public:
    enum class Take {
        Chunk,    // the chunk's bytes were handed over
        End,      // the stream ended before the chunk
        Failed,   // reading stopped before the chunk: the input failed, or a line is too long
    };

    // Starts cutting `input`, after the bytes `start` already taken from it
    // (which come first), into chunks of about `chunkBytes` that end at a
    // line feed, but for the stream's last. A line that runs on for more
    // than `maxLine` bytes without a line feed, or a read that throws, ends
    // the chunks (the parser refuses shorter lines over the limit). At
    // most `ahead` chunks wait to be taken. `input` must outlive this object.
    StreamChunks(std::streambuf& input, std::vector<char> start, std::size_t chunkBytes, std::size_t maxLine,
                 std::size_t ahead);
    // Stops cutting and waits for the thread.
    ~StreamChunks();
    StreamChunks(const StreamChunks&) = delete;
    StreamChunks& operator=(const StreamChunks&) = delete;

    // Waits for chunk k (numbered from 0 in stream order) and swaps its
    // bytes into `bytes`, whose former storage is kept for a later chunk.
    // Each chunk is taken once. Thread-safe.
    Take take(std::size_t k, std::vector<char>& bytes);

private:
    void cut();
    // Reads until `block` holds `size` bytes; false when the stream ended first.
    bool fill(std::vector<char>& block, std::size_t size);
    // Hands over the next chunk once fewer than `ahead` wait; false when
    // cutting is to stop.
    bool publish(std::vector<char>& block);
    void finish(bool failed);

    std::streambuf& input_;
    std::vector<char> start_;
    const std::size_t chunkBytes_;
    const std::size_t maxLine_;
    const std::size_t ahead_;

    std::mutex mutex_;
    std::condition_variable changed_;                 // a chunk came or went, or cutting ended
    std::map<std::size_t, std::vector<char>> ready_;  // chunks cut and not yet taken
    std::vector<std::vector<char>> spare_;            // storage of chunks taken, for reuse
    std::size_t cutCount_ = 0;                        // chunks handed over so far
    bool ended_ = false;
    bool failed_ = false;
    bool stopping_ = false;
    std::thread thread_;                              // last: starts once the rest is set
};

}  // namespace splitrun

#endif

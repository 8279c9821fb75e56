// The cutting thread of streamed loads: whole lines per chunk, every byte
// once, reading stopped where the input fails, and no more read ahead than
// the chunks waiting allow.
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "stream_chunks.h"

using splitrun::StreamChunks;

namespace {

// A stream of `text` handed out a few bytes at a time, as inflating hands
// it out, that throws once `failAt` bytes have been read; counts the bytes read.
class TextBuffer : public std::streambuf {
public:
    explicit TextBuffer(std::string text, std::size_t failAt = std::string::npos)
        : text_(std::move(text)), failAt_(failAt) {}
    std::size_t read() const { return read_; }

protected:
    int_type underflow() override
    {
        if (read_ >= failAt_) throw std::runtime_error("the input failed");
        if (read_ >= text_.size()) return traits_type::eof();
        const std::size_t step = std::min<std::size_t>({7, text_.size() - read_, failAt_ - read_});
        char* const at = text_.data() + read_;
        setg(at, at, at + step);
        read_ += step;
        return traits_type::to_int_type(*at);
    }

private:
    std::string text_;
    std::size_t failAt_;
    std::atomic<std::size_t> read_{0};
};

std::string lines(std::size_t count, std::size_t width)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += std::string(width - 1 - i % 3, static_cast<char>('a' + i % 26)) + "\n";
    return text;
}

// Takes every chunk; their bytes, and the take that ended them.
std::pair<std::vector<std::string>, StreamChunks::Take> takeAll(StreamChunks& chunks)
{
    std::vector<std::string> taken;
    std::vector<char> bytes;
    for (std::size_t k = 0;; ++k) {
        const StreamChunks::Take take = chunks.take(k, bytes);
        if (take != StreamChunks::Take::Chunk) return {taken, take};
        taken.emplace_back(bytes.begin(), bytes.end());
    }
}

TEST(StreamChunks, ChunksHoldWholeLinesAndEveryByteOnce)
{
    struct Case { const char* name; std::string start; std::string rest; std::size_t chunkBytes; };
    const Case cases[] = {
        {"short lines", "", lines(500, 12), 64},
        {"no final line end", "", lines(40, 9) + "last", 16},
        {"bytes already read come first", "hea", "der\n" + lines(50, 5), 8},
        {"lines longer than a chunk", "", lines(20, 100), 16},
        {"a chunk a line", "", lines(30, 4), 1},
        {"nothing after the header", "", "", 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextBuffer input(c.rest);
        StreamChunks chunks(input, std::vector<char>(c.start.begin(), c.start.end()), c.chunkBytes, 1 << 20, 3);
        const auto [taken, end] = takeAll(chunks);
        EXPECT_EQ(end, StreamChunks::Take::End);
        std::string joined;
        for (std::size_t i = 0; i < taken.size(); ++i) {
            ASSERT_FALSE(taken[i].empty());
            EXPECT_TRUE(i + 1 == taken.size() || taken[i].back() == '\n') << i;
            joined += taken[i];
        }
        EXPECT_EQ(joined, c.start + c.rest);
    }
}

TEST(StreamChunks, ReadingStopsAtAFailingInputOrAnOverlongLine)
{
    const std::string text = lines(400, 10);
    {
        // The chunks cut before the failure are handed out, then the failure.
        TextBuffer input(text, text.size() / 2);
        StreamChunks chunks(input, {}, 100, 1 << 20, 2);
        const auto [taken, end] = takeAll(chunks);
        EXPECT_EQ(end, StreamChunks::Take::Failed);
        std::string joined;
        for (const std::string& chunk : taken) joined += chunk;
        EXPECT_LE(joined.size(), text.size() / 2);
        EXPECT_EQ(joined, text.substr(0, joined.size()));
    }
    {
        // A line that runs on past the limit without a line feed.
        TextBuffer input(text + std::string(50000, 'x') + "\n" + text);
        StreamChunks chunks(input, {}, 100, 4000, 2);
        const auto [taken, end] = takeAll(chunks);
        EXPECT_EQ(end, StreamChunks::Take::Failed);
        EXPECT_LT(input.read(), text.size() + 8200);
    }
}

TEST(StreamChunks, ReadsAheadOnlyAsFarAsTheWaitingChunksAllow)
{
    TextBuffer input(lines(100000, 10));
    {
        StreamChunks chunks(input, {}, 1000, 1 << 20, 4);
        std::vector<char> bytes;
        ASSERT_EQ(chunks.take(0, bytes), StreamChunks::Take::Chunk);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // Four chunks waiting, one being cut, one taken.
        EXPECT_LE(input.read(), 6u * 1000 + 64);
    }   // leaving with chunks untaken stops the cutting thread
    EXPECT_LT(input.read(), 100000u);
}

}  // namespace

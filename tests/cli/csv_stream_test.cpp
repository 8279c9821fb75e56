// The block reader: records come out the same however the input arrives
// (in chunks that cut quoted fields, line ends and quotes anywhere) and
// however they are cut into blocks; gzip and standard input arrive through
// the input source.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>

#include <gtest/gtest.h>

#include "csv_stream.h"
#include "errors.h"
#include "input_source.h"

namespace fs = std::filesystem;
using splitrun::CsvBlock;
using splitrun::CsvStream;

namespace {

// Hands out the text at most `step` bytes per read, so the reader's chunks
// end at every possible place.
class TrickleBuf : public std::streambuf {
public:
    TrickleBuf(std::string text, std::size_t step) : text_(std::move(text)), step_(step) {}

protected:
    std::streamsize xsgetn(char* into, std::streamsize count) override
    {
        const std::size_t n = std::min({static_cast<std::size_t>(count), step_, text_.size() - pos_});
        text_.copy(into, n, pos_);
        pos_ += n;
        return static_cast<std::streamsize>(n);
    }
    int_type underflow() override
    {
        return pos_ < text_.size() ? traits_type::to_int_type(text_[pos_]) : traits_type::eof();
    }

private:
    std::string text_;
    std::size_t step_;
    std::size_t pos_ = 0;
};

// The header joined by '|', then per record its line, ':', its fields
// joined by '|' with a missing value as '~' and a quoted one in [].
std::vector<std::string> readAll(std::istream& in, std::size_t blockRecords = 4096, std::size_t blockBytes = 1 << 20)
{
    CsvStream stream(in, "in.csv");
    std::vector<std::string> rows(1);
    for (const std::string& name : stream.header()) rows[0] += (rows[0].empty() ? "" : "|") + name;
    CsvBlock block;
    while (stream.next(block, blockRecords, blockBytes)) {
        EXPECT_LE(block.size(), blockRecords);
        for (std::size_t r = 0; r < block.size(); ++r) {
            std::string row = std::to_string(block.line(r)) + ":";
            for (std::size_t i = 0; i < block.width(); ++i) {
                std::string value(block.value(r, i));
                if (block.isQuoted(r, i)) value = "[" + value + "]";
                row += (i ? "|" : "") + (block.isMissing(r, i) ? std::string("~") : value);
            }
            rows.push_back(row);
        }
    }
    return rows;
}

std::vector<std::string> readTrickled(const std::string& text, std::size_t step, std::size_t blockRecords = 4096)
{
    TrickleBuf buf(text, step);
    std::istream in(&buf);
    return readAll(in, blockRecords);
}

// The error message reading `text` gives, or "" when it reads.
std::string errorOf(const std::string& text, std::size_t step)
{
    try {
        readTrickled(text, step);
    } catch (const splitrun::InputError& e) {
        return e.what();
    }
    return "";
}

struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> rows;
};

const std::vector<Case>& cases()
{
    static const std::vector<Case> all = {
        {"CRLF line ends", "a,b\r\n1,2\r\n3,4\r\n", {"a|b", "2:1|2", "3:3|4"}},
        {"CR inside quotes, CRLF outside", "a,b\r\n\"x\r\ny\",2\r\n3,\"\"\"\"\r\n",
         {"a|b", "2:[x\r\ny]|2", "4:3|[\"]"}},
        {"quoted delimiters, doubled quotes, line breaks",
         "a,b\n\"one, two\",\"say \"\"hi\"\"\n\nthere\"\n5,6",
         {"a|b", "2:[one, two]|[say \"hi\"\n\nthere]", "5:5|6"}},
        {"byte order mark, missing tokens", "\xEF\xBB\xBF" "a,b\nNA,\"NA\"\n,\"\"\n\n",
         {"a|b", "2:~|[NA]", "3:~|[]"}},
        {"one column keeps blank lines as missing", "a\n1\n\n\"\"\n", {"a", "2:1", "3:~", "4:[]"}},
    };
    return all;
}

TEST(CsvStream, ChunkBoundariesAnywhereReadTheSameRecords)
{
    for (const Case& c : cases())
        for (std::size_t step : {1, 2, 3, 5, 64}) EXPECT_EQ(readTrickled(c.text, step), c.rows) << c.name << ", step " << step;
}

TEST(CsvStream, BlocksOfAnySizeHoldTheSameRecords)
{
    for (const Case& c : cases())
        for (std::size_t records : {1, 2, 3}) {
            EXPECT_EQ(readTrickled(c.text, 4, records), c.rows) << c.name << ", blocks of " << records;
            std::istringstream in(c.text);
            EXPECT_EQ(readAll(in, 4096, 1), c.rows) << c.name << ", one byte of text per block";
        }
}

TEST(CsvStream, ErrorsNameTheSameLineWhateverTheChunks)
{
    const struct {
        std::string text;
        std::string where;
    } errors[] = {
        {"a,b\n1,2\n\"open,3\n4,5\n", "in.csv:3:1 (field 'a'): the quoted field that starts here is never closed"},
        {"a,b\n1,2\n3,x\"y\n", "in.csv:3:2 (field 'b'): a quote appears inside an unquoted field"},
        {"a,b\n\"x\ny\"z,1\n", "in.csv:3:1 (field 'a'): unexpected character 'z'"},
        {"a,b\n1,2\n\n3,4\n", "in.csv:3:1 (field 'a'): the line is empty"},
        {"a,b\n1,2\r\n3\r\n", "in.csv:3:2 (field 'b'): the record has 1 fields"},
    };
    for (const auto& e : errors)
        for (std::size_t step : {1, 3, 4096}) {
            const std::string message = errorOf(e.text, step);
            EXPECT_EQ(message.substr(0, e.where.size()), e.where) << message << ", step " << step;
        }
}

TEST(CsvStream, ReadsGzipAndStandardInputThroughTheInputSource)
{
    const fs::path dir = fs::temp_directory_path() / ("csv_stream_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const Case& c = cases()[2];
    // A file long enough to need several chunks of decompressed bytes.
    std::string text = "a,b\n";
    std::vector<std::string> rows = {"a|b"};
    for (int i = 0; i < 20000; ++i) {
        text += "\"v " + std::to_string(i) + "\n\"," + std::to_string(i) + "\n";
        rows.push_back(std::to_string(2 + 2 * i) + ":[v " + std::to_string(i) + "\n]|" + std::to_string(i));
    }
    const fs::path gz = dir / "in.csv.gz";
    gzFile out = gzopen(gz.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
    gzclose(out);
    {
        splitrun::InputSource input(gz.string(), "--data", false);
        EXPECT_EQ(readAll(input.stream()), rows);
    }
    const fs::path plain = dir / "in.csv";
    std::ofstream(plain, std::ios::binary) << c.text;
    const int saved = ::dup(STDIN_FILENO);
    const int fd = ::open(plain.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ::dup2(fd, STDIN_FILENO);
    ::close(fd);
    {
        splitrun::InputSource input("-", "--data", false);
        EXPECT_EQ(readAll(input.stream()), c.rows);
    }
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    fs::remove_all(dir);
}

}  // namespace

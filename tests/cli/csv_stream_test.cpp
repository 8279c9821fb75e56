// The block reader: the same records, or error line, however the input is chunked or blocked; gzip and stdin too;
// the scanner's byte masks; the size a gzip file is expected to inflate to.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>
#include <zlib.h>

#include "byte_masks.h"
#include "cli_harness.h"
#include "csv_stream.h"
#include "errors.h"
#include "input_source.h"

namespace {

// Hands out at most `step` bytes per read, so the reader's chunks end at every possible place.
struct TrickleBuf : std::stringbuf {
    TrickleBuf(const std::string& text, std::streamsize step) : std::stringbuf(text), step(step) {}
    std::streamsize xsgetn(char* s, std::streamsize n) override { return std::stringbuf::xsgetn(s, std::min(n, step)); }
    std::streamsize step;
};

// The header joined by '|', then per record "line:fields" joined by '|', a missing value as '~', a quoted one in [].
std::vector<std::string> readAll(std::istream& in, std::size_t blockRecords = 4096, std::size_t blockBytes = 1 << 20,
                                 const splitrun::CsvFormat& format = {})
{
    splitrun::CsvStream stream(in, "in.csv", format);
    std::vector<std::string> rows(1);
    for (const std::string& name : stream.header()) rows[0] += (rows[0].empty() ? "" : "|") + name;
    for (splitrun::CsvBlock block; stream.next(block, blockRecords, blockBytes);) {
        EXPECT_LE(block.size(), blockRecords);
        for (std::size_t r = 0; r < block.size(); ++r) {
            std::string& row = rows.emplace_back(std::to_string(block.line(r)) + ":");
            for (std::size_t i = 0; i < block.width(); ++i) {
                const std::string v(block.value(r, i));
                row += (i ? "|" : "") + (block.isMissing(r, i) ? "~" : block.isQuoted(r, i) ? "[" + v + "]" : v);
            }
        }
    }
    return rows;
}

splitrun::CsvFormat format(char delimiter, char decimal, std::vector<std::string> na, std::size_t max = 1 << 20)
{
    return splitrun::CsvFormat{.delimiter = delimiter, .decimal = decimal, .naValues = std::move(na), .maxFieldSize = max};
}

// Inputs read whole in quoted lines, then inputs of plain lines: lines without quotes that lie whole in the
// buffer are split by the shared scanner, the others by the quoted path (a one-byte trickle never holds a whole
// line, so it reads everything the quoted way). Both must agree.
// rows: or the start of the error's message
const struct { std::string text; std::vector<std::string> rows; splitrun::CsvFormat format = {}; } cases[] = {
    {"a,b\r\n1,2\r\n3,4\r\n", {"a|b", "2:1|2", "3:3|4"}},   // CRLF line ends, CR inside quotes
    {"a,b\r\n\"x\r\ny\",2\r\n3,\"\"\"\"\r\n", {"a|b", "2:[x\r\ny]|2", "4:3|[\"]"}},
    {"a,b\n\"one, two\",\"say \"\"hi\"\"\n\nthere\"\n5,6", {"a|b", "2:[one, two]|[say \"hi\"\n\nthere]", "5:5|6"}},
    {"\xEF\xBB\xBF" "a,b\nNA,\"NA\"\n,\"\"\n\n", {"a|b", "2:~|[NA]", "3:~|[]"}},   // byte order mark
    {"a\n1\n\n\"\"\n", {"a", "2:1", "3:~", "4:[]"}},   // one column keeps blank lines as missing
    // a quoted name holding the delimiter; UTF-8 and zero bytes pass through
    {std::string("\"a,\",b\nK\xC3\xB6ln,x") + '\0' + "y\n", {"a,|b", "2:K\xC3\xB6ln|x" + std::string(1, '\0') + "y"}},
    {"a,b\n1,2\n\"open,3\n4,5\n", {"in.csv:3:1 (field 'a'): the quoted field that starts here is never closed"}},
    {"a,b\n1,2\n3,x\"y\n", {"in.csv:3:2 (field 'b'): a quote appears inside an unquoted field"}},
    {"a,b\n\"x\ny\"z,1\n", {"in.csv:3:1 (field 'a'): unexpected character 'z'"}},
    {"a,b\n1,2\n\n3,4\n", {"in.csv:3:1 (field 'a'): the line is empty"}},
    {"a,b\n1,2\r\n3\r\n", {"in.csv:3:2 (field 'b'): the record has 1 fields"}},
    {"a;b;c\n1,5;x,y;NA\n2;;3,25\n", {"a|b|c", "2:1.5|x,y|~", "3:2|~|3.25"}, format(';', ',', {"NA"})},
    {"a\tb\r\n1,2\tNA\r\n\t\r\n", {"a|b", "2:1,2|~", "3:~|~"}, format('\t', '.', {"NA"})},
    {"a,b\nNA,-\n?,\n", {"a|b", "2:NA|~", "3:~|~"}, format(',', '.', {"-", "?"})},
    {"a,b\r\n1,2\r3,4\r\n5,6", {"a|b", "2:1|2", "3:3|4", "4:5|6"}, format(',', '.', {"NA"})},
    {"a,b\n1,2\n\"x\",3\n4,5\n", {"a|b", "2:1|2", "3:[x]|3", "4:4|5"}, format(',', '.', {"NA"})},
    {"a\nNA\n\n1\n", {"a", "2:~", "3:~", "4:1"}, format(',', '.', {"NA"})},
    {"a,b\n12,45\n123,56\n", {"in.csv:3:2 (field 'b'): the line or its field is longer"}, format(',', '.', {"NA"}, 5)},
    {"a,b\n1,\"123456\"\n", {"in.csv:2:2 (field 'b'): the line or its field is longer"}, format(',', '.', {"NA"}, 5)},
    {"a;b\n1;2\n3\n", {"in.csv:3:2 (field 'b'): the record has 1 fields"}, format(';', '.', {"NA"})},
    {"a,b\n1,2\n3,4\"\n", {"in.csv:3:2 (field 'b'): a quote appears inside"}, format(',', '.', {"NA"})},
    // Doubled quotes and line ends on either side of the scanner's 16-, 32- and 64-byte edges.
    {"a,b\n\"" + std::string(14, 'q') + "\"\"" + std::string(13, 'r') + "\r\n" + std::string(29, 's') + "\"\"\",1\n" +
         std::string(15, 't') + "," + std::string(47, 'u') + "\n",
     {"a|b", "2:[" + std::string(14, 'q') + "\"" + std::string(13, 'r') + "\r\n" + std::string(29, 's') + "\"]|1",
      "4:" + std::string(15, 't') + "|" + std::string(47, 'u')}},
};

TEST(CsvStream, AnyChunksAndBlocksReadTheSameRecordsOrError)
{
    for (const auto& c : cases)
        for (std::size_t step : {1, 2, 3, 5, 7, 64, 4096})
            for (std::size_t bytes : {1, 1 << 20})
                for (std::size_t records : {1, 3, 4096}) {
                    TrickleBuf buf(c.text, step);
                    std::istream in(&buf);
                    std::vector<std::string> rows;
                    try {
                        rows = readAll(in, records, bytes, c.format);
                    } catch (const splitrun::InputError& e) {
                        rows = {std::string(e.what()).substr(0, c.rows[0].size())};
                    }
                    EXPECT_EQ(rows, c.rows) << c.text << ", step " << step << ", " << records << " records, " << bytes;
                }
}

// Every kind of compare this machine runs, and the byte loop built for other processors, finds the same bytes:
// wanted bytes on either side of a 16-, 32- and 64-byte edge, searches that start and stop anywhere.
TEST(ByteMasks, EveryKindFindsTheBytesAByteLoopFinds)
{
    using namespace splitrun::csvscan;
    std::string text(140, 'x');
    for (const std::size_t at : {0, 15, 16, 31, 32, 47, 63, 64, 79, 95, 96, 127, 130}) text[at] = ",\"\r\n"[at % 4];
    const char* const b = text.data();
    for (const Vectors kind : {Vectors::Scalar, Vectors::Sse2, Vectors::Avx2}) {
        if (!runs(kind)) continue;
        // A byte given twice counts once.
        const std::pair<std::string, ByteMasks> sets[] = {{",\"\r\n", ByteMasks({',', '"', '\r', '\n'}, kind)},
                                                          {"\"\r\n", ByteMasks({'"', '\r', '\n', '\r'}, kind)},
                                                          {"\n", ByteMasks({'\n'}, kind)}};
        for (const auto& [wanted, masks] : sets) {
            for (std::size_t from = 0; from <= text.size(); ++from) {
                for (std::size_t to = from; to <= text.size(); ++to)
                    ASSERT_EQ(masks.find(b + from, b + to) - b, std::min(text.find_first_of(wanted, from), to))
                        << static_cast<int>(kind) << " " << wanted.size() << " " << from << " " << to;
                std::vector<std::size_t> cursor, loop;
                ByteCursor bytes(masks, b + from, b + text.size());
                for (const char* p = bytes.next(); p != nullptr; p = bytes.next()) cursor.push_back(p - b);
                for (std::size_t at = text.find_first_of(wanted, from); at != std::string::npos;
                     at = text.find_first_of(wanted, at + 1))
                    loop.push_back(at);
                ASSERT_EQ(cursor, loop) << static_cast<int>(kind) << " " << from;
            }
        }
    }
}

TEST(CsvStream, ReadsGzipAndStandardInputThroughTheInputSource)
{
    // A gzip file long enough to need several chunks of decompressed bytes reads as its plain text does.
    const clitest::fs::path dir = clitest::freshDir("csv_stream"), gz = dir / "in.csv.gz", plain = dir / "in.csv";
    std::string text = "a,b\n";
    for (int i = 0; i < 20000; ++i) text += "\"v " + std::to_string(i) + "\n\"," + std::to_string(i) + "\n";
    clitest::writeGzip(gz, text);
    std::istringstream whole(text);
    const std::vector<std::string> rows = readAll(whole);
    ASSERT_EQ(rows.back(), "40000:[v 19999\n]|19999");
    EXPECT_EQ(readAll(splitrun::InputSource(gz.string(), "--data", false).stream()), rows);
    {
        // Bytes taken one at a time and then in blocks come in order, each once.
        splitrun::InputSource source(gz.string(), "--data", false);
        std::streambuf& bytes = *source.stream().rdbuf();
        std::string read;
        for (int i = 0; i < 5; ++i) read += static_cast<char>(bytes.sbumpc());
        for (std::streamsize got = 1; got > 0;) {
            std::string block(100003, '\0');
            got = bytes.sgetn(block.data(), static_cast<std::streamsize>(block.size()));
            read.append(block, 0, static_cast<std::size_t>(got));
            const auto next = bytes.sbumpc();
            if (next != std::char_traits<char>::eof()) read += static_cast<char>(next);
        }
        EXPECT_EQ(read, text);
    }
    // A second member, then zero padding, reads as zcat reads it; other bytes after the end are refused.
    clitest::writeGzip(gz, "\"v\",1\n", true);
    const auto end = clitest::fs::file_size(gz);
    std::ofstream(gz, std::ios::app).write("\0\0\0", 3);
    std::istringstream joined(text + "\"v\",1\n");
    EXPECT_EQ(readAll(splitrun::InputSource(gz.string(), "--data", false).stream()), readAll(joined));
    for (const char* trailing : {"junk", "\x1f\x8bjunk"}) {
        std::ofstream(gz, std::ios::app) << trailing;
        try {
            readAll(splitrun::InputSource(gz.string(), "--data", false).stream());
            ADD_FAILURE() << "bytes after the gzip data were read: " << trailing;
        } catch (const splitrun::InputError& e) {
            EXPECT_NE(std::string(e.what()).find("ends at byte " + std::to_string(end) + " and is followed by"),
                      std::string::npos) << e.what();
        }
        clitest::fs::resize_file(gz, end);
    }
    clitest::writeFile(plain, cases[2].text);
    const int saved = ::dup(STDIN_FILENO);
    ASSERT_NE(std::freopen(plain.c_str(), "r", stdin), nullptr);
    EXPECT_EQ(readAll(splitrun::InputSource("-", "--data", false).stream()), cases[2].rows);
    // A document piped in is held to its size limit while it is read.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ASSERT_EQ(::write(pipeEnds[1], std::string(4096, 'x').data(), 4096), 4096);
    ::close(pipeEnds[1]);
    ::dup2(pipeEnds[0], STDIN_FILENO);
    ::close(pipeEnds[0]);
    EXPECT_THROW(splitrun::readInputFile("-", "--data-model", 1024), splitrun::InputError);
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
}

// A gzip member of `text`, stored (so that its size follows the text's), its
// header carrying the fields `flags` sets: FHCRC 2, FEXTRA 4, FNAME 8,
// FCOMMENT 16.
std::string gzipMember(const std::string& text, int flags, std::size_t nameLength = 8)
{
    std::string extra("SP\2\0ok", 6), name(nameLength, 'n'), comment = "nightly";
    gz_header header{};
    if ((flags & 4) != 0) {
        header.extra = reinterpret_cast<Bytef*>(extra.data());
        header.extra_len = static_cast<uInt>(extra.size());
    }
    if ((flags & 8) != 0) header.name = reinterpret_cast<Bytef*>(name.data());
    if ((flags & 16) != 0) header.comment = reinterpret_cast<Bytef*>(comment.data());
    header.hcrc = (flags & 2) != 0;
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 0, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    EXPECT_EQ(deflateSetHeader(&z, &header), Z_OK);
    std::string member(deflateBound(&z, text.size()) + nameLength + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(member.data());
    z.avail_out = static_cast<uInt>(member.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    member.resize(z.total_out);
    deflateEnd(&z);
    return member;
}

// A member header that straddles two of the reader's 64 KiB reads reads as
// a whole one does: a later member starting a few bytes before a read ends
// (its method and flags in the next read), with a header CRC or without,
// and a first member whose long name crosses the first read's end. Both
// were refused: the flags were read from the wrong bytes, and the inflater
// fails the CRC of a header given in pieces.
TEST(InputSource, ReadsGzipMemberHeadersThatStraddleAReadAsWholeOnes)
{
    const clitest::fs::path gz = clitest::freshDir("gzip_headers") / "in.csv.gz";
    // The rows read, or the error.
    const auto read = [&gz] {
        try {
            return readAll(splitrun::InputSource(gz.string(), "--data", false).stream());
        } catch (const splitrun::InputError& e) {
            return std::vector<std::string>{e.what()};
        }
    };
    constexpr std::size_t kRead = std::size_t{1} << 16;
    const std::string second = "\"v\",2\n";
    for (const int flags : {0, 2, 2 | 8, 2 | 4 | 8 | 16}) {
        for (const std::size_t before : {1, 2, 3, 4, 11}) {
            SCOPED_TRACE("header flags " + std::to_string(flags) + ", " + std::to_string(before) + " bytes before");
            // The first member sized so that the second starts `before` bytes before the first read ends.
            std::string text, first;
            for (std::size_t field = kRead, tries = 0; first.size() != kRead - before && tries < 8; ++tries) {
                text = "a,b\n" + std::string(field, 'x') + ",1\n";
                first = gzipMember(text, flags);
                field = field + (kRead - before) - first.size();
            }
            ASSERT_EQ(first.size(), kRead - before);
            clitest::writeFile(gz, first + gzipMember(second, flags));
            std::istringstream joined(text + second);
            EXPECT_EQ(read(), readAll(joined));
        }
    }
    clitest::writeFile(gz, gzipMember(second, 2 | 8, kRead + 100));
    std::istringstream alone(second);
    EXPECT_EQ(read(), readAll(alone));
}

// The size a gzip file is expected to inflate to, which the loader reserves
// its columns by: a file of several members records only its last member's
// size, and a hint taken from that alone left the columns to grow by
// copying, at twice the memory.
TEST(InputSource, HintsTheSizeAGzipFileInflatesToWhateverItsMembers)
{
    const clitest::fs::path gz = clitest::freshDir("gzip_hint") / "in.csv.gz";
    std::mt19937_64 random(20261210);
    struct Case {
        const char* what;
        std::vector<std::size_t> members;   // records per member
        double tolerance;                   // of the hint, against the inflated size
    };
    const Case cases[] = {
        {"one member", {20000}, 0},
        {"three members", {20000, 20000, 500}, 0},
        {"many small members", std::vector<std::size_t>(200, 100), 0},
        // Past the file's first MiB the hint is extrapolated.
        {"two large members", {80000, 80000}, 0.05},
        {"a large member, then a small one", {150000, 10}, 0.05},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t inflated = 0;
        for (std::size_t k = 0; k < c.members.size(); ++k) {
            std::string text = k == 0 ? "g,x\n" : "";
            for (std::size_t i = 0; i < c.members[k]; ++i)
                text += "g" + std::to_string(random() % 100) + "," + std::to_string(random() % 1000000) + "." +
                        std::to_string(random() % 1000000) + "\n";
            clitest::writeGzip(gz, text, k > 0);
            inflated += text.size();
        }
        const auto hint = static_cast<double>(splitrun::InputSource(gz.string(), "--data", false).decodedSizeHint());
        EXPECT_NEAR(hint, static_cast<double>(inflated), std::max(1.0, c.tolerance * static_cast<double>(inflated)));
    }
}

}  // namespace

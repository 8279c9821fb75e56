// The reader works on a chunk of raw bytes at a time. A field is copied into
// its block in spans: from the current position up to the next byte that
// ends or interrupts it, so that the cost per byte is a scan and a copy,
// whatever the field's length. A field or a record may straddle any number
// of chunks: a span that reaches the chunk's end is appended, the chunk is
// refilled, and the scan goes on.
#include "csv_stream.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <set>

#include "csv_scan.h"
#include "errors.h"
#include "value_parsing.h"

namespace splitrun {

namespace {

constexpr std::size_t kChunkBytes = std::size_t{1} << 18;

// "3,25" as "3.25" when that reads as a number; other texts stay as they are.
// The text keeps its length, so it is changed in place.
void useDecimalPoint(char* text, std::size_t size)
{
    const std::size_t comma = decimalCommaAt(std::string_view(text, size));
    if (comma != std::string_view::npos) text[comma] = '.';
}

std::string describeByte(int c)
{
    if (c >= 0x20 && c < 0x7f) return std::string("'") + static_cast<char>(c) + "'";
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(c) & 0xffu);
    return text;
}

}  // namespace

CsvStream::CsvStream(std::istream& in, std::string sourceName, CsvFormat format)
    : buf_(in.rdbuf()), source_(std::move(sourceName)), format_(std::move(format)), buffer_(kChunkBytes),
      endsUnquoted_({format_.delimiter, '"', '\n', '\r'}), endsQuoted_({'"', '\n', '\r'})
{
    noteTokens();
    // A UTF-8 byte order mark before the header is not part of the first name.
    static const char bom[] = "\xEF\xBB\xBF";
    if (peek() == static_cast<unsigned char>(bom[0])) {
        ++pos_;
        for (int i = 1; i < 3; ++i) {
            if (peek() != static_cast<unsigned char>(bom[i]))
                fail(1, 1, "the file starts with a broken byte order mark; save it as plain UTF-8");
            ++pos_;
        }
    }
    CsvBlock head;
    std::size_t width = 0;
    if (!readRaw(head, width) || (width == 1 && !head.fields_[0].quoted && head.fields_[0].size == 0))
        fail(1, 1, "the header row is missing; the first line must name the fields, "
                   "separated by the delimiter");
    std::set<std::string> seen;
    for (std::size_t i = 0; i < width; ++i) {
        const CsvBlock::Field& field = head.fields_[i];
        std::string name(head.text_.data() + field.offset, field.size);
        // R's write.csv heads its row-name column with an empty name; the
        // reader of the table decides what to do with it.
        if (name.empty() && !(i == 0 && width > 1))
            fail(1, i + 1, "the header names no field in this column; give every column a name");
        if (!seen.insert(name).second)
            fail(1, i + 1, "the field name '" + name + "' appears twice in the header; "
                           "field names must be unique");
        header_.push_back(std::move(name));
    }
    namesRead_ = true;
}

CsvStream::CsvStream(std::string sourceName, CsvFormat format, std::vector<std::string> header)
    : buf_(nullptr), source_(std::move(sourceName)), format_(std::move(format)), header_(std::move(header)),
      endsUnquoted_({format_.delimiter, '"', '\n', '\r'}), endsQuoted_({'"', '\n', '\r'})
{
    noteTokens();
    namesRead_ = true;
}

void CsvStream::noteTokens()
{
    for (const std::string& token : format_.naValues) longestToken_ = std::max(longestToken_, token.size());
}

namespace {

// The end of the last line in [begin, end) that ends with a LF and is not
// blank (a blank line ends right after an earlier line end, or at `begin`,
// where a line starts), or null. A chunk cut there never ends on a blank
// line, whose verdict depends on what follows it.
const char* lastCut(const char* begin, const char* end)
{
    while (end != begin) {
        const void* found = nullptr;
        for (const char* p = end; p != begin;)
            if (*--p == '\n') {
                found = p;
                break;
            }
        if (found == nullptr) return nullptr;
        const char* const newline = static_cast<const char*>(found);
        const char* text = newline;
        if (text != begin && text[-1] == '\r') --text;
        if (text != begin && text[-1] != '\n' && text[-1] != '\r') return newline + 1;
        end = newline;
    }
    return nullptr;
}

// Line ends in [begin, end): LF, CRLF and a CR on its own each end one line.
// The line feeds are counted off their masks, 64 bytes at a time.
std::uint64_t countLines(const char* begin, const char* end, bool mayHoldCr)
{
    static const csvscan::ByteMasks lineFeeds({'\n'});
    std::uint64_t lines = 0;
    const char* p = begin;
    for (; end - p >= 64; p += 64) lines += static_cast<std::uint64_t>(std::popcount(lineFeeds.block(p)));
    lines += static_cast<std::uint64_t>(std::popcount(lineFeeds.partial(p, static_cast<std::size_t>(end - p))));
    if (mayHoldCr)
        for (p = begin; p != end; ++p)
            if (*p == '\r' && (p + 1 == end || p[1] != '\n')) ++lines;
    return lines;
}

}  // namespace

CsvStream::Chunk CsvStream::nextChunk(CsvChunk& chunk, std::size_t targetBytes)
{
    if (blankLine_ != 0) return Chunk::Serial;
    if (pos_ == end_ && !refill()) return Chunk::End;
    // A quote in the buffer with no line to cut before it: nothing moves.
    const char* const buffered = buffer_.data() + pos_;
    const void* quote = std::memchr(buffered, '"', end_ - pos_);
    if (quote != nullptr && lastCut(buffered, static_cast<const char*>(quote)) == nullptr) return Chunk::Serial;
    std::vector<char>& bytes = chunk.bytes;
    std::size_t size = end_ - pos_;
    const std::size_t room = std::max(targetBytes, size);
    if (bytes.size() < room) bytes.resize(room);
    std::memcpy(bytes.data(), buffered, size);
    // The quote's offset, from here on in `bytes`.
    std::size_t quoteAt = quote != nullptr ? static_cast<std::size_t>(static_cast<const char*>(quote) - buffered)
                                           : std::size_t{0};
    pos_ = end_ = 0;
    cursorKnown_ = false;
    bool atEnd = false;
    while (quote == nullptr && size < targetBytes) {
        // Up to the target only, so that little goes back into the buffer.
        const std::streamsize got =
            buf_->sgetn(bytes.data() + size, static_cast<std::streamsize>(targetBytes - size));
        if (got <= 0) {
            atEnd = true;
            break;
        }
        quote = std::memchr(bytes.data() + size, '"', static_cast<std::size_t>(got));
        if (quote != nullptr) quoteAt = static_cast<std::size_t>(static_cast<const char*>(quote) - bytes.data());
        size += static_cast<std::size_t>(got);
    }
    const char* const begin = bytes.data();
    // Cut after about targetBytes, or later when no line ends before that.
    const std::size_t limit = quote != nullptr ? quoteAt : size;
    const bool toEnd = quote == nullptr && atEnd;
    const char* cut = nullptr;
    if (toEnd && size <= targetBytes) {
        cut = begin + size;
    } else {
        cut = lastCut(begin, begin + std::min(limit, targetBytes));
        if (cut == nullptr) cut = toEnd ? begin + size : lastCut(begin, begin + limit);
    }
    const std::size_t kept = cut == nullptr ? 0 : static_cast<std::size_t>(cut - begin);
    // What lies past the cut goes back into the buffer, to be read next.
    const std::size_t rest = size - kept;
    if (buffer_.size() < rest) buffer_.resize(rest);
    std::memcpy(buffer_.data(), begin + kept, rest);
    end_ = rest;
    chunk.size = kept;
    if (kept == 0) return Chunk::Serial;
    chunk.firstLine = line_;
    line_ += countLines(begin, cut, std::memchr(begin, '\r', kept) != nullptr);
    return Chunk::Cut;
}

void CsvStream::parseChunk(CsvChunk& chunk, CsvBlock& block)
{
    // The chunk is this reader's whole input: with no stream behind it,
    // refill() finds nothing more.
    struct Swap {
        std::vector<char>& a;
        std::vector<char>& b;
        ~Swap() { a.swap(b); }
    } swapBack{buffer_, chunk.bytes};
    buffer_.swap(chunk.bytes);
    pos_ = 0;
    end_ = chunk.size;
    line_ = chunk.firstLine;
    blankLine_ = 0;
    cursorKnown_ = false;
    const std::size_t all = static_cast<std::size_t>(-1);
    if (!next(block, all, all)) block.clear(header_.size());
}

bool CsvStream::next(CsvBlock& block, std::size_t maxRecords, std::size_t maxBytes)
{
    const std::size_t fields = header_.size();
    block.clear(fields);
    while (block.size() < std::max<std::size_t>(maxRecords, 1) && block.text_.size() < maxBytes) {
        const std::size_t textStart = block.text_.size();
        const std::size_t fieldStart = block.fields_.size();
        std::size_t width = 0;
        if (!readRaw(block, width)) break;   // blank lines at the very end are ignored
        const CsvBlock::Field& first = block.fields_[fieldStart];
        if (fields > 1 && width == 1 && !first.quoted && first.size == 0) {
            if (blankLine_ == 0) blankLine_ = block.records_.back().line;
            block.records_.pop_back();
            block.fields_.resize(fieldStart);
            block.text_.resize(textStart);
            continue;
        }
        if (blankLine_ != 0)
            fail(blankLine_, 1, "the line is empty but the header has " + std::to_string(fields) +
                                " fields; remove the empty line or fill in its fields");
        if (width != fields) {
            std::string what = "the record has " + std::to_string(width) +
                               " fields but the header has " + std::to_string(fields) +
                               "; every row must have one value per header field (leave a "
                               "value empty between commas when it is missing)";
            fail(block.records_.back().line, std::min(width, fields) + 1, what);
        }
    }
    return !block.empty();
}

bool CsvStream::readPlain(CsvBlock& block, std::size_t& width)
{
    if (pos_ == end_) return false;
    const char* const from = buffer_.data() + pos_;
    const char* const stop = buffer_.data() + end_;
    if (!cursorKnown_ || cursorAt_ != pos_) {
        plainBytes_ = csvscan::ByteCursor(endsUnquoted_, from, stop);
        cursorKnown_ = true;
    }
    // The line's delimiters, up to its LF, or its CR when a LF follows.
    fieldEnds_.clear();
    const char* at = plainBytes_.next();
    for (; at != nullptr && *at == format_.delimiter; at = plainBytes_.next()) fieldEnds_.push_back(at);
    const bool crlf = at != nullptr && *at == '\r' && at + 1 != stop && at[1] == '\n';
    if (at == nullptr || (*at != '\n' && !crlf) || static_cast<std::size_t>(at - from) > format_.maxFieldSize) {
        cursorKnown_ = false;   // it went past bytes the quoted path reads now
        return false;
    }
    if (crlf) plainBytes_.next();   // the LF
    const char* const lineEnd = at;
    const std::size_t base = block.text_.size();
    block.records_.push_back({line_, base, static_cast<std::size_t>(lineEnd - from)});
    block.text_.append(from, static_cast<std::size_t>(lineEnd - from));
    const char* fieldStart = from;
    fieldEnds_.push_back(lineEnd);
    const std::size_t first = block.fields_.size();
    block.fields_.resize(first + fieldEnds_.size());
    CsvBlock::Field* field = block.fields_.data() + first;
    for (const char* fieldEnd : fieldEnds_) {
        field->offset = base + static_cast<std::size_t>(fieldStart - from);
        field->size = static_cast<std::size_t>(fieldEnd - fieldStart);
        finishField(block, *field++);
        fieldStart = fieldEnd + 1;
    }
    width = fieldEnds_.size();
    pos_ = static_cast<std::size_t>(lineEnd - buffer_.data()) + (crlf ? 2 : 1);
    cursorAt_ = pos_;
    ++line_;
    return true;
}

void CsvStream::finishField(CsvBlock& block, CsvBlock::Field& field)
{
    // Most fields are longer than any missing-value token.
    field.missing = !field.quoted && (field.size == 0 || (field.size <= longestToken_ &&
                                                          format_.isMissingToken(std::string_view(
                                                              block.text_.data() + field.offset, field.size))));
    if (format_.decimal == ',' && namesRead_ && !field.missing) useDecimalPoint(block.text_.data() + field.offset, field.size);
}

bool CsvStream::readRaw(CsvBlock& block, std::size_t& width)
{
    if (readPlain(block, width)) return true;
    if (peek() < 0) return false;
    block.records_.push_back({line_, 0, 0});
    const std::size_t recordStart = block.text_.size();
    width = 0;
    for (;;) {
        const std::size_t column = ++width;
        block.fields_.emplace_back();
        block.fields_.back().offset = block.text_.size();
        if (peek() == '"')
            readQuoted(block, recordStart, column);
        else
            readUnquoted(block, recordStart, column);
        block.fields_.back().size = block.text_.size() - block.fields_.back().offset;
        finishField(block, block.fields_.back());
        const int c = peek();
        if (c == format_.delimiter) {
            ++pos_;
            continue;
        }
        if (c < 0 || consumeLineEnd()) return true;
        fail(line_, column, "unexpected character " + describeByte(c) +
                            " after the closing quote; a quoted field must end at a delimiter "
                            "or a line end (write a quote inside a quoted field as \"\")");
    }
}

void CsvStream::readQuoted(CsvBlock& block, std::size_t recordStart, std::size_t column)
{
    const std::uint64_t startLine = line_;
    ++pos_;   // the opening quote
    block.fields_.back().quoted = true;
    for (;;) {
        if (pos_ == end_ && !refill())
            fail(startLine, column, "the quoted field that starts here is never closed; "
                                    "add the closing quote (and double any quote inside it)");
        // The span up to the next quote or line break is the field's own.
        const char* const from = buffer_.data() + pos_;
        const char* const stop = buffer_.data() + end_;
        const char* const p = endsQuoted_.find(from, stop);
        block.text_.append(from, static_cast<std::size_t>(p - from));
        pos_ += static_cast<std::size_t>(p - from);
        checkSize(block, recordStart, column);
        if (p == stop) continue;
        const char c = *p;
        ++pos_;
        if (c == '"') {
            if (peek() != '"') return;
            ++pos_;
        } else if (c == '\n') {
            ++line_;
        } else if (peek() != '\n') {   // a CR on its own ends a line; CRLF counts at the LF
            ++line_;
        }
        block.text_.push_back(c);
        checkSize(block, recordStart, column);
    }
}

void CsvStream::readUnquoted(CsvBlock& block, std::size_t recordStart, std::size_t column)
{
    for (;;) {
        if (pos_ == end_ && !refill()) return;
        const char* const from = buffer_.data() + pos_;
        const char* const stop = buffer_.data() + end_;
        const char* const p = endsUnquoted_.find(from, stop);
        block.text_.append(from, static_cast<std::size_t>(p - from));
        pos_ += static_cast<std::size_t>(p - from);
        checkSize(block, recordStart, column);
        if (p == stop) continue;
        if (*p == '"')
            fail(line_, column, "a quote appears inside an unquoted field; enclose the whole "
                                "field in quotes and write the quote as \"\"");
        return;
    }
}

bool CsvStream::consumeLineEnd()
{
    const int c = peek();
    if (c == '\n') {
        ++pos_;
    } else if (c == '\r') {
        ++pos_;
        if (peek() == '\n') ++pos_;
    } else {
        return false;
    }
    ++line_;
    return true;
}

bool CsvStream::refill()
{
    pos_ = 0;
    end_ = 0;
    cursorKnown_ = false;
    if (buf_ == nullptr) return false;   // a chunk reader's input is its chunk
    const std::streamsize got = buf_->sgetn(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    if (got > 0) end_ = static_cast<std::size_t>(got);
    return end_ > 0;
}

void CsvStream::checkSize(const CsvBlock& block, std::size_t recordStart, std::size_t column) const
{
    // The record's text so far plus one byte per field before this one.
    if (block.text_.size() - recordStart + (column - 1) > format_.maxFieldSize)
        fail(line_, column, "the line or its field is longer than " + std::to_string(format_.maxFieldSize) +
                            " bytes; check that this is a CSV file with the right --delimiter, "
                            "or raise the limit with --max-field-size BYTES");
}

void CsvStream::fail(std::uint64_t line, std::uint64_t column, const std::string& what) const
{
    std::string where = source_ + ":" + std::to_string(line) + ":" + std::to_string(column);
    if (column >= 1 && column <= header_.size())
        where += " (field '" + header_[column - 1] + "')";
    throw InputError(where + ": " + what);
}

}  // namespace splitrun

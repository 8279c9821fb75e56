// The one reader of delimited files with a header row. It reads the input in
// large chunks and hands out the records in blocks, so that a caller holds a
// bounded number of records whatever the file's size.
//
// Quoting follows RFC 4180: a field may be enclosed in double quotes, inside
// which delimiters, line breaks and doubled quotes ("") stand for
// themselves. Bytes are passed through unchanged (UTF-8 or not). An unquoted
// empty field, or an unquoted missing-value token of the format ("NA" by
// default), is a missing value; quoted, the same texts are present strings.
// With a decimal comma, a field that reads as a number once its one comma is
// a point is given with the point. Line ends may be LF or CRLF, and a UTF-8
// byte order mark before the header is skipped. Blank lines at the end are
// ignored; a blank line followed by records is an error when the header has
// more than one field (with one field it is a missing value). Malformed
// input (ragged rows, unterminated quotes, stray quotes, a field or line
// longer than the format allows) raises InputError naming the file, line,
// column and field. Decompression, standard input and Latin-1 conversion
// are the InputSource's business: the stream reads whatever bytes it is
// given.
#ifndef SPLITRUN_CSV_STREAM_H
#define SPLITRUN_CSV_STREAM_H

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "byte_masks.h"
#include "csv_format.h"

namespace splitrun {

// Consecutive records of one file, every record with width() fields. The
// views a block returns stay valid until the block is read into again.
class CsvBlock {
public:
    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    std::size_t width() const { return width_; }

    // The field's bytes, quotes removed.
    std::string_view value(std::size_t record, std::size_t field) const
    {
        const Field& f = fields_[record * width_ + field];
        return std::string_view(text_.data() + f.offset, f.size);
    }
    // Unquoted and empty or a missing-value token.
    bool isMissing(std::size_t record, std::size_t field) const
    {
        return fields_[record * width_ + field].missing;
    }
    // The field was enclosed in quotes.
    bool isQuoted(std::size_t record, std::size_t field) const
    {
        return fields_[record * width_ + field].quoted;
    }
    // The physical line on which the record starts (1-based).
    std::uint64_t line(std::size_t record) const { return records_[record].line; }
    // The record's line as it stood in the file (delimiters included, line
    // end excluded) when it held no quote, so that its fields are the line
    // split at the delimiter; empty for a record read the quoted way (and
    // for an empty line). Missing-value tokens stand in it as they were.
    std::string_view plainLine(std::size_t record) const
    {
        const Record& r = records_[record];
        return std::string_view(text_.data() + r.plainOffset, r.plainSize);
    }

    // Bytes of field text the block holds.
    std::size_t textBytes() const { return text_.size(); }

    // Makes this a block of `count` records on consecutive lines from
    // `firstLine`, without their fields: the lines of records whose fields
    // a chunked reader put straight into typed columns.
    void assignLines(std::uint64_t firstLine, std::size_t count)
    {
        clear(0);
        records_.resize(count);
        for (std::size_t r = 0; r < count; ++r) records_[r].line = firstLine + r;
    }

private:
    friend class CsvStream;
    struct Field {
        std::size_t offset = 0;
        std::size_t size = 0;
        bool quoted = false;
        bool missing = true;
    };
    void clear(std::size_t width)
    {
        text_.clear();
        fields_.clear();
        records_.clear();
        width_ = width;
    }

    std::string text_;            // the fields' bytes, one after the other
    std::vector<Field> fields_;   // record-major
    struct Record {
        std::uint64_t line = 0;
        std::size_t plainOffset = 0;
        std::size_t plainSize = 0;
    };
    std::vector<Record> records_;
    std::size_t width_ = 0;
};

// Whole lines of a file, cut by CsvStream::nextChunk: bytes [0, size) of
// `bytes`, the first of them on line firstLine. The storage only grows.
struct CsvChunk {
    std::vector<char> bytes;
    std::size_t size = 0;
    std::uint64_t firstLine = 0;
};

class CsvStream {
public:
    // Reads the header row; throws InputError when it is absent or malformed
    // (empty field names, but for the first of several, which R writes
    // over row names; duplicate names). The stream must outlive the reader,
    // which reads it through its buffer and leaves its state flags alone.
    CsvStream(std::istream& in, std::string sourceName, CsvFormat format = {});

    // A reader of chunks cut by another reader (see nextChunk): it reads no
    // header of its own, takes `header` as the file's, and parses what
    // parseChunk hands it with the other reader's rules and messages.
    CsvStream(std::string sourceName, CsvFormat format, std::vector<std::string> header);

    const std::vector<std::string>& header() const { return header_; }
    const std::string& sourceName() const { return source_; }
    const CsvFormat& format() const { return format_; }

    // Replaces the block's content with the next records: at most
    // `maxRecords`, and fewer once the block holds about `maxBytes` of
    // field text. False, with the block empty, at the end of input. Throws
    // InputError on malformed input; the records before the bad one have
    // been handed out in earlier blocks, the bad one's block is lost.
    bool next(CsvBlock& block, std::size_t maxRecords = 4096, std::size_t maxBytes = std::size_t{1} << 20);

    // Cutting the input for parsing elsewhere. nextChunk moves the next
    // whole lines, about `targetBytes` of them, into `chunk` and sets its
    // firstLine to the number of the first: lines with no quote, ending
    // with a line end (or the end of input) that follows a line that is not
    // blank, so that a chunk parses the same alone as in the file. Serial:
    // the next line cannot be cut that way (a quote, a very long line, many
    // blank lines); read the next block with next() and try again. End: no
    // input is left.
    enum class Chunk { Cut, Serial, End };
    Chunk nextChunk(CsvChunk& chunk, std::size_t targetBytes);

    // On a reader built for chunks: replaces the block's content with every
    // record of `chunk` (from nextChunk), throwing the InputError next()
    // would throw on the same lines. The chunk is left as it was.
    void parseChunk(CsvChunk& chunk, CsvBlock& block);

private:
    // Notes the longest missing-value token.
    void noteTokens();
    // Appends one record of any width to the block; false when the input
    // is exhausted. `width` receives the record's number of fields.
    bool readRaw(CsvBlock& block, std::size_t& width);
    // The same for a complete line without quotes lying in the buffer, split
    // at the delimiters the buffer's masks mark; false, with nothing
    // consumed, for any other line (a quote, a CR of its own, a line not
    // whole in the buffer or over the length limit).
    bool readPlain(CsvBlock& block, std::size_t& width);
    // Sets the field's missing flag and, with a decimal comma, its decimal point.
    void finishField(CsvBlock& block, CsvBlock::Field& field);
    void readQuoted(CsvBlock& block, std::size_t recordStart, std::size_t column);
    void readUnquoted(CsvBlock& block, std::size_t recordStart, std::size_t column);
    bool consumeLineEnd();
    // The next byte without consuming it, or -1 at the end of input.
    int peek()
    {
        if (pos_ == end_ && !refill()) return -1;
        return static_cast<unsigned char>(buffer_[pos_]);
    }
    bool refill();
    void checkSize(const CsvBlock& block, std::size_t recordStart, std::size_t column) const;
    [[noreturn]] void fail(std::uint64_t line, std::uint64_t column, const std::string& what) const;

    std::streambuf* buf_;
    std::string source_;
    CsvFormat format_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::vector<std::string> header_;
    std::uint64_t line_ = 1;
    std::uint64_t blankLine_ = 0;   // a blank line whose verdict waits for what follows
    std::size_t longestToken_ = 0;   // the longest missing-value token
    bool namesRead_ = false;         // past the header, whose names keep their commas
    // Bytes that end or interrupt an unquoted field (delimiter, line
    // breaks, quote), and a quoted one's text (quote, line breaks): a
    // field's text runs up to the first of them, found a block at a time.
    csvscan::ByteMasks endsUnquoted_;
    csvscan::ByteMasks endsQuoted_;
    // The plain lines' delimiters and ends, taken one after the other from
    // the buffer's masks of endsUnquoted_; valid while cursorKnown_ and
    // the last byte taken ended the line before cursorAt_.
    csvscan::ByteCursor plainBytes_;
    std::size_t cursorAt_ = 0;
    bool cursorKnown_ = false;
    std::vector<const char*> fieldEnds_;   // the delimiters of the line being split
};

}  // namespace splitrun

#endif

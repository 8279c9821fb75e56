// Streaming reader of delimited files with a header row.
//
// Quoting follows RFC 4180: a field may be enclosed in double quotes, inside
// which delimiters, line breaks and doubled quotes ("") stand for
// themselves. Bytes are passed through unchanged (UTF-8 or not). An unquoted
// empty field, or an unquoted missing-value token of the format ("NA" by
// default), is a missing value; quoted, the same texts are present strings.
// With a decimal comma, a field that reads as a number once its one comma is
// a point is given with the point. Line ends may be LF or CRLF, and a UTF-8
// byte order mark before the header is skipped. Malformed input (ragged
// rows, unterminated quotes, stray quotes, a field or line longer than the
// format allows) raises InputError naming the file, line and column. The
// cost per byte is the same for one huge field as for many small ones.
#ifndef SPLITRUN_CSV_READER_H
#define SPLITRUN_CSV_READER_H

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "csv_format.h"

namespace splitrun {

struct CsvField {
    std::string value;     // the field's bytes, quotes removed
    bool quoted = false;   // the field was enclosed in quotes
    bool missing = true;   // unquoted and empty or a missing-value token

    bool isMissing() const { return missing; }
};

struct CsvRecord {
    std::vector<CsvField> fields;
    std::uint64_t line = 0;   // physical line on which the record starts (1-based)
};

class CsvReader {
public:
    // Reads the header row; throws InputError when it is absent or malformed
    // (empty or duplicate field names).
    // The stream must outlive the reader.
    CsvReader(std::istream& in, std::string sourceName, CsvFormat format = {});

    const std::vector<std::string>& header() const { return header_; }
    const std::string& sourceName() const { return source_; }

    // Reads the next data record into `record`; false at the end of input.
    // Every record returned has exactly header().size() fields.
    bool next(CsvRecord& record);

private:
    // Reads one record of any width; false when the input is exhausted.
    bool readRaw(CsvRecord& record);
    void readQuoted(CsvField& field, std::uint64_t column);
    void readUnquoted(CsvField& field, std::uint64_t column);
    // Consumes a line end at the current position if there is one.
    bool consumeLineEnd();
    [[noreturn]] void fail(std::uint64_t line, std::uint64_t column, const std::string& what) const;

    // Throws when the field has grown past the format's limit.
    void checkSize(const CsvField& field, std::uint64_t column) const;

    std::streambuf* buf_;
    std::string source_;
    CsvFormat format_;
    std::size_t recordBytes_ = 0;   // bytes of the record being read
    std::vector<std::string> header_;
    std::uint64_t line_ = 1;
    std::uint64_t blankLine_ = 0;   // a blank line whose verdict waits for what follows
};

}  // namespace splitrun

#endif

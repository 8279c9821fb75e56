// Record-at-a-time reading of a delimited file, for callers that want each
// record as its own strings (tests, small documents). It is a view of
// CsvStream, which defines the format and its errors; code that reads whole
// files uses CsvStream's blocks instead.
#ifndef SPLITRUN_CSV_READER_H
#define SPLITRUN_CSV_READER_H

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "csv_format.h"
#include "csv_stream.h"

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

    const std::vector<std::string>& header() const { return stream_.header(); }
    const std::string& sourceName() const { return stream_.sourceName(); }

    // Reads the next data record into `record`; false at the end of input.
    // Every record returned has exactly header().size() fields. A malformed
    // record throws InputError when it is reached, after the records before
    // it have been returned.
    bool next(CsvRecord& record);

private:
    CsvStream stream_;
    CsvBlock block_;   // the record being handed out
};

}  // namespace splitrun

#endif

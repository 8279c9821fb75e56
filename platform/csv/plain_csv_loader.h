// The quick way to load a CSV file: a file without blank lines or ragged
// rows, whose quoted fields (if any) hold no line end, doubled quote or
// empty text, is cut into chunks at line ends, the chunks parsed into typed
// columns on several threads (each thread reads only its own chunks), and
// the chunks' columns joined in file order into columns reserved once for
// the whole file.
// A gzip-compressed or converted file of such text is read the same way
// from one thread's stream. Anything else (and any value a storage cannot
// hold when the storages are given) is left to the full reader, which knows
// how to describe every problem.
#ifndef SPLITRUN_PLAIN_CSV_LOADER_H
#define SPLITRUN_PLAIN_CSV_LOADER_H

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <refhost/column_values.h>

#include "column_profile.h"
#include "csv_format.h"
#include "input_source.h"
#include "value_parsing.h"

namespace splitrun {

struct PlainCsv {
    std::vector<std::string> header;
    // One per header field, in header order.
    std::vector<Storage> storages;
    std::vector<refhost::ColumnValues> values;
};

// The header of a plain file: the first line split at the delimiter, after an
// optional UTF-8 byte order mark, a name in quotes read as the text inside
// them. Nothing when the header needs the full reader (a quote within a
// name, empty or repeated names, no header line, a header longer than the
// format's limit).
std::optional<std::vector<std::string>> readPlainHeader(const std::string& path, const CsvFormat& format);

// Loads the file's records. `given` holds one storage per header field
// (None: inferred), or is empty to infer each column's storage from its values (the first kind
// all present values read as: integer, real, date, time, timestamp, else
// string). The format's delimiter separates the fields and its
// missing-value tokens are missing values, and a decimal comma makes a
// number's one comma its point as the full reader does (the comma must not
// be the delimiter); Latin-1 text needs the stream. Nothing when the
// file needs the full reader (which also reports lines longer than the
// format's limit). Record i comes from line i + 2 of a file loaded this way.
// The table is the same whatever the number of threads and `chunkBytes`
// (bytes of the file per chunk; 0 chooses).
std::optional<PlainCsv> loadPlainCsv(const std::string& path, const std::vector<Storage>& given,
                                     std::size_t threads, const CsvFormat& format, std::size_t chunkBytes = 0);

// Opens the text of an input from its start, decoded (decompressed, or
// converted to UTF-8), as InputSource reads it. Throws InputError when it
// cannot.
using OpenStream = std::function<std::unique_ptr<InputSource>()>;

// The header of a stream as readPlainHeader reads a plain file's.
std::optional<std::vector<std::string>> readStreamedHeader(const OpenStream& open, const CsvFormat& format);

// Loads the records of a stream as loadPlainCsv loads a plain file: a
// gzip-compressed file, or one converted from Latin-1, whose text is plain.
// One thread reads the decoded text and cuts it into chunks at line ends,
// which `threads` threads parse as loadPlainCsv's chunks. Each pass opens the
// stream again (a pass is repeated when chunks disagree on a column's
// storage). `expectedBytes`: the decoded size if known, else 0; it reserves
// the columns. Nothing when the text needs the full reader or reading
// fails; the full reader reports why.
std::optional<PlainCsv> loadStreamedCsv(const OpenStream& open, const std::vector<Storage>& given,
                                        std::size_t threads, const CsvFormat& format, std::size_t expectedBytes,
                                        std::size_t chunkBytes = 0);

struct PlainProfile {
    std::vector<std::string> header;
    std::vector<Storage> storages;   // one per header field, inferred as loadPlainCsv infers them
    std::vector<TextTally> tallies;  // one per header field; counted for text columns
};

// The storages loadPlainCsv would infer for the plain file open as
// `descriptor` (read by offset in chunks on `threads` threads; the
// descriptor stays open), keeping no values: fields named in `categorical`
// are text, and each text column gets the tally a ColumnProfile would count.
// Nothing when the file needs the full reader.
std::optional<PlainProfile> profilePlainCsv(int descriptor, const std::vector<std::string>& categorical,
                                            std::size_t threads, const CsvFormat& format,
                                            std::size_t chunkBytes = 0);

// The same for a stream, read as loadStreamedCsv reads it.
std::optional<PlainProfile> profileStreamedCsv(const OpenStream& open, const std::vector<std::string>& categorical,
                                               std::size_t threads, const CsvFormat& format,
                                               std::size_t expectedBytes, std::size_t chunkBytes = 0);

// The threads the chunked readers use: the machine's cores, at most 4.
std::size_t parseThreads();

struct PlainChunks {
    std::size_t records = 0;   // records handed over
    bool complete = false;     // true when that is every record of the file
};

// Reads the records of the plain file open as `descriptor` (by offset; the
// descriptor stays open) in chunks on `threads` threads: the wanted CSV
// columns, each as the given storage, in the order `wanted` lists them.
// Hands each chunk's columns to `eachChunk` in file order, with the number
// of records before it (record i comes from line i + 2), one chunk at a
// time. Stops at the first chunk it cannot read the quick way (a quoted
// line end, doubled quote or empty text, blank lines, ragged rows, a value that does not read as its storage, a
// header the full reader must read), leaving the records from there on to
// the full reader, which describes every problem. An exception from
// `eachChunk` ends the read and is rethrown.
PlainChunks readPlainChunks(int descriptor, const std::vector<std::pair<std::size_t, Storage>>& wanted,
                            std::size_t threads, const CsvFormat& format,
                            const std::function<void(std::vector<refhost::ColumnValues>&, std::size_t)>& eachChunk,
                            std::size_t chunkBytes = 0);

// The same for a stream, read as loadStreamedCsv reads it; a read of the
// stream that fails stops it as a chunk it cannot read does.
PlainChunks readStreamedChunks(const OpenStream& open, const std::vector<std::pair<std::size_t, Storage>>& wanted,
                               std::size_t threads, const CsvFormat& format,
                               const std::function<void(std::vector<refhost::ColumnValues>&, std::size_t)>& eachChunk,
                               std::size_t chunkBytes = 0);

}  // namespace splitrun

#endif

// platform/csv: CSV reading. Owns the way from the bytes of a file to typed
// columns: opening a path or standard input, gzip and Latin-1
// (input_source.h), the format options and their shared rules
// (csv_format.h), the scanner
// (csv_scan.h), the block reader (csv_stream.h) and its record-at-a-time view
// (csv_reader.h), the fast loader (plain_csv_loader.h) and the thread that
// cuts a decoded stream into chunks for it (stream_chunks.h), the inference
// of each column's storage (column_profile.h) and the typed table a build
// loads (this header). May
// include platform/common, the host's tables (refhost/) and the models' data
// descriptions (splitmodels/data.h); never grouping, engines, output or
// commands.
//
// Loading a whole CSV file into a typed table, with storages inferred from
// the values or taken from a data model document.
#ifndef SPLITRUN_CSV_TABLE_H
#define SPLITRUN_CSV_TABLE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <refhost/table.h>

#include "column_profile.h"
#include "csv_format.h"
#include "csv_stream.h"
#include "input_source.h"
#include "value_parsing.h"

namespace splitrun {

struct FieldSummary {
    std::string name;
    int storage = 0;
    int measure = 0;
    std::size_t categories = 0;   // distinct present values (at most a limit)
    bool moreCategories = false;  // there are more distinct values than `categories`
    bool categoriesUnkept = false;  // profiling had no room to keep every distinct text
    std::size_t longestText = 0;  // bytes of the longest text (set by profileCsvFile)
    std::size_t missing = 0;      // missing values
    TextTally tally{};            // for an inferred text column: its numbers and other texts
};

// The source line of each row: row + 2 unless lines were recorded (a file
// with blank lines or line breaks inside quotes records every row's line).
class SourceLines {
public:
    SourceLines() = default;
    SourceLines(std::initializer_list<std::uint64_t> lines) : lines_(lines) {}
    std::uint64_t operator[](std::size_t row) const { return lines_.empty() ? row + 2 : lines_[row]; }
    void push_back(std::uint64_t line) { lines_.push_back(line); }

private:
    std::vector<std::uint64_t> lines_;
};

struct CsvTable {
    std::string source;                 // the file name, for messages
    refhost::Table table;               // rows in file order
    SourceLines lines;                  // source line of each row
    std::vector<FieldSummary> fields;   // one per column, in table order
    std::string dataModelText;          // the --data-model document, or empty when inferred
    // Set for a file too large to load (profileCsvFile): its number of
    // records, while `table` holds only a digest of them.
    std::optional<std::size_t> streamedRecords;
    // The CSV column of each table column (set by profileCsvFile).
    std::vector<std::size_t> csvColumns;
    // The file held open for the passes after the profile's (set by
    // profileCsvFile).
    std::shared_ptr<const InputFile> file;
    // Notes for the report on how the file was read (a row-name column left
    // out, text that does not look like UTF-8).
    std::vector<std::string> notes;

    std::size_t recordCount() const { return streamedRecords ? *streamedRecords : table.rowCount(); }
};

// Reads `csvPath` ("-": standard input; gzip-compressed or not) as the
// format describes. Without a data model each column's storage and measure
// are inferred; with one (`dataModelPath` non-empty) its fields must be the
// header's fields (in any order; the table takes the data model's order) and
// every value must read as its field's storage. Fields named in
// `categorical` are read as text whatever their values (without a data
// model; each must be a field of the header). A first header field with no
// name (R's row names) is left out. A header that is not UTF-8, unless the
// format reads Latin-1, is refused. Throws InputError naming the file, line,
// column and field of the first problem.
CsvTable readCsvTable(const std::string& csvPath, const std::string& dataModelPath,
                      const CsvFormat& format = {}, const std::vector<std::string>& categorical = {});

// The table, or the error, readCsvTable gives, read by the record-by-record
// reader alone whatever the file: slower, and the reference the chunked
// readers are checked against.
CsvTable readCsvTableSerially(const std::string& csvPath, const std::string& dataModelPath,
                              const CsvFormat& format = {}, const std::vector<std::string>& categorical = {});

// Throws InputError for the first of the table's `columns` that was
// inferred as text only because of a few cells that are not numbers (see
// hasStrayTexts), naming its line and value and pointing to --na-values and
// --categorical. Fields in `categorical`, and tables typed by a data
// model, are left alone.
void refuseStrayTexts(const CsvTable& data, const std::vector<std::size_t>& columns, const CsvFormat& format,
                      const std::vector<std::string>& categorical);

// Reads the CSV file held open as `file` once, from its start, as the
// format describes, in typed blocks: column i of a block is CSV column csvColumns[i], read as
// columns[i].storage says (a data model's when `fromDataModel`, which a
// value that does not fit names). `eachBlock` gets every block with its records as
// read. profileCsvFile reads its second pass through one, so that CSV
// reading does not depend on the host's input sources that supply it
// (readStreamedCsv in streamed_csv_source.h).
using TypedCsvReader = std::function<void(
    const std::shared_ptr<const InputFile>& file, const CsvFormat& format,
    const std::vector<refhost::Column>& columns, const std::vector<std::size_t>& csvColumns, bool fromDataModel,
    const std::function<void(const refhost::Table&, const CsvBlock&)>& eachBlock)>;

// The most bytes of distinct text profiling keeps of a column by default:
// a column with more is no set of categories a model could use.
constexpr std::size_t kProfileTextBytes = std::size_t{16} << 20;

// Looks at a file too large to load without keeping its records. A first
// pass infers each column's storage as readCsvTable does (or takes it from
// the data model); a second counts the records and each column's missing
// and distinct values, and keeps as `table` a digest: the rows that bring
// a column a value it has not had yet (text columns up to the distinct
// value limit of the summaries and while their texts fit in `textBudget`
// bytes, number columns up to 1024 values). The digest's distinct values
// and categories are then the file's, wherever the file has no more
// distinct values than those limits; a text column whose texts did not fit
// is marked categoriesUnkept, and every field's longestText is the file's. The file must be a path that can be
// read again (gzip-compressed or not). Throws InputError as readCsvTable.
// The second pass reads through `readTyped`. `eachBlock`, when given, is called with every block of the second pass,
// typed as the table's columns, and its records as read (for their lines),
// so that the same pass can check or copy the records. `categorical` is as
// for readCsvTable.
CsvTable profileCsvFile(const std::string& csvPath, const std::string& dataModelPath,
                        const CsvFormat& format, const TypedCsvReader& readTyped,
                        const std::function<void(const refhost::Table&, const CsvBlock&)>& eachBlock = {},
                        const std::vector<std::string>& categorical = {},
                        std::size_t textBudget = kProfileTextBytes);

// Appends a field's value to a column kept for the given storage: missing
// as missing, text as text, numbers, dates and times as numbers. Throws
// InputError naming `source`, the line, the CSV column (0-based
// `csvColumn`) and the field `name` when present text does not read as
// the storage.
void appendTypedValue(refhost::ColumnValues& column, std::string_view text, bool missing, Storage storage,
                      const std::string& source, std::uint64_t line, std::size_t csvColumn,
                      const std::string& name, bool fromDataModel = false);

// Throws InputError suggesting --delimiter when a header of one field holds
// a ';' or a tab while the delimiter is another character.
void checkDelimiterHint(const std::vector<std::string>& header, const std::string& source,
                        const CsvFormat& format);

}  // namespace splitrun

#endif

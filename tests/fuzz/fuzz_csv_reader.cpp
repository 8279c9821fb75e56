// Fuzzes split-run's CSV reader; the first byte picks the format. Reading
// succeeds or raises an input error; records match the header, fields respect
// the limit and quoting; default-layout records round-trip through the writer.
#include <sstream>

#include "csv_reader.h"
#include "csv_writer.h"
#include "errors.h"
#include "fuzz_csv_format.h"
#include "fuzz_support.h"

namespace {

using splitrun::CsvFormat;
using splitrun::CsvReader;
using splitrun::CsvRecord;

struct Read { std::vector<std::string> header; std::vector<CsvRecord> records; };

// The file's header and records; false when the reader refused the file.
bool readAll(const std::string& text, const CsvFormat& format, Read& read)
{
    std::istringstream in(text);
    try {
        CsvReader reader(in, "fuzz.csv", format);
        read.header = reader.header();
        CsvRecord record;
        while (reader.next(record)) read.records.push_back(record);
        return true;
    } catch (const splitrun::InputError&) {
        return false;
    }
}

std::string writeAll(const Read& read)
{
    // A byte order mark first, so a name that starts with one keeps it.
    std::string text = "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < read.header.size(); ++i)
        text += (i ? "," : "") + splitrun::csvCell(read.header[i]);
    text += "\n";
    for (const CsvRecord& record : read.records) {
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            // A missing value stays an empty cell.
            const splitrun::CsvField& field = record.fields[i];
            text += (i ? "," : "") + (field.isMissing() ? std::string() : splitrun::csvCell(field.value));
        }
        text += "\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const CsvFormat format = fuzzsupport::csvFormatOf(flags);
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((flags & 32) != 0) std::erase(text, '"');

    Read read;
    if (!readAll(text, format, read)) return 0;
    FUZZ_CHECK(!read.header.empty());
    for (const CsvRecord& record : read.records) {
        FUZZ_CHECK(record.fields.size() == read.header.size());
        for (const splitrun::CsvField& field : record.fields) {
            FUZZ_CHECK(field.value.size() <= format.maxFieldSize);
            FUZZ_CHECK(!(field.quoted && field.isMissing()));
            if (field.isMissing()) FUZZ_CHECK(format.isMissingToken(field.value));
        }
    }

    if (format.delimiter == ',' && format.decimal == '.' && format.naValues == CsvFormat{}.naValues &&
        format.maxFieldSize == CsvFormat{}.maxFieldSize) {
        Read again;
        FUZZ_CHECK(readAll(writeAll(read), format, again));
        FUZZ_CHECK(again.header == read.header);
        FUZZ_CHECK(again.records.size() == read.records.size());
        for (std::size_t r = 0; r < read.records.size(); ++r)
            for (std::size_t f = 0; f < read.header.size(); ++f) {
                const splitrun::CsvField& a = read.records[r].fields[f];
                const splitrun::CsvField& b = again.records[r].fields[f];
                FUZZ_CHECK(a.isMissing() == b.isMissing());
                if (!a.isMissing()) FUZZ_CHECK(a.value == b.value);
            }
    }
    return 0;
}

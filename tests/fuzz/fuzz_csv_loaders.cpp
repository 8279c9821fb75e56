// Fuzzes the chunked CSV loader against the record-by-record reader; the
// first byte picks the format, the chunk size and the threads. A file gives
// the same table (storages, values, the sign of every zero, source lines)
// or the same error whichever reader takes it, loaded whole or profiled and
// read pass by pass as a file over the memory limit is, and the chunked
// loader gives the same columns however the file is cut.
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <optional>

#include "csv_table.h"
#include "errors.h"
#include "fuzz_csv_format.h"
#include "fuzz_support.h"
#include "plain_csv_loader.h"
#include "streamed_csv_source.h"

namespace {

using refhost::ColumnValues;
using splitrun::CsvFormat;
using splitrun::CsvTable;

struct Outcome {
    std::optional<CsvTable> table;
    std::string error;
};

template <class Read>
Outcome attempt(Read&& read)
{
    Outcome outcome;
    try {
        outcome.table = read();
    } catch (const splitrun::InputError& error) {
        outcome.error = error.what();
    }
    return outcome;
}

// Equal cells, and reals of the same sign (== takes -0 for 0).
bool sameValues(const ColumnValues& a, const ColumnValues& b)
{
    if (!(a == b)) return false;
    if (a.kind() != ColumnValues::Kind::Real || b.kind() != ColumnValues::Kind::Real) return true;
    for (std::size_t row = 0; row < a.size(); ++row)
        if (!a.isMissing(row) && std::signbit(a.reals()[row]) != std::signbit(b.reals()[row])) return false;
    return true;
}

const std::string& scratchFile()
{
    static const std::string path = "/tmp/fuzz_csv_loaders_" + std::to_string(::getpid()) + ".csv";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const CsvFormat format = fuzzsupport::csvFormatOf(flags);
    const std::size_t chunkBytes = std::size_t{1} << (2 * ((flags >> 5) & 3));   // 1, 4, 16 or 64
    const std::size_t threads = (flags & 128) != 0 ? 3 : 1;
    const std::string& path = scratchFile();
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data) + 1,
                                                                  static_cast<std::streamsize>(size - 1));

    const Outcome serial = attempt([&] { return splitrun::readCsvTableSerially(path, "", format); });
    const Outcome chunked = attempt([&] { return splitrun::readCsvTable(path, "", format); });
    FUZZ_CHECK(serial.table.has_value() == chunked.table.has_value());
    if (serial.error != chunked.error)
        std::fprintf(stderr, "record by record: %s\nchunked: %s\n", serial.error.c_str(), chunked.error.c_str());
    FUZZ_CHECK(serial.error == chunked.error);
    if (serial.table) {
        const CsvTable& a = *serial.table;
        const CsvTable& b = *chunked.table;
        if (!(a.table.columns() == b.table.columns()))
            for (const CsvTable* t : {&a, &b})
                for (const refhost::Column& column : t->table.columns())
                    std::fprintf(stderr, "%s column '%s' storage %d measure %d\n", t == &a ? "serial" : "chunked",
                                 column.name.c_str(), column.storage, column.measure);
        FUZZ_CHECK(a.table.columns() == b.table.columns());
        FUZZ_CHECK(a.table.rowCount() == b.table.rowCount());
        for (std::size_t c = 0; c < a.table.columns().size(); ++c)
            FUZZ_CHECK(sameValues(a.table.values(c), b.table.values(c)));
        for (std::size_t row = 0; row < a.table.rowCount(); ++row) FUZZ_CHECK(a.lines[row] == b.lines[row]);
        FUZZ_CHECK(a.fields.size() == b.fields.size());
        for (std::size_t f = 0; f < a.fields.size(); ++f) {
            FUZZ_CHECK(a.fields[f].categories == b.fields[f].categories);
            FUZZ_CHECK(a.fields[f].missing == b.fields[f].missing);
        }
    }

    // Profiled, then read pass by pass: the same storages, records and lines.
    std::vector<ColumnValues> passed;
    std::vector<std::uint64_t> passedLines;
    const Outcome profiled = attempt([&] {
        return splitrun::profileCsvFile(path, "", format, splitrun::readStreamedCsv,
                                        [&](const refhost::Table& block, const splitrun::CsvBlock& read) {
                                            for (std::size_t c = passed.size(); c < block.columns().size(); ++c)
                                                passed.emplace_back(block.values(c).kind());
                                            for (std::size_t c = 0; c < passed.size(); ++c)
                                                for (std::size_t r = 0; r < block.rowCount(); ++r)
                                                    passed[c].append(block.values(c).cell(r));
                                            for (std::size_t r = 0; r < block.rowCount(); ++r)
                                                passedLines.push_back(read.line(r));
                                        });
    });
    if (serial.error != profiled.error)
        std::fprintf(stderr, "record by record: %s\nprofiled: %s\n", serial.error.c_str(), profiled.error.c_str());
    FUZZ_CHECK(serial.error == profiled.error);
    if (serial.table && profiled.table->recordCount() > 0) {
        const CsvTable& a = *serial.table;
        FUZZ_CHECK(a.table.columns() == profiled.table->table.columns());
        FUZZ_CHECK(a.table.rowCount() == profiled.table->recordCount());
        FUZZ_CHECK(passed.size() == a.table.columns().size());
        for (std::size_t c = 0; c < passed.size(); ++c) FUZZ_CHECK(sameValues(a.table.values(c), passed[c]));
        for (std::size_t row = 0; row < a.table.rowCount(); ++row) FUZZ_CHECK(a.lines[row] == passedLines[row]);
    }

    // Cut into small chunks on several threads, or read as one: the same columns.
    const auto whole = splitrun::loadPlainCsv(path, {}, 1, format);
    const auto cut = splitrun::loadPlainCsv(path, {}, threads, format, chunkBytes);
    FUZZ_CHECK(whole.has_value() == cut.has_value());
    if (whole) {
        FUZZ_CHECK(whole->storages == cut->storages);
        for (std::size_t c = 0; c < whole->values.size(); ++c) FUZZ_CHECK(sameValues(whole->values[c], cut->values[c]));
    }
    return 0;
}

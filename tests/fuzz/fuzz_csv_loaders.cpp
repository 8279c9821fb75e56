// Fuzzes the chunked CSV loader against the record-by-record reader. A file
// gives the same table (storages, values, the sign of every zero, source
// lines, notes) or the same error whichever reader takes it: loaded whole,
// profiled and read pass by pass as a file over the memory limit is,
// gzip-compressed in one or two members, read as Latin-1, and typed by a
// data model derived from the inferred columns (perhaps with one field's
// storage changed). The chunked loaders give the same columns however the
// file is cut.
//
// Input: a flags byte (the layout, chunk size and threads), a byte of
// further choices (gzip, Latin-1, data model), a pick byte (where the members are
// cut, which field the data model changes), then the file; see Choices.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>
#include <string_view>

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

// What the input asks for besides the layout.
struct Choices {
    // First byte: bits 0-4 the layout (fuzz_csv_format.h), 5-6 the chunk
    // size of the cut loads, 7 their threads.
    CsvFormat format;
    std::size_t chunkBytes = 1;   // 1, 4, 16 or 64
    std::size_t threads = 1;      // 1 or 3
    // Second byte.
    bool gzip = false;            // bit 0: also read the file gzip-compressed
    bool twoMembers = false;      // bit 1: as two gzip members cut at the pick
    // bit 2: the file is Latin-1 (format.latin1)
    bool dataModel = false;       // bit 3: also read it typed by a data model
    bool reversed = false;        // bit 4: the data model lists the fields last to first
    int change = 0;               // bits 5-7: 1-6 give the picked field that storage, 7 leave it out
    // Third byte: where the two members are cut, which field the data model
    // changes, and (its low bit) gzip level 0, stored blocks, rather than 6.
    std::uint8_t pick = 0;
};

Choices choicesOf(const uint8_t* data)
{
    Choices choices;
    const uint8_t flags = data[0];
    choices.format = fuzzsupport::csvFormatOf(flags);
    choices.chunkBytes = std::size_t{1} << (2 * ((flags >> 5) & 3));
    choices.threads = (flags & 128) != 0 ? 3 : 1;
    const uint8_t more = data[1];
    choices.gzip = (more & 1) != 0;
    choices.twoMembers = (more & 2) != 0;
    choices.format.latin1 = (more & 4) != 0;
    choices.dataModel = (more & 8) != 0;
    choices.reversed = (more & 16) != 0;
    choices.change = more >> 5;
    choices.pick = data[2];
    return choices;
}

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

std::string scratchPath(const char* ending)
{
    return "/tmp/fuzz_csv_loaders_" + std::to_string(::getpid()) + ending;
}
const std::string& plainFile()
{
    static const std::string path = scratchPath(".csv");
    return path;
}
const std::string& gzipFile()
{
    static const std::string path = scratchPath(".csv.gz");
    return path;
}
const std::string& dataModelFile()
{
    static const std::string path = scratchPath(".xml");
    return path;
}

void writeFile(const std::string& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The bytes as one gzip member appended to `out`.
void appendGzipMember(std::string& out, std::string_view bytes, int level)
{
    z_stream z{};
    FUZZ_CHECK(deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    std::string member(deflateBound(&z, bytes.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(member.data());
    z.avail_out = static_cast<uInt>(member.size());
    FUZZ_CHECK(deflate(&z, Z_FINISH) == Z_STREAM_END);
    member.resize(z.total_out);
    deflateEnd(&z);
    out += member;
}

// The file gzip-compressed: one member, or two cut where the pick falls
// (either may be empty), as concatenated nightly files are.
std::string gzipped(std::string_view file, const Choices& choices)
{
    const int level = (choices.pick & 1) != 0 ? 0 : 6;
    std::string out;
    if (!choices.twoMembers) {
        appendGzipMember(out, file, level);
        return out;
    }
    const std::size_t cut = file.size() * choices.pick / 255;
    appendGzipMember(out, file.substr(0, cut), level);
    appendGzipMember(out, file.substr(cut), level);
    return out;
}

// A data model of the inferred columns: one field picked may get another
// storage (its measure following) or be left out, and the fields may be
// listed last to first.
std::string derivedDataModel(const std::vector<refhost::Column>& inferred, const Choices& choices)
{
    std::vector<refhost::Column> columns = inferred;
    if (!columns.empty() && choices.change != 0) {
        const std::size_t picked = choices.pick % columns.size();
        if (choices.change == 7) {
            columns.erase(columns.begin() + static_cast<std::ptrdiff_t>(picked));
        } else {
            columns[picked].storage = choices.change;
            columns[picked].measure = choices.change == 3 ? 3 : 1;   // nominal text, continuous numbers
        }
    }
    if (choices.reversed) std::reverse(columns.begin(), columns.end());
    refhost::DataModelOptions options;
    options.categories = false;
    return refhost::dataModelXml(refhost::Table(std::move(columns)), options);
}

// The text with the file name `path` (of a file holding the plain file's
// text) turned into the plain file's. The file is named before anything
// read from it, which may hold the name too.
std::string renamed(std::string text, const std::string& path)
{
    if (const std::size_t at = text.find(path); path != plainFile() && at != std::string::npos)
        text.replace(at, path.size(), plainFile());
    return text;
}

// An error message as far as it may be the same for a compressed file:
// the advice after a zero byte names the input's kind.
std::string comparable(std::string message)
{
    static const std::string zeroByte = " holds a zero byte, which no text CSV does: ";
    if (const std::size_t at = message.find(zeroByte); at != std::string::npos)
        message.resize(at + zeroByte.size());
    return message;
}

// The error of a read of `path` (empty when none) is the record-by-record
// read's of the plain file.
void checkSameError(const std::string& expected, const std::string& got, const char* what, const std::string& path)
{
    const std::string error = comparable(renamed(got, path));
    const bool same = error == comparable(expected);
    if (!same) std::fprintf(stderr, "record by record: %s\n%s: %s\n", expected.c_str(), what, got.c_str());
    FUZZ_CHECK(same);
}

// `got`, a read of `path`, is `expected`, the record-by-record read of the
// plain file: the same error, or the same table.
void checkSameRead(const Outcome& expected, const Outcome& got, const char* what, const std::string& path)
{
    checkSameError(expected.error, got.error, what, path);
    FUZZ_CHECK(expected.table.has_value() == got.table.has_value());
    if (!expected.table) return;
    const CsvTable& a = *expected.table;
    const CsvTable& b = *got.table;
    if (!(a.table.columns() == b.table.columns()))
        for (const CsvTable* t : {&a, &b})
            for (const refhost::Column& column : t->table.columns())
                std::fprintf(stderr, "%s column '%s' storage %d measure %d\n", t == &a ? "serial" : what,
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
    FUZZ_CHECK(a.notes.size() == b.notes.size());
    for (std::size_t n = 0; n < a.notes.size(); ++n) {
        if (a.notes[n] != renamed(b.notes[n], path))
            std::fprintf(stderr, "record by record: %s\n%s: %s\n", a.notes[n].c_str(), what, b.notes[n].c_str());
        FUZZ_CHECK(a.notes[n] == renamed(b.notes[n], path));
    }
}

// A file profiled, then read pass by pass: the profile, and the records
// and lines the passes gave.
struct PassByPass {
    Outcome profile;
    std::vector<ColumnValues> values;
    std::vector<std::uint64_t> lines;
};

PassByPass readPassByPass(const std::string& path, const std::string& dataModel, const CsvFormat& format)
{
    PassByPass read;
    read.profile = attempt([&] {
        return splitrun::profileCsvFile(path, dataModel, format, splitrun::readStreamedCsv,
                                        [&](const refhost::Table& block, const splitrun::CsvBlock& records) {
                                            for (std::size_t c = read.values.size(); c < block.columns().size(); ++c)
                                                read.values.emplace_back(block.values(c).kind());
                                            for (std::size_t c = 0; c < read.values.size(); ++c)
                                                for (std::size_t r = 0; r < block.rowCount(); ++r)
                                                    read.values[c].append(block.values(c).cell(r));
                                            for (std::size_t r = 0; r < block.rowCount(); ++r)
                                                read.lines.push_back(records.line(r));
                                        });
    });
    return read;
}

// The pass-by-pass read of `path` fails as the record-by-record read of the
// plain file does, or gives its storages, records and lines.
void checkSamePasses(const Outcome& expected, const PassByPass& got, const char* what, const std::string& path)
{
    checkSameError(expected.error, got.profile.error, what, path);
    FUZZ_CHECK(expected.table.has_value() == got.profile.table.has_value());
    if (!expected.table || got.profile.table->recordCount() == 0) return;
    const CsvTable& a = *expected.table;
    FUZZ_CHECK(a.table.columns() == got.profile.table->table.columns());
    FUZZ_CHECK(a.table.rowCount() == got.profile.table->recordCount());
    FUZZ_CHECK(got.values.size() == a.table.columns().size());
    for (std::size_t c = 0; c < got.values.size(); ++c) FUZZ_CHECK(sameValues(a.table.values(c), got.values[c]));
    for (std::size_t row = 0; row < a.table.rowCount(); ++row) FUZZ_CHECK(a.lines[row] == got.lines[row]);
}

// The columns of two chunked loads are the same, or both declined.
void checkSameLoad(const std::optional<splitrun::PlainCsv>& a, const std::optional<splitrun::PlainCsv>& b)
{
    FUZZ_CHECK(a.has_value() == b.has_value());
    if (!a) return;
    FUZZ_CHECK(a->header == b->header);
    FUZZ_CHECK(a->storages == b->storages);
    for (std::size_t c = 0; c < a->values.size(); ++c) FUZZ_CHECK(sameValues(a->values[c], b->values[c]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;
    const Choices choices = choicesOf(data);
    const CsvFormat& format = choices.format;
    const std::string_view file(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::string& plain = plainFile();
    writeFile(plain, file);

    const Outcome serial = attempt([&] { return splitrun::readCsvTableSerially(plain, "", format); });
    checkSameRead(serial, attempt([&] { return splitrun::readCsvTable(plain, "", format); }), "chunked", plain);
    checkSamePasses(serial, readPassByPass(plain, "", format), "profiled", plain);

    // Cut into small chunks on several threads, or read as one: the same
    // columns. Latin-1 text is loaded from the converted stream.
    const auto opener = [&](const std::string& path) -> splitrun::OpenStream {
        return [&format, path] { return std::make_unique<splitrun::InputSource>(path, "--data", format.latin1); };
    };
    const auto whole = format.latin1 ? splitrun::loadStreamedCsv(opener(plain), {}, 1, format, 0)
                                     : splitrun::loadPlainCsv(plain, {}, 1, format);
    checkSameLoad(whole, format.latin1 ? splitrun::loadStreamedCsv(opener(plain), {}, choices.threads, format, 0,
                                                                   choices.chunkBytes)
                                       : splitrun::loadPlainCsv(plain, {}, choices.threads, format, choices.chunkBytes));

    // The same text gzip-compressed (unless the file is itself gzip data,
    // which the plain reads inflate).
    const bool gzip = choices.gzip && !(file.size() >= 2 && file[0] == '\x1f' && file[1] == '\x8b');
    const std::string& compressed = gzipFile();
    if (gzip) {
        writeFile(compressed, gzipped(file, choices));
        checkSameRead(serial, attempt([&] { return splitrun::readCsvTable(compressed, "", format); }), "gzip",
                      compressed);
        checkSamePasses(serial, readPassByPass(compressed, "", format), "gzip profiled", compressed);
        checkSameLoad(whole, splitrun::loadStreamedCsv(opener(compressed), {}, choices.threads, format, 0,
                                                       choices.chunkBytes));
    }

    // Typed by a data model of the inferred columns: the same table or error
    // from every reader.
    if (choices.dataModel && serial.table) {
        const std::string& model = dataModelFile();
        writeFile(model, derivedDataModel(serial.table->table.columns(), choices));
        const Outcome typed = attempt([&] { return splitrun::readCsvTableSerially(plain, model, format); });
        checkSameRead(typed, attempt([&] { return splitrun::readCsvTable(plain, model, format); }),
                      "chunked with the data model", plain);
        checkSamePasses(typed, readPassByPass(plain, model, format), "profiled with the data model", plain);
        if (gzip) {
            checkSameRead(typed, attempt([&] { return splitrun::readCsvTableSerially(compressed, model, format); }),
                          "gzip record by record with the data model", compressed);
            checkSameRead(typed, attempt([&] { return splitrun::readCsvTable(compressed, model, format); }),
                          "gzip with the data model", compressed);
            checkSamePasses(typed, readPassByPass(compressed, model, format), "gzip profiled with the data model",
                            compressed);
        }
    }
    return 0;
}

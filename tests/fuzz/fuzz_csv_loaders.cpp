// Fuzzes the chunked CSV loader against the record-by-record reader. A file
// gives the same table (storages, values, the sign of every zero, source
// lines, notes) or the same error whichever reader takes it: loaded whole,
// profiled and read pass by pass as a file over the memory limit is,
// gzip-compressed in one or two members (with optional header fields, and
// perhaps zero padding after them), read as Latin-1, and typed by a data
// model derived from the inferred columns (perhaps with one field's storage
// changed). A gzip file followed by anything but zero padding is refused, by
// every reader with the same error. The chunked loaders give the same
// columns however the file is cut.
//
// Input: a flags byte (the layout, chunk size and threads), a byte of
// further choices (gzip, Latin-1, data model), a pick byte (where the members are
// cut, which field the data model changes), a framing byte (the members'
// header fields, what follows them), then the file; see Choices.
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

// What follows the last gzip member.
enum class Trailer {
    None,
    Zeros,           // zero bytes up to a 512-byte boundary, as block tools pad
    Text,            // a line of CSV, as if appended to the compressed file
    ZerosThenText,   // padding, then a line of CSV
    MagicByte,       // the first byte of a member's magic, alone
    ReservedFlags,   // a member header with reserved flags set
    CutMember,       // the first half of another member
    CorruptMember,   // a member header, then a block of the reserved type
};

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
    // Fourth byte: how the gzip file is framed. Bits 0-3 set FEXTRA, FNAME,
    // FCOMMENT and FHCRC in every member's header, held here as RFC 1952's
    // flag byte has them.
    std::uint8_t headerFlags = 0;
    Trailer trailer = Trailer::None;   // bits 4-6
    // Bit 7: the header fields and the padding are long enough to cross the
    // reader's first 64 KiB read (a long extra field is shorter by the pick).
    bool long64k = false;
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
    const uint8_t framing = data[3];
    choices.headerFlags = static_cast<uint8_t>((framing & 7) << 2 | (framing & 8) >> 2);
    choices.trailer = static_cast<Trailer>((framing >> 4) & 7);
    choices.long64k = (framing & 128) != 0;
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

// The bytes as one gzip member appended to `out`, its header carrying the
// optional fields the choices set; long ones take 64 KiB or more.
void appendGzipMember(std::string& out, std::string_view bytes, int level, const Choices& choices)
{
    const std::uint8_t headerFlags = choices.headerFlags;
    const bool long64k = choices.long64k;
    z_stream z{};
    FUZZ_CHECK(deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    // One extra subfield ("SP", its length, its data) filling the field: 6
    // bytes, or 65535 less the pick, so that where the next member starts
    // moves with the pick (and may fall just before the reader's first
    // 64 KiB read ends).
    const std::size_t extraLength = long64k ? 65535 - choices.pick : 6;
    std::string extra = "SP";
    extra += static_cast<char>((extraLength - 4) & 255);
    extra += static_cast<char>((extraLength - 4) >> 8);
    extra.resize(extraLength, 'x');
    std::string name = long64k ? std::string(std::size_t{1} << 16, 'n') : "data.csv";
    std::string comment = long64k ? std::string(std::size_t{1} << 16, 'c') : "nightly export";
    gz_header header{};
    header.os = 3;
    if ((headerFlags & 4) != 0) {
        header.extra = reinterpret_cast<Bytef*>(extra.data());
        header.extra_len = static_cast<uInt>(extra.size());
    }
    if ((headerFlags & 8) != 0) header.name = reinterpret_cast<Bytef*>(name.data());
    if ((headerFlags & 16) != 0) header.comment = reinterpret_cast<Bytef*>(comment.data());
    header.hcrc = (headerFlags & 2) != 0;
    FUZZ_CHECK(deflateSetHeader(&z, &header) == Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    int status = Z_OK;
    const std::size_t start = out.size();
    while (status != Z_STREAM_END) {
        const std::size_t room = deflateBound(&z, bytes.size()) + extra.size() + name.size() + comment.size();
        const std::size_t written = out.size();
        out.resize(written + room);
        z.next_out = reinterpret_cast<Bytef*>(out.data() + written);
        z.avail_out = static_cast<uInt>(room);
        status = deflate(&z, Z_FINISH);
        FUZZ_CHECK(status == Z_OK || status == Z_STREAM_END);
        out.resize(written + room - z.avail_out);
    }
    FUZZ_CHECK(out.size() - start == z.total_out);
    deflateEnd(&z);
}

// What `trailer` appends to the gzip data `out` of the file `file`.
void appendTrailer(std::string& out, std::string_view file, const Choices& choices)
{
    const std::size_t longPadding = choices.long64k ? std::size_t{1} << 16 : 0;
    switch (choices.trailer) {
    case Trailer::None: return;
    case Trailer::Zeros: out.append(512 - out.size() % 512 + longPadding, '\0'); return;
    case Trailer::Text: out += "x,1\n"; return;
    case Trailer::ZerosThenText: out.append(512 - out.size() % 512 + longPadding, '\0') += "x,1\n"; return;
    case Trailer::MagicByte: out += '\x1f'; return;
    case Trailer::ReservedFlags: out.append("\x1f\x8b\x08\xe0\0\0\0\0\0\x03", 10); return;
    case Trailer::CutMember: {
        std::string member;
        appendGzipMember(member, file, 6, choices);
        out.append(member, 0, member.size() / 2);
        return;
    }
    case Trailer::CorruptMember: out.append("\x1f\x8b\x08\0\0\0\0\0\0\x03\xff\xff\xff\xff", 14); return;
    }
}

// The file gzip-compressed: one member, or two cut where the pick falls
// (either may be empty), as concatenated nightly files are; then the trailer.
std::string gzipped(std::string_view file, const Choices& choices)
{
    const int level = (choices.pick & 1) != 0 ? 0 : 6;
    std::string out;
    if (!choices.twoMembers) {
        appendGzipMember(out, file, level, choices);
    } else {
        const std::size_t cut = file.size() * choices.pick / 255;
        appendGzipMember(out, file.substr(0, cut), level, choices);
        appendGzipMember(out, file.substr(cut), level, choices);
    }
    appendTrailer(out, file, choices);
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

// True when the gzip file must read as the plain one: its members are
// followed by nothing, or by zero padding, which the reader skips. Any other
// bytes there are refused.
bool readsAsPlain(Trailer trailer)
{
    return trailer == Trailer::None || trailer == Trailer::Zeros;
}

// Reads the gzip file record by record, in chunks and pass by pass, typed by
// the data model at `model` ("": none), and checks each read against
// `plainRead`, the record-by-record read of the plain file. When the file
// has other bytes than padding after its members, its record-by-record read
// fails instead, and the other two fail as it does.
void checkGzipReads(const Outcome& plainRead, const std::string& model, const Choices& choices, const char* with)
{
    const std::string& compressed = gzipFile();
    const CsvFormat& format = choices.format;
    const auto what = [with](const char* read) { return std::string("gzip") + read + with; };
    const Outcome serial = attempt([&] { return splitrun::readCsvTableSerially(compressed, model, format); });
    const bool asPlain = readsAsPlain(choices.trailer);
    if (asPlain)
        checkSameRead(plainRead, serial, what(" record by record").c_str(), compressed);
    else
        FUZZ_CHECK(!serial.table);
    // The refused file's messages name it as its own read's do: none is renamed.
    const Outcome& expected = asPlain ? plainRead : serial;
    const std::string& named = asPlain ? compressed : plainFile();
    checkSameRead(expected, attempt([&] { return splitrun::readCsvTable(compressed, model, format); }),
                  what("").c_str(), named);
    checkSamePasses(expected, readPassByPass(compressed, model, format), what(" profiled").c_str(), named);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) return 0;
    const Choices choices = choicesOf(data);
    const CsvFormat& format = choices.format;
    const std::string_view file(reinterpret_cast<const char*>(data) + 4, size - 4);
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
    if (gzip) {
        writeFile(gzipFile(), gzipped(file, choices));
        checkGzipReads(serial, "", choices, "");
        // The stream loader declines a file it cannot decode to its end.
        const auto loaded =
            splitrun::loadStreamedCsv(opener(gzipFile()), {}, choices.threads, format, 0, choices.chunkBytes);
        if (readsAsPlain(choices.trailer))
            checkSameLoad(whole, loaded);
        else
            FUZZ_CHECK(!loaded);
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
        if (gzip) checkGzipReads(typed, model, choices, " with the data model");
    }
    return 0;
}

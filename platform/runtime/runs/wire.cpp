// The binary encoding of jobs and outputs.
#include "refhost/wire.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

namespace refhost {

namespace {

// Written first, so that bytes of some other kind are refused at once.
constexpr uint32_t kJobMagic = 0x4a4c5053;     // "SPLJ"
constexpr uint32_t kOutputMagic = 0x4f4c5053;  // "SPLO"

// Cell tags of a column kept as cells.
enum : uint8_t { kMissing = 0, kInteger = 1, kReal = 2, kText = 3 };

// The missing flags of a column: 0 when none is missing, 1 followed by a
// byte per row, or 2 when every row is missing (a column the receiver does
// not use, left empty), after which no values follow.
enum : uint8_t { kNoneMissing = 0, kSomeMissing = 1, kAllMissing = 2 };

bool allMissing(const ColumnValues& values) {
    if (values.size() == 0 || !values.hasMissing()) return false;
    for (size_t row = 0; row < values.size(); ++row)
        if (!values.isMissing(row)) return false;
    return true;
}

// Writes the flags; false when every row is missing and nothing follows.
bool encodeMissing(WireWriter& out, const ColumnValues& values) {
    if (allMissing(values)) {
        out.u8(kAllMissing);
        return false;
    }
    const bool any = values.hasMissing();
    out.u8(any ? kSomeMissing : kNoneMissing);
    if (!any) return true;
    std::string& bytes = out.bytes();
    const size_t start = bytes.size();
    bytes.resize(start + values.size());
    for (size_t row = 0; row < values.size(); ++row) bytes[start + row] = values.isMissing(row) ? 1 : 0;
    return true;
}

// The missing flags of `rows` values, empty when none is missing; false
// when every row is missing (the column then has no values to read).
bool decodeMissing(WireReader& in, size_t rows, std::vector<uint8_t>& missing) {
    missing.clear();
    switch (in.u8()) {
        case kNoneMissing: return true;
        case kSomeMissing: {
            const std::string_view flags = in.take(rows);
            missing.assign(flags.begin(), flags.end());
            return true;
        }
        case kAllMissing: return false;
        default: throw WireError("bad missing flags");
    }
}

// Writes the numbers as little-endian words, as u64 and u32 write one: on a
// little-endian machine their bytes as they are in memory, in one copy.
template <class Number>
void encodeNumbers(WireWriter& out, const Number* numbers, size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        out.bytes().append(reinterpret_cast<const char*>(numbers), count * sizeof(Number));
    } else {
        for (size_t i = 0; i < count; ++i) {
            if constexpr (sizeof(Number) == 4) out.u32(std::bit_cast<uint32_t>(numbers[i]));
            else out.u64(std::bit_cast<uint64_t>(numbers[i]));
        }
    }
}

// The number at `bytes`, written by encodeNumbers.
template <class Number>
Number decodeNumber(const char* bytes) {
    using Word = std::conditional_t<sizeof(Number) == 4, uint32_t, uint64_t>;
    Word word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, bytes, sizeof word);
    } else {
        for (size_t i = 0; i < sizeof word; ++i) word |= Word{static_cast<uint8_t>(bytes[i])} << (8 * i);
    }
    return std::bit_cast<Number>(word);
}

// A column of `rows` missing values of the given kind.
void encodeMissingColumn(WireWriter& out, ColumnValues::Kind kind, size_t rows) {
    out.u8(static_cast<uint8_t>(kind));
    out.u64(rows);
    if (kind != ColumnValues::Kind::Cells) {
        out.u8(kAllMissing);
        return;
    }
    out.bytes().append(rows, static_cast<char>(kMissing));
}

void encodeValues(WireWriter& out, const ColumnValues& values) {
    using Kind = ColumnValues::Kind;
    const size_t rows = values.size();
    out.u8(static_cast<uint8_t>(values.kind()));
    out.u64(rows);
    switch (values.kind()) {
        case Kind::Integer:
            if (encodeMissing(out, values)) encodeNumbers(out, values.integers().data(), rows);
            return;
        case Kind::Real:
            if (encodeMissing(out, values)) encodeNumbers(out, values.reals().data(), rows);
            return;
        case Kind::Text: {
            if (!encodeMissing(out, values)) return;
            const TextDictionary& dictionary = values.dictionary();
            out.u64(dictionary.size());
            for (size_t code = 0; code < dictionary.size(); ++code)
                out.text(dictionary.at(static_cast<uint32_t>(code)));
            encodeNumbers(out, values.codes().data(), rows);
            return;
        }
        case Kind::Cells:
            for (const Cell& cell : values.cells()) {
                if (cell.isMissing()) {
                    out.u8(kMissing);
                } else if (cell.isInteger()) {
                    out.u8(kInteger);
                    out.i64(cell.asInteger());
                } else if (cell.isReal()) {
                    out.u8(kReal);
                    out.f64(cell.asReal());
                } else {
                    out.u8(kText);
                    out.text(cell.asText());
                }
            }
            return;
    }
}

// Appends `rows` numbers read from `bytes`, each missing where `missing`
// (empty: none) says.
template <class Number, class Append>
void decodeNumbers(ColumnValues& values, const char* bytes, size_t rows, const std::vector<uint8_t>& missing,
                   Append append) {
    if (missing.empty()) {
        for (size_t row = 0; row < rows; ++row) append(decodeNumber<Number>(bytes + sizeof(Number) * row));
        return;
    }
    for (size_t row = 0; row < rows; ++row) {
        if (missing[row])
            values.appendMissing();
        else
            append(decodeNumber<Number>(bytes + sizeof(Number) * row));
    }
}

ColumnValues decodeValues(WireReader& in) {
    using Kind = ColumnValues::Kind;
    const uint8_t kind = in.u8();
    if (kind > static_cast<uint8_t>(Kind::Cells)) throw WireError("unknown column kind");
    ColumnValues values(static_cast<Kind>(kind));
    // Every row takes at least a byte, but for a column missing in every
    // row, which takes none: its count is bounded by what a table can hold.
    const size_t rows = in.count(0);
    std::vector<uint8_t> missing;
    if (static_cast<Kind>(kind) != Kind::Cells && !decodeMissing(in, rows, missing)) {
        if (rows > std::numeric_limits<uint32_t>::max()) throw WireError("truncated input");
        values.reserve(rows);
        for (size_t row = 0; row < rows; ++row) values.appendMissing();
        return values;
    }
    if (rows > in.left()) throw WireError("truncated input");
    values.reserve(rows);
    switch (static_cast<Kind>(kind)) {
        case Kind::Integer:
            decodeNumbers<int64_t>(values, in.take(rows * 8).data(), rows, missing,
                                   [&](int64_t value) { values.appendInteger(value); });
            break;
        case Kind::Real:
            decodeNumbers<double>(values, in.take(rows * 8).data(), rows, missing,
                                  [&](double value) { values.appendReal(value); });
            break;
        case Kind::Text: {
            std::vector<std::string_view> dictionary(in.count(8));
            for (std::string_view& text : dictionary)
                text = in.take(static_cast<size_t>(std::min<uint64_t>(in.u64(), std::numeric_limits<size_t>::max())));
            // Each text is looked up in the column's dictionary once, the
            // first time a row uses it, so the codes come out in the order
            // of first use, as appending the texts one by one gives them.
            constexpr uint32_t kUnseen = UINT32_MAX;
            std::vector<uint32_t> own(dictionary.size(), kUnseen);
            decodeNumbers<uint32_t>(values, in.take(rows * 4).data(), rows, missing, [&](uint32_t code) {
                if (code >= dictionary.size()) throw WireError("text code out of range");
                if (own[code] != kUnseen) return values.appendCode(own[code]);
                values.appendText(dictionary[code]);
                own[code] = values.codes().back();
            });
            break;
        }
        case Kind::Cells:
            for (size_t row = 0; row < rows; ++row) {
                switch (in.u8()) {
                    case kMissing: values.append(Cell::missing()); break;
                    case kInteger: values.append(Cell::integer(in.i64())); break;
                    case kReal: values.append(Cell::real(in.f64())); break;
                    case kText: values.append(Cell::text(in.text())); break;
                    default: throw WireError("unknown cell tag");
                }
            }
            break;
    }
    return values;
}

}  // namespace

void WireWriter::u32(uint32_t value) {
    char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    bytes_.append(bytes, sizeof bytes);
}

void WireWriter::f64(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    u64(bits);
}

void WireWriter::text(std::string_view value) {
    u64(value.size());
    bytes_.append(value.data(), value.size());
}

void WireWriter::optionalText(const std::optional<std::string>& value) {
    u8(value ? 1 : 0);
    if (value) text(*value);
}

std::string_view WireReader::take(size_t length) {
    if (length > bytes_.size() - position_) throw WireError("truncated input");
    const std::string_view part = bytes_.substr(position_, length);
    position_ += length;
    return part;
}

uint8_t WireReader::u8() { return static_cast<uint8_t>(take(1)[0]); }

uint32_t WireReader::u32() {
    const std::string_view part = take(4);
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t{static_cast<uint8_t>(part[i])} << (8 * i);
    return value;
}

uint64_t WireReader::u64() {
    const std::string_view part = take(8);
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= uint64_t{static_cast<uint8_t>(part[i])} << (8 * i);
    return value;
}

double WireReader::f64() {
    const uint64_t bits = u64();
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string WireReader::text() {
    const uint64_t length = u64();
    return std::string(take(static_cast<size_t>(std::min<uint64_t>(length, std::numeric_limits<size_t>::max()))));
}

std::optional<std::string> WireReader::optionalText() {
    switch (u8()) {
        case 0: return std::nullopt;
        case 1: return text();
        default: throw WireError("bad optional flag");
    }
}

size_t WireReader::count(size_t itemBytes) {
    const uint64_t value = u64();
    const size_t left = bytes_.size() - position_;
    if (itemBytes != 0 && value > left / itemBytes) throw WireError("truncated input");
    return static_cast<size_t>(value);
}

void WireReader::expectEnd() const {
    if (!atEnd()) throw WireError("trailing bytes after the encoding");
}

void encodeTable(WireWriter& out, const Table& table, const std::vector<bool>& carried) {
    out.u64(table.columnCount());
    for (const Column& column : table.columns()) {
        out.text(column.name);
        out.i64(column.storage);
        out.i64(column.measure);
    }
    for (size_t column = 0; column < table.columnCount(); ++column) {
        if (column < carried.size() && !carried[column])
            encodeMissingColumn(out, table.values(column).kind(), table.rowCount());
        else
            encodeValues(out, table.values(column));
    }
}

Table decodeTable(WireReader& in) {
    std::vector<Column> columns(in.count(24));
    for (Column& column : columns) {
        column.name = in.text();
        column.storage = static_cast<int>(in.i64());
        column.measure = static_cast<int>(in.i64());
    }
    std::vector<ColumnValues> values;
    values.reserve(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) values.push_back(decodeValues(in));
    if (columns.empty()) return Table();
    try {
        return Table(std::move(columns), std::move(values));
    } catch (const std::invalid_argument& error) {
        throw WireError(std::string("inconsistent table: ") + error.what());
    }
}

namespace {

void writeJob(WireWriter& out, const WorkerJob& job, bool withDocuments) {
    out.u32(kJobMagic);
    out.u64(job.groupIndex);
    out.text(job.task);
    // Written as optionalText writes them, without copying the shared text.
    for (const auto* shared : {&job.dataModel, &job.inputPmml, &job.inputStatXml}) {
        const bool written = withDocuments && *shared;
        out.u8(written ? 1 : 0);
        if (written) out.text(**shared);
    }
    // A view's rows go as a copy, whose texts are coded as the group's own.
    if (job.records.isView())
        encodeTable(out, job.records.copy());
    else
        encodeTable(out, job.records.table());
}

}  // namespace

std::string encodeJob(const WorkerJob& job) {
    WireWriter out;
    writeJob(out, job, true);
    return out.take();
}

void encodeJobWithoutDocuments(WireWriter& out, const WorkerJob& job) { writeJob(out, job, false); }

WorkerJob decodeJob(std::string_view bytes) {
    WireReader in(bytes);
    if (in.u32() != kJobMagic) throw WireError("not a job");
    WorkerJob job;
    job.groupIndex = static_cast<size_t>(in.u64());
    job.task = in.text();
    if (auto text = in.optionalText()) job.dataModel = std::make_shared<const std::string>(std::move(*text));
    if (auto text = in.optionalText()) job.inputPmml = std::make_shared<const std::string>(std::move(*text));
    if (auto text = in.optionalText()) job.inputStatXml = std::make_shared<const std::string>(std::move(*text));
    job.records = decodeTable(in);
    in.expectEnd();
    return job;
}

std::string encodeOutput(const WorkerOutput& output) {
    WireWriter out;
    out.u32(kOutputMagic);
    out.i64(output.outcome);
    out.text(output.reason);
    out.text(output.statXml);
    out.text(output.pmml);
    out.text(output.attachment);
    return out.take();
}

WorkerOutput decodeOutput(std::string_view bytes) {
    WireReader in(bytes);
    if (in.u32() != kOutputMagic) throw WireError("not a worker output");
    WorkerOutput output;
    output.outcome = static_cast<int>(in.i64());
    output.reason = in.text();
    output.statXml = in.text();
    output.pmml = in.text();
    output.attachment = in.text();
    in.expectEnd();
    return output;
}

}  // namespace refhost

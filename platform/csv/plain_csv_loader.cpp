#include "plain_csv_loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>
#include <thread>

#include "csv_scan.h"

namespace splitrun {

namespace {

using refhost::ColumnValues;

constexpr std::size_t kBlockBytes = std::size_t{8} << 20;

// An open file, closed on scope exit.
class File {
public:
    explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~File() { if (fd_ >= 0) ::close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool ok() const { return fd_ >= 0; }
    std::size_t size() const
    {
        const off_t end = ::lseek(fd_, 0, SEEK_END);
        return end < 0 ? 0 : static_cast<std::size_t>(end);
    }
    // Reads up to `count` bytes at `offset`; the number read, or -1.
    long read(char* into, std::size_t count, std::size_t offset) const
    {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t got = ::pread(fd_, into + done, count - done, static_cast<off_t>(offset + done));
            if (got < 0) return -1;
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        return static_cast<long>(done);
    }

private:
    int fd_;
};

struct Header {
    std::vector<std::string> names;
    std::size_t dataStart = 0;   // offset of the first record
};

std::optional<Header> plainHeader(const File& file, std::size_t maxBytes, char delimiter)
{
    std::string text;
    std::size_t offset = 0;
    const char* newline = nullptr;
    for (;;) {
        const std::size_t before = text.size();
        text.resize(before + 65536);
        const long got = file.read(text.data() + before, 65536, offset);
        if (got < 0) return std::nullopt;
        text.resize(before + static_cast<std::size_t>(got));
        offset += static_cast<std::size_t>(got);
        newline = static_cast<const char*>(std::memchr(text.data(), '\n', text.size()));
        if (newline != nullptr || got == 0) break;
        if (text.size() > maxBytes) return std::nullopt;
    }
    Header header;
    std::size_t start = 0;
    if (!text.empty() && static_cast<unsigned char>(text[0]) == 0xEF) {
        if (text.compare(0, 3, "\xEF\xBB\xBF") != 0) return std::nullopt;
        start = 3;
    }
    std::size_t end = newline != nullptr ? static_cast<std::size_t>(newline - text.data()) : text.size();
    header.dataStart = newline != nullptr ? end + 1 : end;
    if (end > start && text[end - 1] == '\r') --end;
    const std::string_view line(text.data() + start, end - start);
    if (line.empty() || line.find_first_of("\"\r") != std::string_view::npos) return std::nullopt;
    std::set<std::string_view> seen;
    for (std::size_t from = 0;;) {
        const std::size_t comma = std::min(line.find(delimiter, from), line.size());
        const std::string_view name = line.substr(from, comma - from);
        if (name.empty() || !seen.insert(name).second) return std::nullopt;
        header.names.emplace_back(name);
        if (comma == line.size()) break;
        from = comma + 1;
    }
    return header;
}

// One column of one part of the file while it is read.
struct ColumnState {
    Storage storage = Storage::None;   // None: no present value yet
    bool fixed = false;                // storage given, not inferred
    std::size_t pendingMissing = 0;    // missing values before the storage was known
    ColumnValues values;
    uint32_t lastCode = 0;
    bool hasLast = false;

    void settle(Storage chosen, std::size_t reserveRows)
    {
        storage = chosen;
        values = ColumnValues(ColumnValues::kindFor(static_cast<int>(chosen)));
        values.reserve(reserveRows);
        for (; pendingMissing > 0; --pendingMissing) values.appendMissing();
    }

    static Storage infer(std::string_view text)
    {
        if (parseInteger(text)) return Storage::Integer;
        if (parseReal(text)) return Storage::Real;
        if (parseDate(text)) return Storage::Date;
        if (parseTime(text)) return Storage::Time;
        if (parseTimestamp(text)) return Storage::Timestamp;
        return Storage::String;
    }

    // False when the text does not fit the column's storage (and an
    // inferred storage cannot simply widen from integer to real).
    bool take(std::string_view text, std::size_t reserveRows)
    {
        if (text.empty()) {
            if (storage == Storage::None) ++pendingMissing;
            else values.appendMissing();
            return true;
        }
        if (storage == Storage::None) settle(infer(text), reserveRows);
        switch (storage) {
        case Storage::Integer:
            if (const auto v = parseInteger(text)) {
                values.appendInteger(*v);
                return true;
            }
            if (fixed) return false;
            if (const auto v = parseReal(text)) {
                values.integersToReals();
                storage = Storage::Real;
                values.appendReal(*v);
                return true;
            }
            return false;
        case Storage::Real:
            if (const auto v = parseReal(text)) {
                values.appendReal(*v);
                return true;
            }
            return false;
        case Storage::String:
            // Split and category fields repeat, often in runs.
            if (!(hasLast && values.dictionary().at(lastCode) == text)) {
                values.appendText(text);
                lastCode = values.codes().back();
                hasLast = true;
            } else {
                values.appendCode(lastCode);
            }
            return true;
        default:
            if (const auto v = parseNumber(storage, text)) {
                values.appendReal(*v);
                return true;
            }
            return false;
        }
    }
};

enum class Verdict { Loaded, FullReader, Reread };

// Lines and fields are found by the scanner the block reader uses too, so
// that both split a plain line alike; what it declines goes to the full reader.
using csvscan::findDelimiter;

// One range of columns of every record: each part reads the whole file and
// keeps the fields [firstColumn, endColumn) of each line. Parts of disjoint
// columns write disjoint memory, so they run side by side and their columns
// need no joining afterwards.
struct Part {
    const CsvFormat* format = nullptr;
    bool numericTokens = false;         // a missing-value token reads as a number
    std::vector<ColumnState> columns;   // one per field; only the part's own are used
    std::size_t firstColumn = 0;
    std::size_t endColumn = 0;
    std::size_t rows = 0;
    std::size_t reserveRows = 0;
    Verdict verdict = Verdict::Loaded;
    std::vector<std::size_t> needText;   // inferred columns that met a value of another kind

    bool line(const char* p, const char* end)
    {
        const std::size_t fields = columns.size();
        // Fields before the part's own are only stepped over.
        for (std::size_t column = 0; column < firstColumn; ++column) {
            const char* comma = findDelimiter(p, end, format->delimiter);
            if (comma == nullptr) return fail(Verdict::FullReader);
            p = comma + 1;
        }
        for (std::size_t column = firstColumn;; ++column) {
            if (column == fields) return fail(Verdict::FullReader);
            ColumnState& state = columns[column];
            // A real column reads its number straight off the line, which
            // also finds the field's end; anything but a plain decimal
            // followed by a comma or the line end takes the general way.
            // An integer column does the same with short integers.
            if (!numericTokens) {
                const char* stop = nullptr;
                bool read = false;
                if (state.storage == Storage::Real) {
                    double value = 0;
                    read = readDecimalPrefix(p, end, &value, &stop) &&
                           (stop == end || *stop == format->delimiter);
                    if (read) state.values.appendReal(value);
                } else if (state.storage == Storage::Integer) {
                    std::int64_t value = 0;
                    read = readIntegerPrefix(p, end, &value, &stop) &&
                           (stop == end || *stop == format->delimiter);
                    if (read) state.values.appendInteger(value);
                }
                if (read) {
                    if (stop == end) {
                        if (column + 1 != fields) return fail(Verdict::FullReader);
                        break;
                    }
                    if (column + 1 == endColumn && endColumn < fields) break;
                    p = stop + 1;
                    continue;
                }
            }
            const char* comma = findDelimiter(p, end, format->delimiter);
            const char* fieldEnd = comma != nullptr ? comma : end;
            std::string_view text(p, static_cast<std::size_t>(fieldEnd - p));
            if (format->isMissingToken(text)) text = {};
            if (!state.take(text, reserveRows)) {
                if (state.fixed) return fail(Verdict::FullReader);
                needText.push_back(column);
                return fail(Verdict::Reread);
            }
            if (comma == nullptr) {
                if (column + 1 != fields) return fail(Verdict::FullReader);
                break;
            }
            // The last field of a part that is not the last: the line must go on.
            if (column + 1 == endColumn && endColumn < fields) break;
            p = comma + 1;
        }
        ++rows;
        return true;
    }

    bool fail(Verdict why)
    {
        verdict = why;
        return false;
    }

    // Parses the complete lines of data[0, size); returns how many bytes
    // were consumed (a last line without a line end only when `final`).
    std::size_t block(const char* data, std::size_t size, bool final)
    {
        // A quote anywhere needs the full reader's quoting rules.
        if (std::memchr(data, '"', size) != nullptr) {
            fail(Verdict::FullReader);
            return 0;
        }
        const bool carriageReturns = std::memchr(data, '\r', size) != nullptr;
        const char* p = data;
        const char* stop = data + size;
        while (p < stop) {
            const char* lineEnd = nullptr;
            const char* next = nullptr;
            const csvscan::LineScan scan = csvscan::scanLine(p, stop, carriageReturns, &lineEnd, &next);
            if (scan == csvscan::LineScan::Irregular) {
                fail(Verdict::FullReader);
                return 0;
            }
            if (scan == csvscan::LineScan::Incomplete) {
                if (!final) break;
                // The last line of the file, without a line end.
                lineEnd = stop;
                next = stop;
                if (carriageReturns && std::memchr(p, '\r', static_cast<std::size_t>(stop - p)) != nullptr) {
                    fail(Verdict::FullReader);
                    return 0;
                }
            }
            // Blank lines have rules of their own; the full reader reports
            // lines over the limit.
            if (lineEnd == p || static_cast<std::size_t>(lineEnd - p) > format->maxFieldSize ||
                !line(p, lineEnd)) {
                if (verdict == Verdict::Loaded) fail(Verdict::FullReader);
                return 0;
            }
            p = next;
        }
        return static_cast<std::size_t>(p - data);
    }

    // Reads [begin, end); columns reserve room for the records of
    // `reserveBytes` bytes of the file, judged by the first block.
    void read(const File& file, std::size_t begin, std::size_t end, std::size_t reserveBytes)
    {
        std::vector<char> buffer(std::min(kBlockBytes, end - begin + 1));
        std::size_t carry = 0;
        std::size_t offset = begin;
        bool first = true;
        while (verdict == Verdict::Loaded) {
            if (carry == buffer.size()) {   // a very long line
                if (buffer.size() > format->maxFieldSize) {
                    fail(Verdict::FullReader);
                    return;
                }
                buffer.resize(buffer.size() * 2);
            }
            const std::size_t want = std::min(buffer.size() - carry, end - offset);
            const long got = file.read(buffer.data() + carry, want, offset);
            if (got < 0 || static_cast<std::size_t>(got) != want) {
                fail(Verdict::FullReader);   // the full reader reports what went wrong
                return;
            }
            offset += want;
            const bool final = offset == end;
            const std::size_t size = carry + want;
            const std::size_t used = block(buffer.data(), size, final);
            if (verdict != Verdict::Loaded) return;
            if (first && rows > 0) {
                // Room for the whole range at the first block's line length.
                reserveRows = reserveBytes / std::max<std::size_t>(used / rows, 1) + 1024;
                reserveRows += reserveRows / 16;
                for (ColumnState& state : columns)
                    if (state.storage != Storage::None) state.values.reserve(reserveRows);
                first = false;
            }
            carry = size - used;
            if (final) {
                if (carry != 0) fail(Verdict::FullReader);
                return;
            }
            std::memmove(buffer.data(), buffer.data() + used, carry);
        }
    }
};

// The columns of each part: contiguous ranges of about equal cost, judged
// by the width of each field in the first record (plus a little for every
// field, since each costs a lookup for its end).
std::vector<std::size_t> columnCuts(const File& file, std::size_t begin, std::size_t end, std::size_t fields,
                                    std::size_t parts, char delimiter)
{
    std::vector<double> cost(fields, 1.0);
    char window[65536];
    const long got = file.read(window, std::min(sizeof window, end - begin), begin);
    if (got > 0) {
        const std::string_view text(window, static_cast<std::size_t>(got));
        const std::string_view line = text.substr(0, text.find('\n'));
        std::size_t from = 0;
        for (std::size_t c = 0; c < fields && from <= line.size(); ++c) {
            const std::size_t comma = std::min(line.find(delimiter, from), line.size());
            cost[c] = 4.0 + static_cast<double>(comma - from);
            from = comma + 1;
        }
    }
    double total = 0;
    for (double c : cost) total += c;
    std::vector<std::size_t> cuts{0};
    double sum = 0;
    for (std::size_t c = 0; c < fields && cuts.size() < parts; ++c) {
        sum += cost[c];
        // Cut after this column once the parts so far have their share, and
        // leave at least one column for every part still to come.
        const std::size_t remainingParts = parts - cuts.size();
        if ((sum >= total * static_cast<double>(cuts.size()) / static_cast<double>(parts) &&
             fields - (c + 1) >= remainingParts) ||
            fields - (c + 1) == remainingParts)
            cuts.push_back(c + 1);
    }
    cuts.push_back(fields);
    return cuts;
}

}  // namespace

std::optional<std::vector<std::string>> readPlainHeader(const std::string& path, const CsvFormat& format)
{
    File file(path);
    if (!file.ok()) return std::nullopt;
    auto header = plainHeader(file, format.maxFieldSize, format.delimiter);
    if (!header) return std::nullopt;
    return header->names;
}

std::optional<PlainCsv> loadPlainCsv(const std::string& path, const std::vector<Storage>& given,
                                     std::size_t threads, const CsvFormat& format)
{
    if (format.decimal != '.' || format.latin1) return std::nullopt;
    File file(path);
    if (!file.ok()) return std::nullopt;
    const auto header = plainHeader(file, format.maxFieldSize, format.delimiter);
    if (!header) return std::nullopt;
    const std::size_t fields = header->names.size();
    if (!given.empty() && given.size() != fields) return std::nullopt;
    const std::size_t size = file.size();
    const std::size_t begin = std::min(header->dataStart, size);
    // Small files are not worth a second thread, and no part has fewer than
    // one column.
    if (size - begin < (std::size_t{1} << 20)) threads = 1;
    const std::vector<std::size_t> cuts =
        columnCuts(file, begin, size, fields, std::clamp<std::size_t>(threads, 1, fields), format.delimiter);

    // Columns whose inferred storage met a value of another kind are read
    // again as text; each round fixes at least one more column.
    std::vector<bool> asText(fields, false);
    for (;;) {
        std::vector<Part> parts(cuts.size() - 1);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            Part& part = parts[i];
            part.format = &format;
            for (const std::string& token : format.naValues) part.numericTokens |= parseReal(token).has_value();
            part.firstColumn = cuts[i];
            part.endColumn = cuts[i + 1];
            part.columns.resize(fields);
            for (std::size_t c = part.firstColumn; c < part.endColumn; ++c) {
                ColumnState& state = part.columns[c];
                if (!given.empty() && given[c] != Storage::None) state.fixed = true, state.settle(given[c], 0);
                else if (asText[c]) state.fixed = true, state.settle(Storage::String, 0);
            }
        }
        {
            std::vector<std::thread> helpers;
            for (std::size_t i = 1; i < parts.size(); ++i)
                helpers.emplace_back([&, i] { parts[i].read(file, begin, size, size - begin); });
            parts[0].read(file, begin, size, size - begin);
            for (std::thread& helper : helpers) helper.join();
        }
        bool reread = false;
        for (const Part& part : parts) {
            if (part.verdict == Verdict::FullReader) return std::nullopt;
            if (part.verdict == Verdict::Reread) {
                for (std::size_t c : part.needText) asText[c] = true;
                reread = true;
            }
        }
        if (reread) continue;
        // Every part saw every line; a part that stopped early said so above.
        for (const Part& part : parts)
            if (part.rows != parts[0].rows) return std::nullopt;

        PlainCsv result;
        result.header = header->names;
        for (Part& part : parts) {
            for (std::size_t c = part.firstColumn; c < part.endColumn; ++c) {
                ColumnState& state = part.columns[c];
                // A column of missing values only is text.
                if (state.storage == Storage::None) state.settle(Storage::String, 0);
                result.storages.push_back(state.storage);
                result.values.push_back(std::move(state.values));
            }
        }
        return result;
    }
}

}  // namespace splitrun

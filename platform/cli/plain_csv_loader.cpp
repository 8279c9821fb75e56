#include "plain_csv_loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <string_view>
#include <thread>

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

std::optional<Header> plainHeader(const File& file)
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
        const std::size_t comma = std::min(line.find(',', from), line.size());
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

// The records of one byte range of the file, which starts at a line start.
struct Part {
    std::vector<ColumnState> columns;
    std::size_t rows = 0;
    std::size_t reserveRows = 0;
    Verdict verdict = Verdict::Loaded;
    std::vector<std::size_t> needText;   // inferred columns that met a value of another kind

    bool line(const char* p, const char* end)
    {
        const std::size_t fields = columns.size();
        std::size_t column = 0;
        for (;;) {
            const char* comma = static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(end - p)));
            const char* fieldEnd = comma != nullptr ? comma : end;
            if (column == fields) return fail(Verdict::FullReader);
            ColumnState& state = columns[column];
            if (!state.take(std::string_view(p, static_cast<std::size_t>(fieldEnd - p)), reserveRows)) {
                if (state.fixed) return fail(Verdict::FullReader);
                needText.push_back(column);
                return fail(Verdict::Reread);
            }
            ++column;
            if (comma == nullptr) break;
            p = comma + 1;
        }
        if (column != fields) return fail(Verdict::FullReader);
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
            const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(stop - p)));
            if (newline == nullptr && !final) break;
            const char* lineEnd = newline != nullptr ? newline : stop;
            if (carriageReturns) {
                if (lineEnd > p && lineEnd[-1] == '\r') --lineEnd;
                if (std::memchr(p, '\r', static_cast<std::size_t>(lineEnd - p)) != nullptr) {
                    fail(Verdict::FullReader);
                    return 0;
                }
            }
            // Blank lines have rules of their own.
            if (lineEnd == p || !line(p, lineEnd)) {
                if (verdict == Verdict::Loaded) fail(Verdict::FullReader);
                return 0;
            }
            p = newline != nullptr ? newline + 1 : stop;
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
            if (carry == buffer.size()) buffer.resize(buffer.size() * 2);   // a very long line
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

// Where each part of the file starts: at the line start after every
// threads-th of the data.
std::vector<std::size_t> cutPoints(const File& file, std::size_t begin, std::size_t end, std::size_t threads)
{
    std::vector<std::size_t> cuts{begin};
    char window[65536];
    for (std::size_t i = 1; i < threads; ++i) {
        std::size_t at = std::max(begin + (end - begin) * i / threads, cuts.back());
        std::size_t cut = end;
        while (at < end) {
            const long got = file.read(window, std::min(sizeof window, end - at), at);
            if (got <= 0) break;
            if (const void* nl = std::memchr(window, '\n', static_cast<std::size_t>(got))) {
                cut = at + static_cast<std::size_t>(static_cast<const char*>(nl) - window) + 1;
                break;
            }
            at += static_cast<std::size_t>(got);
        }
        cuts.push_back(cut);
    }
    cuts.push_back(end);
    return cuts;
}

// The storage of a column read in parts: their common storage, real for
// integers and reals; None when the parts disagree otherwise.
std::optional<Storage> joinStorages(const std::vector<Part>& parts, std::size_t column)
{
    Storage joined = Storage::None;
    for (const Part& part : parts) {
        const Storage s = part.columns[column].storage;
        if (s == Storage::None || s == joined) continue;
        if (joined == Storage::None) joined = s;
        else if ((joined == Storage::Integer && s == Storage::Real) ||
                 (joined == Storage::Real && s == Storage::Integer))
            joined = Storage::Real;
        else
            return std::nullopt;
    }
    return joined == Storage::None ? Storage::String : joined;
}

}  // namespace

std::optional<std::vector<std::string>> readPlainHeader(const std::string& path)
{
    File file(path);
    if (!file.ok()) return std::nullopt;
    auto header = plainHeader(file);
    if (!header) return std::nullopt;
    return header->names;
}

std::optional<PlainCsv> loadPlainCsv(const std::string& path, const std::vector<Storage>& given,
                                     std::size_t threads)
{
    File file(path);
    if (!file.ok()) return std::nullopt;
    const auto header = plainHeader(file);
    if (!header) return std::nullopt;
    const std::size_t fields = header->names.size();
    if (!given.empty() && given.size() != fields) return std::nullopt;
    const std::size_t size = file.size();
    const std::size_t begin = std::min(header->dataStart, size);
    // Small files are not worth a second thread.
    if (size - begin < (std::size_t{1} << 20)) threads = 1;
    const std::vector<std::size_t> cuts = cutPoints(file, begin, size, std::max<std::size_t>(threads, 1));

    // Columns whose inferred storage met a value of another kind are read
    // again as text; each round fixes at least one more column.
    std::vector<bool> asText(fields, false);
    for (;;) {
        std::vector<Part> parts(cuts.size() - 1);
        for (Part& part : parts) {
            part.columns.resize(fields);
            for (std::size_t c = 0; c < fields; ++c) {
                ColumnState& state = part.columns[c];
                if (!given.empty()) state.fixed = true, state.settle(given[c], 0);
                else if (asText[c]) state.fixed = true, state.settle(Storage::String, 0);
            }
        }
        {
            std::vector<std::thread> helpers;
            for (std::size_t i = 1; i < parts.size(); ++i)
                helpers.emplace_back([&, i] { parts[i].read(file, cuts[i], cuts[i + 1], cuts[i + 1] - cuts[i]); });
            // The first part's columns get room for every record: the other
            // parts are appended to them without moving them.
            parts[0].read(file, cuts[0], cuts[1], size - begin);
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

        PlainCsv result;
        result.header = header->names;
        for (std::size_t c = 0; c < fields; ++c) {
            const std::optional<Storage> storage = joinStorages(parts, c);
            if (!storage) {
                asText[c] = true;
                reread = true;
                continue;
            }
            result.storages.push_back(*storage);
        }
        if (reread) continue;

        std::size_t rows = 0;
        for (const Part& part : parts) rows += part.rows;
        // Joining copies every part after the first into the first's
        // columns; the columns are independent, so the threads share them.
        result.values.resize(fields);
        auto join = [&](std::size_t c) {
            const Storage storage = result.storages[c];
            for (Part& part : parts) {
                ColumnState& state = part.columns[c];
                if (state.storage == Storage::None) state.settle(storage, 0);
                if (storage == Storage::Real) state.values.integersToReals();
            }
            ColumnValues joined = std::move(parts[0].columns[c].values);
            if (parts.size() > 1) joined.reserve(rows);
            for (std::size_t i = 1; i < parts.size(); ++i) {
                joined.appendAll(parts[i].columns[c].values);
                parts[i].columns[c].values = ColumnValues();
            }
            result.values[c] = std::move(joined);
        };
        std::atomic<std::size_t> nextColumn{0};
        auto joinSome = [&] {
            for (std::size_t c = nextColumn++; c < fields; c = nextColumn++) join(c);
        };
        {
            std::vector<std::thread> helpers;
            for (std::size_t i = 1; i < parts.size(); ++i) helpers.emplace_back(joinSome);
            joinSome();
            for (std::thread& helper : helpers) helper.join();
        }
        return result;
    }
}

}  // namespace splitrun

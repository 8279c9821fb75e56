#include "plain_csv_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>
#include <string_view>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "byte_masks.h"
#include "column_prefault.h"
#include "csv_scan.h"
#include "decimal_words.h"
#include "stream_chunks.h"

namespace splitrun {

namespace {

using refhost::ColumnValues;

// An open file, read by offset only; closed on scope exit when opened here.
class File {
public:
    explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), owned_(true) {}
    // A descriptor someone else holds open.
    explicit File(int descriptor) : fd_(descriptor), owned_(false) {}
    ~File() { if (owned_ && fd_ >= 0) ::close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool ok() const { return fd_ >= 0; }
    std::size_t size() const
    {
        struct stat info {};
        return ::fstat(fd_, &info) != 0 || info.st_size < 0 ? 0 : static_cast<std::size_t>(info.st_size);
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
    bool owned_;
};

struct Header {
    std::vector<std::string> names;
    std::size_t dataStart = 0;   // offset of the first record
};

// The header at the start of the bytes `read(into, count, offset)` gives
// (the number read, or -1 when reading failed).
template <class Read>
std::optional<Header> headerOf(Read&& read, std::size_t maxBytes, char delimiter)
{
    std::string text;
    std::size_t offset = 0;
    const char* newline = nullptr;
    for (;;) {
        const std::size_t before = text.size();
        text.resize(before + 65536);
        const long got = read(text.data() + before, 65536, offset);
        if (got < 0) return std::nullopt;
        text.resize(before + static_cast<std::size_t>(got));
        offset += static_cast<std::size_t>(got);
        newline = static_cast<const char*>(std::memchr(text.data(), '\n', text.size()));
        // A zero byte in the header is no text: binary input goes to the
        // block reader, which refuses it, rather than being read here up
        // to maxBytes.
        const char* headerEnd = newline != nullptr ? newline : text.data() + text.size();
        if (std::memchr(text.data() + before, '\0', static_cast<std::size_t>(headerEnd - (text.data() + before))))
            return std::nullopt;
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
    // A header over the line limit is the full reader's to report.
    if (line.empty() || line.size() > maxBytes || line.find('\r') != std::string_view::npos) return std::nullopt;
    std::set<std::string_view> seen;
    for (std::size_t from = 0;;) {
        // A name in quotes (as R writes every name) is the text inside them,
        // when no quote is within; anything else quoted is the full reader's.
        std::size_t comma = 0;
        std::string_view name;
        if (line[from] == '"') {
            const std::size_t close = line.find('"', from + 1);
            if (close == std::string_view::npos) return std::nullopt;
            comma = close + 1;
            if (comma != line.size() && line[comma] != delimiter) return std::nullopt;
            name = line.substr(from + 1, close - from - 1);
        } else {
            comma = std::min(line.find(delimiter, from), line.size());
            name = line.substr(from, comma - from);
            if (name.find('"') != std::string_view::npos) return std::nullopt;
        }
        if (name.empty() || !seen.insert(name).second) return std::nullopt;
        header.names.emplace_back(name);
        if (comma == line.size()) break;
        from = comma + 1;
        if (from == line.size()) return std::nullopt;   // an empty last name
    }
    return header;
}

std::optional<Header> plainHeader(const File& file, std::size_t maxBytes, char delimiter)
{
    const auto read = [&file](char* into, std::size_t count, std::size_t offset) {
        return file.read(into, count, offset);
    };
    return headerOf(read, maxBytes, delimiter);
}

// Gives the reals at `rows` (in order), integers "-0" made reals, the sign
// "-0" has when read as a real, as the full reader reads it; clears `rows`.
[[gnu::noinline]] void signNegativeZeros(ColumnValues& reals, std::vector<std::size_t>& rows)
{
    if (rows.empty()) return;
    ColumnValues withSigns(ColumnValues::Kind::Real);
    withSigns.reserve(reals.size());
    for (std::size_t row = 0, next = 0; row < reals.size(); ++row) {
        if (reals.isMissing(row)) {
            withSigns.appendMissing();
        } else if (next < rows.size() && rows[next] == row) {
            withSigns.appendReal(-0.0);
            ++next;
        } else {
            withSigns.appendReal(reals.reals()[row]);
        }
    }
    reals = std::move(withSigns);
    rows.clear();
}

// One column of one chunk of the file while it is read.
struct ColumnState {
    Storage storage = Storage::None;   // None: no present value yet
    Storage first = Storage::None;     // the storage the chunk's first present value chose
    bool fixed = false;                // storage given, not inferred
    bool skipped = false;              // a field the reader does not want: stepped over
    std::vector<std::size_t> negativeZeros;   // rows where an integer column read "-0"
    std::size_t pendingMissing = 0;    // missing values before the storage was known
    ColumnValues values;
    uint32_t lastCode = 0;
    bool hasLast = false;
    bool repeated = false;        // the last text taken was the one before it again
    // The last text repeated from an unquoted field: it holds no delimiter
    // or quote and is no missing-value token, so the same bytes unquoted
    // are that text again. Set while a run of one text goes on, so that a
    // column whose texts seldom repeat does not pay for the comparison.
    bool lastPlain = false;
    std::uint64_t lastWord = 0;   // the last text's first 8 bytes, zero-padded
    std::size_t lastSize = 0;     // and its length

    void settle(Storage chosen, std::size_t reserveRows)
    {
        storage = chosen;
        if (first == Storage::None) first = chosen;
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

    [[gnu::always_inline]] void appendInteger(std::int64_t value, const char* text)
    {
        if (value == 0 && *text == '-') negativeZeros.push_back(values.size());
        values.appendInteger(value);
    }

    // False when the text does not fit the column's storage (and an
    // inferred storage cannot simply widen from integer to real).
    bool take(std::string_view text, std::size_t reserveRows)
    {
        if (skipped) return true;
        if (text.empty()) {
            if (storage == Storage::None) ++pendingMissing;
            else values.appendMissing();
            return true;
        }
        if (storage == Storage::None) settle(infer(text), reserveRows);
        switch (storage) {
        case Storage::Integer:
            if (const auto v = parseInteger(text)) {
                appendInteger(*v, text.data());
                return true;
            }
            if (fixed) return false;
            if (const auto v = parseReal(text)) {
                widen();
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
            // Split and category fields repeat, often in runs: a repeat
            // lets the line loop compare the next fields in place.
            values.appendText(text);
            repeated = hasLast && values.codes().back() == lastCode;
            lastCode = values.codes().back();
            hasLast = true;
            return true;
        default:
            if (const auto v = parseNumber(storage, text)) {
                values.appendReal(*v);
                return true;
            }
            return false;
        }
    }

    // Integers read so far become reals (a column found to hold reals);
    // those that read "-0" keep the sign the real "-0" has.
    void widen()
    {
        values.integersToReals();
        signNegativeZeros(values, negativeZeros);
        storage = Storage::Real;
    }
};

enum class Verdict { Loaded, FullReader, Reread };

// Lines and fields are found by the scanner the block reader uses too, so
// that both split a plain line alike; what it declines goes to the full reader.
using csvscan::findDelimiter;

// The settings every chunk is read with.
struct ChunkRules {
    const CsvFormat* format = nullptr;
    bool numericTokens = false;            // a missing-value token reads as a number
    bool decimalComma = false;             // the format's decimal mark is a comma
    std::vector<Storage> given;            // per field: a storage values must read as, or None
    std::vector<Storage> start;            // per field: a storage to start from (not fixed), or None
    std::vector<bool> skipped;             // per field: not wanted (empty: every field is)
};

// The records of one chunk of the file: the lines that start within its
// byte range, parsed into columns of the chunk's own.
struct Chunk {
    std::vector<ColumnState> columns;
    std::size_t rows = 0;
    std::size_t reserveRows = 0;
    Verdict verdict = Verdict::Loaded;
    std::vector<std::size_t> needText;   // inferred columns that met a value of another kind
    bool quotes = false;                 // the bytes being parsed hold a quote somewhere
    std::string pointText;               // a field's text with its decimal comma made a point

    explicit Chunk(const ChunkRules& rules, std::size_t expectedRows) : reserveRows(expectedRows)
    {
        columns.resize(rules.given.size());
        for (std::size_t c = 0; c < columns.size(); ++c) {
            ColumnState& state = columns[c];
            if (!rules.skipped.empty() && rules.skipped[c]) state.skipped = true;
            else if (rules.given[c] != Storage::None) state.fixed = true, state.settle(rules.given[c], expectedRows);
            else if (rules.start[c] != Storage::None) state.settle(rules.start[c], expectedRows);
        }
    }

    bool fail(Verdict why)
    {
        verdict = why;
        return false;
    }

    // Reads the line [p, end); the bytes up to `readable` may be looked at
    // (the buffer goes on past the line), which lets numbers be read a word
    // at a time.
    bool line(const ChunkRules& rules, const char* p, const char* end, const char* readable)
    {
        const char delimiter = rules.format->delimiter;
        const bool numbersInline = !rules.numericTokens;
        // A decimal comma is read as a point by the inline reader of reals
        // (a point still is one, as the full reader reads "3.25" with
        // either mark); other fields are given the point before they are taken.
        const char point = rules.decimalComma ? ',' : '.';
        // The columns are walked by pointer: a field past the last is a
        // ragged row, and a line that ends before the last column is one too.
        ColumnState* const last = columns.data() + columns.size() - 1;
        for (ColumnState* column = columns.data();; ++column) {
            if (column > last) return fail(Verdict::FullReader);
            ColumnState& state = *column;
            // A real column reads its number straight off the line, which
            // also finds the field's end; anything but a plain decimal
            // followed by a delimiter or the line end takes the general way.
            // An integer column does the same with short integers.
            if (numbersInline) {
                const char* stop = nullptr;
                bool read = false;
                if (state.storage == Storage::Real) {
                    // A number stops at the line's end (a CR or LF), so it
                    // may be read from bytes beyond it. A short decimal then
                    // the delimiter, most fields of most files, goes straight
                    // on to the next field: it stopped within the bytes it
                    // read, so short of a line's end, whose bytes are never
                    // the delimiter. (Variables of its own keep its value
                    // and end in registers rather than behind the
                    // fallback's pointers.)
                    double quick = 0;
                    const char* quickStop = nullptr;
                    if (readable - p >= 17 && decimalwords::readShortDecimal(p, &quick, &quickStop, point)) {
                        if (*quickStop == delimiter) {
                            state.values.appendReal(quick);
                            p = quickStop + 1;
                            continue;
                        }
                        stop = quickStop;
                        read = stop == end;
                        if (read) state.values.appendReal(quick);
                    } else {
                        double value = 0;
                        read = readDecimalPrefix(p, end, &value, &stop) && (stop == end || *stop == delimiter);
                        if (read) state.values.appendReal(value);
                    }
                } else if (state.storage == Storage::Integer) {
                    // The same for a short integer.
                    std::int64_t quick = 0;
                    const char* quickStop = nullptr;
                    if (readable - p >= 9 && decimalwords::readShortInteger(p, &quick, &quickStop)) {
                        if (*quickStop == delimiter) {
                            state.appendInteger(quick, p);
                            p = quickStop + 1;
                            continue;
                        }
                        stop = quickStop;
                        read = stop == end;
                        if (read) state.appendInteger(quick, p);
                    } else {
                        std::int64_t value = 0;
                        read = readIntegerPrefix(p, end, &value, &stop) && (stop == end || *stop == delimiter);
                        if (read) state.appendInteger(value, p);
                    }
                }
                if (read) {
                    if (stop == end) {
                        if (column != last) return fail(Verdict::FullReader);
                        break;
                    }
                    p = stop + 1;
                    continue;
                }
            }
            const char* comma = nullptr;
            std::string_view text;
            bool plain = false;
            if (state.lastPlain) {
                // Split and category fields come in runs, in grouped files
                // most of all: the run's text is compared in place, without
                // finding the field's end first.
                if (repeatsLast(state, p, end, readable, delimiter, &comma)) {
                    state.values.appendCode(state.lastCode);
                    if (comma == nullptr) {
                        if (column != last) return fail(Verdict::FullReader);
                        break;
                    }
                    p = comma + 1;
                    continue;
                }
                state.lastPlain = false;
            }
            if (quotes && p != end && *p == '"') {
                if (!quotedField(p, end, delimiter, &text, &comma)) return fail(Verdict::FullReader);
            } else {
                plain = true;
                comma = fieldEnd(p, end, readable, delimiter);
                const char* fieldEnd = comma != nullptr ? comma : end;
                text = std::string_view(p, static_cast<std::size_t>(fieldEnd - p));
                // A quote inside an unquoted field is an error the full reader describes.
                if (quotes && text.find('"') != std::string_view::npos) return fail(Verdict::FullReader);
                if (rules.format->isMissingToken(text)) text = {};
            }
            if (rules.decimalComma && !text.empty() && givePoint(text)) plain = false;   // no longer the line's bytes
            if (!state.take(text, reserveRows)) {
                if (state.fixed) return fail(Verdict::FullReader);
                needText.push_back(static_cast<std::size_t>(column - columns.data()));
                return fail(Verdict::Reread);
            }
            if (plain && state.repeated && state.storage == Storage::String && !text.empty()) {
                state.lastPlain = true;
                state.lastSize = text.size();
                state.lastWord = wordOf(text, readable);
            }
            if (comma == nullptr) {
                if (column != last) return fail(Verdict::FullReader);
                break;
            }
            p = comma + 1;
        }
        ++rows;
        return true;
    }

    // Makes a number's decimal comma a point: true when `text` became the
    // chunk's copy with the point. Out of line, so that the line loop stays
    // small enough for its appends to be inlined.
    [[gnu::noinline]] bool givePoint(std::string_view& text)
    {
        const std::size_t at = decimalCommaAt(text);
        if (at == std::string_view::npos) return false;
        pointText.assign(text);
        pointText[at] = '.';
        text = pointText;
        return true;
    }

    // True when the field at p is the column's last text, unquoted: its
    // bytes followed by the delimiter (*comma set to it) or the line's end
    // (*comma null). A text of up to 8 bytes is compared as one word (its
    // first byte the word's lowest) when the bytes up to `readable` allow it.
    static bool repeatsLast(const ColumnState& state, const char* p, const char* end, const char* readable,
                            char delimiter, const char** comma)
    {
        const std::size_t size = state.lastSize;
        const auto room = static_cast<std::size_t>(end - p);
        if (room < size) return false;
        if (std::endian::native == std::endian::little && size <= 8 && readable - p >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, 8);
            const std::uint64_t mask = size == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * size)) - 1;
            if (((word ^ state.lastWord) & mask) != 0) return false;
        } else if (std::memcmp(p, state.values.dictionary().at(state.lastCode).data(), size) != 0) {
            return false;
        }
        if (room == size) {
            *comma = nullptr;
            return true;
        }
        if (p[size] != delimiter) return false;
        *comma = p + size;
        return true;
    }

    // The delimiter that ends the field at p within the line [p, end), or
    // null; the 16 bytes from p are compared in one step where the bytes up
    // to `readable` allow it, since most fields are shorter.
    static const char* fieldEnd(const char* p, const char* end, const char* readable, char delimiter)
    {
#if defined(__SSE2__)
        if (readable - p >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const auto hits =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(delimiter))));
            if (hits != 0) {
                const char* const first = p + __builtin_ctz(hits);
                return first < end ? first : nullptr;
            }
            return end - p <= 16 ? nullptr : findDelimiter(p + 16, end, delimiter);
        }
#else
        (void)readable;
#endif
        return findDelimiter(p, end, delimiter);
    }

    // The first 8 bytes of text, zero-padded; read as one word when the
    // bytes up to `readable` allow it.
    static std::uint64_t wordOf(std::string_view text, const char* readable)
    {
        std::uint64_t word = 0;
        if (readable - text.data() >= 8) {
            std::memcpy(&word, text.data(), 8);
            if (text.size() < 8) word &= (std::uint64_t{1} << (8 * text.size())) - 1;
        } else {
            std::memcpy(&word, text.data(), std::min<std::size_t>(text.size(), 8));
        }
        return word;
    }

    // The field at p, which opens with a quote, when it is one the chunks
    // read: the quote closes before the line's end, followed by the
    // delimiter or the line's end, with no quote inside and not empty
    // (quoted, an empty text is present, where the chunks would take it
    // for a missing value; a quoted missing-value token is present text
    // both ways). Sets *text to what is inside the quotes and *comma to the delimiter
    // after it (null at the line's end).
    static bool quotedField(const char* p, const char* end, char delimiter, std::string_view* text,
                            const char** comma)
    {
        const char* const close =
            static_cast<const char*>(std::memchr(p + 1, '"', static_cast<std::size_t>(end - p - 1)));
        if (close == nullptr || close == p + 1) return false;
        if (close + 1 != end && close[1] != delimiter) return false;
        *text = std::string_view(p + 1, static_cast<std::size_t>(close - p - 1));
        *comma = close + 1 == end ? nullptr : close + 1;
        return true;
    }

    // Parses the lines of [p, stop) that start before `limit`; the bytes
    // from `limit` on only finish the last of them. `final`: stop is the
    // end of the file, so a last line may lack its line end. Returns where
    // parsing stopped: at the first line starting at or after `limit`, or
    // at an incomplete line (which needs more bytes), or null on failure.
    const char* lines(const ChunkRules& rules, const char* p, const char* limit, const char* stop, bool final)
    {
        const std::size_t size = static_cast<std::size_t>(stop - p);
        // A zero byte is no text: the full reader refuses the file.
        if (std::memchr(p, '\0', size) != nullptr) {
            fail(Verdict::FullReader);
            return nullptr;
        }
        // Quoted fields are read as the full reader reads them, but for
        // line ends, doubled quotes and empty quoted texts, which make the
        // chunk decline. Without a quote anywhere, fields are not checked.
        // A chunk's first line starts after the first line end at its cut:
        // that is a true line start whenever every chunk before it was read
        // (none of their lines held a line end within quotes), and chunks
        // are handed over in file order, stopping at the first that declines.
        quotes = std::memchr(p, '"', size) != nullptr;
        const bool carriageReturns = std::memchr(p, '\r', size) != nullptr;
        // Line ends come from the line feeds' masks, made a block at a
        // time as the lines are read: each line feed ends the line after
        // the one the last ended.
        static const csvscan::ByteMasks lineFeedMasks({'\n'});
        csvscan::ByteCursor lineFeeds(lineFeedMasks, p, stop);
        while (p < limit) {
            const char* lineEnd = nullptr;
            const char* next = nullptr;
            const csvscan::LineScan scan =
                csvscan::endLine(p, lineFeeds.next(), carriageReturns, &lineEnd, &next);
            if (scan == csvscan::LineScan::Irregular) {
                fail(Verdict::FullReader);
                return nullptr;
            }
            if (scan == csvscan::LineScan::Incomplete) {
                if (!final) return p;
                // The last line of the file, without a line end.
                lineEnd = stop;
                next = stop;
                if (carriageReturns && std::memchr(p, '\r', static_cast<std::size_t>(stop - p)) != nullptr) {
                    fail(Verdict::FullReader);
                    return nullptr;
                }
            }
            // Blank lines have rules of their own; the full reader reports
            // lines over the limit.
            if (lineEnd == p || static_cast<std::size_t>(lineEnd - p) > rules.format->maxFieldSize ||
                !line(rules, p, lineEnd, stop)) {
                if (verdict == Verdict::Loaded) fail(Verdict::FullReader);
                return nullptr;
            }
            p = next;
        }
        return p;
    }

    // Reads the chunk whose lines start in [from, to) of the file, which
    // ends at `fileEnd`; the records start at `dataStart`. `buffer` is the
    // reading thread's own, kept from chunk to chunk.
    void read(const ChunkRules& rules, const File& file, std::size_t dataStart, std::size_t from, std::size_t to,
              std::size_t fileEnd, std::vector<char>& buffer)
    {
        // A line starts at the records' start or after a line feed: the
        // chunk's first line begins after the first line feed at or after
        // from - 1, so the line a cut falls into belongs to the chunk in
        // which it starts, and the chunk reads on past `to` to finish its
        // last line.
        const std::size_t readFrom = from == dataStart ? from : from - 1;
        // Reading further than this means a line over the length limit.
        const std::size_t most = to - readFrom + rules.format->maxFieldSize + 2;
        std::size_t want = std::min(fileEnd, to + kSlack) - readFrom;
        std::size_t at = from == dataStart ? 0 : kUnknown;   // where parsing goes on
        for (;;) {
            if (buffer.size() < want) buffer.resize(want);
            const long got = file.read(buffer.data(), want, readFrom);
            if (got < 0 || static_cast<std::size_t>(got) != want) {
                fail(Verdict::FullReader);   // the full reader reports what went wrong
                return;
            }
            const char* const base = buffer.data();
            const bool final = readFrom + want == fileEnd;
            if (at == kUnknown) {
                const void* newline = std::memchr(base, '\n', want);
                if (newline != nullptr) at = static_cast<std::size_t>(static_cast<const char*>(newline) - base) + 1;
                else if (final) return;   // no line starts in the chunk
            }
            if (at != kUnknown) {
                const char* const limit = base + (to - readFrom);
                if (base + at >= limit) return;   // a line longer than the chunk began before it
                const char* done = lines(rules, base + at, limit, base + want, final);
                if (done == nullptr || done >= limit) return;
                at = static_cast<std::size_t>(done - base);
            }
            // The chunk's last line runs past what was read.
            if (want >= most) {
                fail(Verdict::FullReader);
                return;
            }
            want = std::min(fileEnd - readFrom, want * 2);
        }
    }

    static constexpr std::size_t kSlack = 4096;
    static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
};

bool bothNumbers(Storage a, Storage b)
{
    return (a == Storage::Integer || a == Storage::Real) && (b == Storage::Integer || b == Storage::Real);
}

// One column of the whole file, put together chunk by chunk in file order.
struct LoadedColumn {
    Storage storage = Storage::None;
    Storage first = Storage::None;   // the storage the file's first present value chose
    std::size_t pendingMissing = 0;
    ColumnValues values;
    std::vector<std::size_t> negativeZeros;   // rows of an integer column that read "-0"
    bool keepValues = true;          // false: only the storage is wanted

    // Appends the chunk's column. Reread: its values were read as a
    // storage that cannot join this one's, and the file is read again with
    // the column starting from the storage of its first value, as one pass
    // would read it.
    Verdict append(ColumnState& chunk, std::size_t chunkRows, std::size_t reserveRows)
    {
        if (chunk.storage == Storage::None) {
            if (storage == Storage::None) pendingMissing += chunkRows;
            else if (keepValues) for (std::size_t i = 0; i < chunkRows; ++i) values.appendMissing();
            return Verdict::Loaded;
        }
        if (!keepValues) return joinStorage(chunk);
        if (storage == Storage::None) {
            storage = chunk.storage;
            first = chunk.first;
            values = ColumnValues(ColumnValues::kindFor(static_cast<int>(storage)));
            values.reserve(reserveRows);
            for (; pendingMissing > 0; --pendingMissing) values.appendMissing();
        } else if (chunk.storage != storage) {
            // Integers and reals meet as reals, as the full reader reads
            // them: a column whose first value was an integer widens, and the
            // integers of a column that started with a real read as reals;
            // either way "-0" is the real -0.
            if (!bothNumbers(storage, chunk.storage)) return Verdict::Reread;
            if (storage == Storage::Integer) {
                values.integersToReals();
                signNegativeZeros(values, negativeZeros);
                storage = Storage::Real;
            } else {
                chunk.widen();
            }
        }
        if (storage == Storage::Integer)
            for (const std::size_t row : chunk.negativeZeros) negativeZeros.push_back(values.size() + row);
        values.appendAll(chunk.values);
        return Verdict::Loaded;
    }

    // The storage alone: as append, without the values.
    Verdict joinStorage(const ColumnState& chunk)
    {
        if (storage == Storage::None) {
            storage = chunk.storage;
            first = chunk.first;
        } else if (chunk.storage != storage) {
            if (!bothNumbers(storage, chunk.storage)) return Verdict::Reread;
            storage = Storage::Real;
        }
        return Verdict::Loaded;
    }
};
// Bytes of the file per chunk: small enough that a chunk's columns stay in
// the cache until they are copied into the table's, and come from memory
// the allocator hands out again and again rather than fresh pages.
constexpr std::size_t kChunkBytes = std::size_t{512} << 10;

// Reads chunk k of the input into `chunk`, with `buffer` for its bytes (the
// reading thread's own, kept from chunk to chunk); false when the input
// holds no chunk k.
using ChunkReader = std::function<bool(std::size_t k, Chunk& chunk, std::vector<char>& buffer)>;

// The number of chunks of an input whose end is not known until it is met.
constexpr std::size_t kUnknownChunks = static_cast<std::size_t>(-1);

// The chunks of the file's bytes [begin, end), `chunkBytes` each, read by
// offset.
ChunkReader fileChunks(const ChunkRules& rules, const File& file, std::size_t begin, std::size_t end,
                       std::size_t chunkBytes)
{
    return [&rules, &file, begin, end, chunkBytes](std::size_t k, Chunk& chunk, std::vector<char>& buffer) {
        const std::size_t from = begin + k * chunkBytes;
        if (from >= end) return false;
        chunk.read(rules, file, begin, from, std::min(end, from + chunkBytes), end, buffer);
        return true;
    };
}

// Reads the records in chunks on several threads and hands the chunks to
// a sink in file order. Threads take the chunks one by one; a thread that
// finishes a chunk hands over every finished chunk that is next in order,
// unless another thread is doing so, so the sink sees one chunk at a time.
class ParallelRead {
public:
    // Takes the next chunk in file order, with the number of records
    // before it; anything but Loaded stops the read.
    using Sink = std::function<Verdict(Chunk& chunk, std::size_t firstRecord)>;

    // `chunkCount`: the input's chunks, or kUnknownChunks when the reader
    // finds its end.
    ParallelRead(const ChunkRules& rules, ChunkReader reader, std::size_t chunkCount, Sink sink)
        : rules_(rules), reader_(std::move(reader)), chunkCount_(chunkCount), sink_(std::move(sink))
    {
        if (chunkCount_ != kUnknownChunks) finished_.resize(chunkCount_);
    }

    // Reads the file; `needText`, when given, gets the columns of a chunk
    // that met a value its inferred storage cannot hold.
    Verdict run(std::size_t threads, std::vector<std::size_t>* needText = nullptr)
    {
        threads = std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(chunkCount_, 1));
        window_ = 2 * threads;
        std::vector<std::thread> helpers;
        for (std::size_t i = 1; i < threads; ++i) helpers.emplace_back([this] { work(); });
        work();
        for (std::thread& helper : helpers) helper.join();
        if (failure_) std::rethrow_exception(failure_);
        if (needText != nullptr) *needText = needText_;
        return verdict_;
    }

    // The records of the chunks the sink took.
    std::size_t records() const { return records_; }

    // Called by each reading thread with a chunk's number before it reads it.
    void beforeEachChunk(std::function<void(std::size_t)> call) { beforeChunk_ = std::move(call); }

private:
    void work()
    {
        std::vector<char> buffer;
        std::size_t expectedRows = 0;   // the rows of this thread's previous chunk
        try {
            for (;;) {
                const std::size_t k = next_.fetch_add(1);
                if (k >= chunkCount_ || !awaitTurn(k)) return;
                if (beforeChunk_) beforeChunk_(k);
                auto chunk = std::make_unique<Chunk>(rules_, expectedRows + expectedRows / 16);
                if (!reader_(k, *chunk, buffer)) return;
                expectedRows = chunk->rows;
                deliver(k, std::move(chunk));
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
            stop_ = true;
            progress_.notify_all();
        }
    }

    // Waits while chunk k is too far ahead of the chunks handed over, so
    // that a slow sink holds back the reading rather than letting finished
    // chunks pile up. False when the read stops.
    bool awaitTurn(std::size_t k)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        progress_.wait(lock, [&] { return stop_ || k < committed_ + window_; });
        return !stop_;
    }

    void deliver(std::size_t k, std::unique_ptr<Chunk> chunk)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (k >= finished_.size()) finished_.resize(k + 1);
        finished_[k] = std::move(chunk);
        if (appending_) return;
        appending_ = true;
        while (committed_ < finished_.size() && finished_[committed_] && !stop_) {
            const std::unique_ptr<Chunk> next = std::move(finished_[committed_]);
            lock.unlock();
            if (next->verdict == Verdict::Reread) needText_ = next->needText;
            const Verdict verdict = next->verdict != Verdict::Loaded ? next->verdict : sink_(*next, records_);
            lock.lock();
            if (verdict != Verdict::Loaded) {
                verdict_ = verdict;
                stop_ = true;
                progress_.notify_all();
            } else {
                records_ += next->rows;
            }
            ++committed_;
            progress_.notify_all();
        }
        appending_ = false;
    }

    const ChunkRules& rules_;
    const ChunkReader reader_;
    const std::size_t chunkCount_;
    const Sink sink_;
    std::function<void(std::size_t)> beforeChunk_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable progress_;   // a chunk was handed over, or the read stops
    std::size_t window_ = 1;             // chunks read or being read ahead of the next to hand over
    std::vector<std::unique_ptr<Chunk>> finished_;   // chunks read, waiting for their turn
    std::size_t committed_ = 0;
    bool appending_ = false;
    Verdict verdict_ = Verdict::Loaded;
    std::exception_ptr failure_;
    std::size_t records_ = 0;
    std::vector<std::size_t> needText_;
};

// The whole file's columns, put together from the chunks into room reserved
// once for the whole file, each value written once.
struct LoadedTable {
    std::vector<LoadedColumn> columns;
    std::vector<std::pair<std::size_t, Storage>> restart;    // columns to start from a storage
    std::size_t bytes = 0;                                   // of the records in the file
    std::size_t chunkBytes = 0;
    std::size_t reserveRows = 0;

    Verdict append(Chunk& chunk)
    {
        if (reserveRows == 0 && chunk.rows > 0) {
            // Room for the whole file at the first chunk's line length.
            const std::size_t perRow = std::max<std::size_t>(std::min(chunkBytes, bytes) / chunk.rows, 1);
            // The slack is for lines longer than the first chunk's; it never
            // exceeds the estimate itself, so that a wide file of a few
            // long lines does not get room for a thousand rows per column.
            const std::size_t expectedRows = bytes / perRow;
            reserveRows = expectedRows + std::min<std::size_t>(expectedRows, 1024);
            reserveRows += reserveRows / 16;
        }
        Verdict verdict = Verdict::Loaded;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Verdict joined = columns[c].append(chunk.columns[c], chunk.rows, reserveRows);
            if (joined == Verdict::Reread) restart.emplace_back(c, columns[c].first);
            if (joined == Verdict::FullReader) return joined;
            if (joined != Verdict::Loaded) verdict = joined;
        }
        return verdict;
    }
};

}  // namespace

std::optional<std::vector<std::string>> readPlainHeader(const std::string& path, const CsvFormat& format)
{
    File file(path);
    if (!file.ok()) return std::nullopt;
    auto header = plainHeader(file, format.maxFieldSize, format.delimiter);
    if (!header) return std::nullopt;
    return header->names;
}

namespace {

// True for the formats the chunks read: a decimal point, or a decimal
// comma where the comma is not the delimiter.
bool chunksRead(const CsvFormat& format)
{
    return format.decimal == '.' || (format.decimal == ',' && format.delimiter != ',');
}

ChunkRules rulesFor(const CsvFormat& format, std::size_t fields, const std::vector<Storage>& given)
{
    ChunkRules rules;
    rules.format = &format;
    rules.decimalComma = format.decimal == ',';
    // A token the inline readers would take for a number must be looked for first.
    for (const std::string& token : format.naValues)
        rules.numericTokens |= parseReal(token).has_value() ||
                               (rules.decimalComma && decimalCommaAt(token) != std::string_view::npos);
    rules.given = given.empty() ? std::vector<Storage>(fields, Storage::None) : given;
    rules.start.assign(fields, Storage::None);
    return rules;
}

// Counts the present values of a text column of a chunk into `tally`, as
// TextTally::add would one by one, looking at each distinct text once; the
// chunk's first record is on `firstLine`.
void tallyTexts(const ColumnValues& values, std::uint64_t firstLine, TextTally& tally)
{
    std::vector<char> numeric(values.dictionary().size(), -1);   // -1: not looked at yet
    for (std::size_t row = 0; row < values.size(); ++row) {
        if (values.isMissing(row)) continue;
        const std::uint32_t code = values.codes()[row];
        const std::string_view text = values.dictionary().at(code);
        if (numeric[code] < 0) {
            // Codes are numbered in order of appearance: this is the text's first.
            if (tally.notUtf8Line == 0 && !isUtf8(text)) {
                tally.notUtf8 = std::string(text);
                tally.notUtf8Line = firstLine + row;
            }
            tally.noteControlByte(text, firstLine + row);
            numeric[code] = parseReal(text).has_value();
        }
        if (numeric[code] != 0) {
            ++tally.numbers;
            continue;
        }
        if (tally.others++ == 0) tally.firstOtherLine = firstLine + row;
        if (tally.otherTexts.size() <= kStrayTexts &&
            std::find(tally.otherTexts.begin(), tally.otherTexts.end(), text) == tally.otherTexts.end())
            tally.otherTexts.emplace_back(text);
    }
}

// Where the passes of readChunks take their chunks from.
struct ChunkInput {
    std::size_t bytes = 0;        // of the records; for a stream an estimate, or 0
    std::size_t chunkBytes = 0;
    std::size_t chunks = 0;       // or kUnknownChunks
    // Starts a pass over the records with the pass's rules, giving the
    // reader of its chunks.
    std::function<ChunkReader(const ChunkRules&)> start;
};

// Reads the input's records in chunks into a LoadedTable (keeping the values
// or only the storages, and the texts' tallies when asked), reading it again
// while columns' chunks disagree: as text, or starting from the storage the
// file's first value chose; each round settles at least one more column.
// Nothing when the file needs the full reader.
std::optional<LoadedTable> readChunks(ChunkRules rules, const ChunkInput& input, std::size_t threads,
                                      bool keepValues, std::vector<TextTally>* tallies)
{
    const std::size_t fields = rules.given.size();
    for (;;) {
        LoadedTable load;
        load.columns.resize(fields);
        for (LoadedColumn& column : load.columns) column.keepValues = keepValues;
        load.bytes = input.bytes;
        load.chunkBytes = input.chunkBytes;
        if (tallies != nullptr) tallies->assign(fields, TextTally{});
        std::vector<std::size_t> needText;
        ColumnPrefault prefault;
        std::size_t joinedChunks = 0;
        std::vector<const ColumnValues*> columns;
        ParallelRead read(rules, input.start(rules), input.chunks, [&](Chunk& chunk, std::size_t firstRecord) {
            if (tallies != nullptr)
                for (std::size_t c = 0; c < fields; ++c)
                    if (chunk.columns[c].storage == Storage::String)
                        tallyTexts(chunk.columns[c].values, firstRecord + 2, (*tallies)[c]);
            const Verdict verdict = load.append(chunk);
            if (keepValues) {
                columns.clear();
                for (const LoadedColumn& column : load.columns) columns.push_back(&column.values);
                prefault.note(columns, firstRecord + chunk.rows, ++joinedChunks);
            }
            return verdict;
        });
        if (keepValues) read.beforeEachChunk([&](std::size_t k) { prefault.before(k); });
        const Verdict verdict = read.run(threads, &needText);
        if (verdict == Verdict::FullReader) return std::nullopt;
        if (verdict == Verdict::Loaded) {
            // A column of missing values only is text, unless its storage
            // was given (a file of no records, where no chunk settled it).
            for (std::size_t c = 0; c < fields; ++c) {
                LoadedColumn& column = load.columns[c];
                if (column.storage != Storage::None) continue;
                column.storage = rules.given[c] != Storage::None ? rules.given[c] : Storage::String;
                if (!keepValues) continue;
                column.values = ColumnValues(ColumnValues::kindFor(static_cast<int>(column.storage)));
                for (; column.pendingMissing > 0; --column.pendingMissing) column.values.appendMissing();
            }
            return load;
        }
        for (std::size_t c : needText) rules.given[c] = Storage::String;
        for (const auto& [c, storage] : load.restart) {
            if (rules.start[c] == storage) rules.given[c] = Storage::String;
            rules.start[c] = storage;
        }
    }
}

// The table a load put together, under the header's names.
PlainCsv plainCsvOf(const std::vector<std::string>& names, LoadedTable& load)
{
    PlainCsv result;
    result.header = names;
    for (LoadedColumn& column : load.columns) {
        result.storages.push_back(column.storage);
        result.values.push_back(std::move(column.values));
    }
    return result;
}

// The chunks of the file's records, [begin, size), read by offset.
ChunkInput fileInput(const File& file, std::size_t begin, std::size_t size, std::size_t chunkBytes)
{
    ChunkInput input;
    input.bytes = size - begin;
    input.chunkBytes = chunkBytes == 0 ? kChunkBytes : chunkBytes;
    input.chunks = (input.bytes + input.chunkBytes - 1) / input.chunkBytes;
    input.start = [&file, begin, size, chunkBytes = input.chunkBytes](const ChunkRules& rules) {
        return fileChunks(rules, file, begin, size, chunkBytes);
    };
    return input;
}

// Reads the header off the start of a stream, setting *after to the bytes
// read past it. Nothing when the header needs the full reader, or reading
// failed (the full reader reports why).
std::optional<Header> streamHeader(std::streambuf& input, const CsvFormat& format, std::vector<char>* after)
{
    std::vector<char> head;
    bool ended = false;
    const auto read = [&](char* into, std::size_t count, std::size_t offset) -> long {
        while (!ended && head.size() < offset + count) {
            const std::size_t before = head.size();
            head.resize(before + count);
            const std::streamsize got = input.sgetn(head.data() + before, static_cast<std::streamsize>(count));
            head.resize(before + static_cast<std::size_t>(got > 0 ? got : 0));
            ended = got <= 0;
        }
        const std::size_t available = offset < head.size() ? std::min(count, head.size() - offset) : 0;
        if (available > 0) std::memcpy(into, head.data() + offset, available);
        return static_cast<long>(available);
    };
    std::optional<Header> header;
    try {
        header = headerOf(read, format.maxFieldSize, format.delimiter);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (header) after->assign(head.begin() + static_cast<std::ptrdiff_t>(std::min(header->dataStart, head.size())),
                              head.end());
    return header;
}

// One pass over a stream: the stream opened from its start and its records
// cut into chunks on a thread of their own.
struct StreamPass {
    std::unique_ptr<InputSource> source;
    std::unique_ptr<StreamChunks> chunks;
};

// The chunks of a stream's records, cut at line ends as the stream is read;
// each pass opens the stream again and checks that its header is `names`.
// `expectedBytes`: the records' size if known, else 0.
ChunkInput streamInput(const OpenStream& open, const std::vector<std::string>& names, const CsvFormat& format,
                       std::size_t expectedBytes, std::size_t chunkBytes, std::size_t threads)
{
    ChunkInput input;
    input.bytes = expectedBytes;
    input.chunkBytes = chunkBytes == 0 ? kChunkBytes : chunkBytes;
    input.chunks = kUnknownChunks;
    input.start = [&open, &names, &format, chunkBytes = input.chunkBytes, threads](const ChunkRules& rules) {
        const auto decline = [](std::size_t, Chunk& chunk, std::vector<char>&) {
            return !chunk.fail(Verdict::FullReader);
        };
        auto pass = std::make_shared<StreamPass>();
        try {
            pass->source = open();
        } catch (const std::exception&) {
            return ChunkReader(decline);
        }
        std::streambuf& bytes = *pass->source->stream().rdbuf();
        std::vector<char> after;
        const auto header = streamHeader(bytes, format, &after);
        if (!header || header->names != names) return ChunkReader(decline);
        // The cutting thread keeps a chunk ready for each parsing thread,
        // and one more.
        pass->chunks = std::make_unique<StreamChunks>(bytes, std::move(after), chunkBytes, format.maxFieldSize,
                                                      threads + 1);
        return ChunkReader([pass, &rules](std::size_t k, Chunk& chunk, std::vector<char>& buffer) {
            switch (pass->chunks->take(k, buffer)) {
            case StreamChunks::Take::End: return false;
            case StreamChunks::Take::Failed: return !chunk.fail(Verdict::FullReader);
            case StreamChunks::Take::Chunk: break;
            }
            // A chunk holds whole lines, the stream's last perhaps without its line end.
            const char* const begin = buffer.data();
            const char* const end = begin + buffer.size();
            chunk.lines(rules, begin, end, end, true);
            return true;
        });
    };
    return input;
}

}  // namespace

std::optional<PlainCsv> loadPlainCsv(const std::string& path, const std::vector<Storage>& given,
                                     std::size_t threads, const CsvFormat& format, std::size_t chunkBytes)
{
    if (!chunksRead(format) || format.latin1) return std::nullopt;
    File file(path);
    if (!file.ok()) return std::nullopt;
    const auto header = plainHeader(file, format.maxFieldSize, format.delimiter);
    if (!header) return std::nullopt;
    const std::size_t fields = header->names.size();
    if (!given.empty() && given.size() != fields) return std::nullopt;
    const std::size_t size = file.size();
    auto load = readChunks(rulesFor(format, fields, given),
                           fileInput(file, std::min(header->dataStart, size), size, chunkBytes), threads, true,
                           nullptr);
    if (!load) return std::nullopt;
    return plainCsvOf(header->names, *load);
}

namespace {

// The header at the start of the stream `open` opens; nothing when it needs
// the full reader or cannot be read.
std::optional<Header> openedHeader(const OpenStream& open, const CsvFormat& format)
{
    try {
        const std::unique_ptr<InputSource> source = open();
        std::vector<char> after;
        return streamHeader(*source->stream().rdbuf(), format, &after);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::vector<std::string>> readStreamedHeader(const OpenStream& open, const CsvFormat& format)
{
    auto header = openedHeader(open, format);
    if (!header) return std::nullopt;
    return std::move(header->names);
}

std::optional<PlainCsv> loadStreamedCsv(const OpenStream& open, const std::vector<Storage>& given,
                                        std::size_t threads, const CsvFormat& format, std::size_t expectedBytes,
                                        std::size_t chunkBytes)
{
    if (!chunksRead(format)) return std::nullopt;
    const auto header = openedHeader(open, format);
    if (!header) return std::nullopt;
    const std::size_t fields = header->names.size();
    if (!given.empty() && given.size() != fields) return std::nullopt;
    auto load = readChunks(rulesFor(format, fields, given),
                           streamInput(open, header->names, format, expectedBytes, chunkBytes, threads), threads,
                           true, nullptr);
    if (!load) return std::nullopt;
    return plainCsvOf(header->names, *load);
}

namespace {

// The storages and tallies of the records the input's chunks give, under
// the header `names`.
std::optional<PlainProfile> profileChunks(const std::vector<std::string>& names, const ChunkInput& input,
                                          const std::vector<std::string>& categorical, std::size_t threads,
                                          const CsvFormat& format)
{
    const std::size_t fields = names.size();
    std::vector<Storage> given(fields, Storage::None);
    for (std::size_t i = 0; i < fields; ++i)
        if (std::find(categorical.begin(), categorical.end(), names[i]) != categorical.end())
            given[i] = Storage::String;
    PlainProfile result;
    auto load = readChunks(rulesFor(format, fields, given), input, threads, false, &result.tallies);
    if (!load) return std::nullopt;
    result.header = names;
    for (const LoadedColumn& column : load->columns) result.storages.push_back(column.storage);
    return result;
}

// Hands the wanted columns of the input's chunks to `eachChunk`, as
// readPlainChunks describes.
PlainChunks typedChunks(std::size_t fields, const ChunkInput& input,
                        const std::vector<std::pair<std::size_t, Storage>>& wanted, std::size_t threads,
                        const CsvFormat& format,
                        const std::function<void(std::vector<refhost::ColumnValues>&, std::size_t)>& eachChunk)
{
    PlainChunks result;
    ChunkRules rules = rulesFor(format, fields, {});
    rules.skipped.assign(fields, true);
    for (const auto& [column, storage] : wanted) {
        if (column >= fields || storage == Storage::None) return result;
        rules.given[column] = storage;
        rules.skipped[column] = false;
    }
    ParallelRead read(rules, input.start(rules), input.chunks, [&](Chunk& chunk, std::size_t firstRecord) {
        std::vector<refhost::ColumnValues> values;
        for (const auto& column : wanted) values.push_back(std::move(chunk.columns[column.first].values));
        eachChunk(values, firstRecord);
        return Verdict::Loaded;
    });
    result.complete = read.run(threads) == Verdict::Loaded;
    result.records = read.records();
    return result;
}

}  // namespace

std::optional<PlainProfile> profilePlainCsv(int descriptor, const std::vector<std::string>& categorical,
                                            std::size_t threads, const CsvFormat& format, std::size_t chunkBytes)
{
    if (!chunksRead(format) || format.latin1) return std::nullopt;
    const File file(descriptor);
    const auto header = plainHeader(file, format.maxFieldSize, format.delimiter);
    if (!header) return std::nullopt;
    const std::size_t size = file.size();
    return profileChunks(header->names, fileInput(file, std::min(header->dataStart, size), size, chunkBytes),
                         categorical, threads, format);
}

std::optional<PlainProfile> profileStreamedCsv(const OpenStream& open, const std::vector<std::string>& categorical,
                                               std::size_t threads, const CsvFormat& format,
                                               std::size_t expectedBytes, std::size_t chunkBytes)
{
    if (!chunksRead(format)) return std::nullopt;
    const auto header = openedHeader(open, format);
    if (!header) return std::nullopt;
    return profileChunks(header->names, streamInput(open, header->names, format, expectedBytes, chunkBytes, threads),
                         categorical, threads, format);
}

std::size_t parseThreads()
{
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
}

PlainChunks readPlainChunks(int descriptor, const std::vector<std::pair<std::size_t, Storage>>& wanted,
                            std::size_t threads, const CsvFormat& format,
                            const std::function<void(std::vector<refhost::ColumnValues>&, std::size_t)>& eachChunk,
                            std::size_t chunkBytes)
{
    if (!chunksRead(format) || format.latin1) return {};
    const File file(descriptor);
    const auto header = plainHeader(file, format.maxFieldSize, format.delimiter);
    if (!header) return {};
    const std::size_t size = file.size();
    return typedChunks(header->names.size(), fileInput(file, std::min(header->dataStart, size), size, chunkBytes),
                       wanted, threads, format, eachChunk);
}

PlainChunks readStreamedChunks(const OpenStream& open, const std::vector<std::pair<std::size_t, Storage>>& wanted,
                               std::size_t threads, const CsvFormat& format,
                               const std::function<void(std::vector<refhost::ColumnValues>&, std::size_t)>& eachChunk,
                               std::size_t chunkBytes)
{
    if (!chunksRead(format)) return {};
    const auto header = openedHeader(open, format);
    if (!header) return {};
    return typedChunks(header->names.size(), streamInput(open, header->names, format, 0, chunkBytes, threads),
                       wanted, threads, format, eachChunk);
}

}  // namespace splitrun

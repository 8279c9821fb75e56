#include "csv_table.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_set>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

#include <splitmodels/data.h>

#include "column_profile.h"
#include "csv_stream.h"
#include "errors.h"
#include "plain_csv_loader.h"
#include "thread_shares.h"
#include "value_parsing.h"
#include "visible_text.h"

namespace splitrun {

namespace {

// Distinct values are counted up to this many; a column with more is not
// a set of categories anyway.
constexpr std::size_t kDistinctLimit = 100000;

// Every record of the file, in blocks as the stream gives them.
struct RawData {
    std::vector<std::string> header;
    std::vector<CsvBlock> blocks;
};

void checkHeaderEncoding(const std::vector<std::string>& header, const std::string& source, const CsvFormat& format);

// The header is checked before the records are read, so that a problem in
// it is reported before any in the lines after it, as the chunked loader
// reports it.
RawData readRaw(InputSource& input, const std::string& path, const CsvFormat& format)
{
    CsvStream reader(input.stream(), path, format);
    checkDelimiterHint(reader.header(), path, format);
    checkHeaderEncoding(reader.header(), path, format);
    RawData raw;
    raw.header = reader.header();
    for (;;) {
        raw.blocks.emplace_back();
        if (!reader.next(raw.blocks.back())) break;
    }
    raw.blocks.pop_back();
    return raw;
}

// The cell for a present text of a column of the given storage, or nothing
// when it does not read as that storage.
std::optional<refhost::Cell> toCell(std::string_view text, bool missing, Storage storage)
{
    if (missing) return refhost::Cell::missing();
    switch (storage) {
    case Storage::String: return refhost::Cell::text(std::string(text));
    case Storage::Integer:
        if (auto v = parseInteger(text)) return refhost::Cell::integer(*v);
        return std::nullopt;
    case Storage::Real:
        if (auto v = parseReal(text)) return refhost::Cell::real(*v);
        return std::nullopt;
    default:
        if (auto v = parseNumber(storage, text)) return refhost::Cell::real(*v);
        return std::nullopt;
    }
}

const char* storageExample(Storage storage)
{
    switch (storage) {
    case Storage::Integer: return "a whole number such as 42";
    case Storage::Real: return "a number such as 3.25";
    case Storage::Date: return "a date written YYYY-MM-DD";
    case Storage::Time: return "a time written HH:MM:SS";
    case Storage::Timestamp: return "a timestamp written YYYY-MM-DD HH:MM:SS";
    default: return "text";
    }
}

InputError valueMismatch(const std::string& source, std::uint64_t line, std::size_t csvColumn,
                         const std::string& name, std::string_view text, Storage storage, bool fromDataModel)
{
    return InputError(source + ":" + std::to_string(line) + ":" + std::to_string(csvColumn + 1) + " (field '" +
                      name + "'): the value '" + std::string(text) + "' is not " + storageExample(storage) +
                      " as the field's storage " + storageName(storage) + " requires; " +
                      (fromDataModel ? "correct the value or the field's storage in --data-model"
                                     : "correct the value"));
}

// Fills the table from the raw records; column i of the table reads CSV
// column source[i].
void fillTable(CsvTable& result, const RawData& raw, const std::vector<std::size_t>& source,
               bool fromDataModel)
{
    const auto& columns = result.table.columns();
    std::vector<refhost::Cell> row;
    for (const CsvBlock& block : raw.blocks) {
        for (std::size_t r = 0; r < block.size(); ++r) {
            row.clear();
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const std::string_view text = block.value(r, source[i]);
                const auto storage = static_cast<Storage>(columns[i].storage);
                auto cell = toCell(text, block.isMissing(r, source[i]), storage);
                if (!cell)
                    throw valueMismatch(result.source, block.line(r), source[i], columns[i].name, text, storage,
                                        fromDataModel);
                row.push_back(std::move(*cell));
            }
            result.table.addRow(row);
            result.lines.push_back(block.line(r));
        }
    }
}

// True when CSV column `i` of the header is the row-name column R's
// write.csv writes first, under an empty name.
bool isRowNameColumn(const std::vector<std::string>& header, std::size_t i)
{
    return i == 0 && header.size() > 1 && header[0].empty();
}

// Refuses a header with a control character in a name, a name longer than
// 64 KiB, or one that is not UTF-8 when the file is read as UTF-8: its
// names would be garbled in, or swell, every output.
void checkHeaderEncoding(const std::vector<std::string>& header, const std::string& source, const CsvFormat& format)
{
    // A control character cannot stand in the XML documents the names go
    // into; the build would fail only when it assembles them.
    for (std::size_t i = 0; i < header.size(); ++i)
        for (const char c : header[i])
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                throw InputError(source + ":1:" + std::to_string(i + 1) + ": the field name '" +
                                 header[i] + "' holds a control character, which the model "
                                 "documents cannot hold; rename the field");
    // Every document of every group repeats the names (a 2 MB name cost 190
    // MB), so a name no one would type is refused before any of them is made.
    constexpr std::size_t kLongestName = 65536;
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i].size() > kLongestName)
            throw InputError(source + ":1:" + std::to_string(i + 1) + ": the field name starting '" +
                             header[i].substr(0, 40) + "' is " + std::to_string(header[i].size()) +
                             " bytes long, more than the 65536 a name may have; check that the first line is "
                             "the header, or shorten the name");
    if (format.latin1) return;
    for (std::size_t i = 0; i < header.size(); ++i)
        if (!isUtf8(header[i]))
            throw InputError(source + ":1:" + std::to_string(i + 1) + ": the field name '" + header[i] +
                             "' is not UTF-8; if the file is Latin-1 (as spreadsheets and R on Windows "
                             "save it), give --encoding latin1");
}

// Refuses --categorical names that are not fields of the header.
void checkCategoricalNames(const std::vector<std::string>& header, const std::vector<std::string>& categorical,
                           const std::string& source)
{
    for (const std::string& name : categorical)
        if (std::find(header.begin(), header.end(), name) == header.end())
            throw InputError("--categorical: the field '" + name + "' is not a column of " + source +
                             "; give names from the header");
}

// The table's columns from the storages inferred for the CSV columns and
// the tallies of their texts: each column's inferred storage, or text for a
// field declared categorical. R's row-name column is left out, with a note.
void addInferredColumns(CsvTable& result, const std::vector<std::string>& header,
                        const std::vector<Storage>& storages, const std::vector<TextTally>& tallies,
                        const std::vector<std::string>& categorical, std::vector<std::size_t>& source)
{
    checkCategoricalNames(header, categorical, result.source);
    for (std::size_t i = 0; i < storages.size(); ++i) {
        if (isRowNameColumn(header, i)) {
            result.notes.push_back(result.source + ": the first column has no name, as R's write.csv writes "
                                                   "row names; it is ignored");
            continue;
        }
        const bool declared = std::find(categorical.begin(), categorical.end(), header[i]) != categorical.end();
        const Storage inferred = declared ? Storage::String : storages[i];
        const int storage = static_cast<int>(inferred);
        const int measure = static_cast<int>(inferred == Storage::String ? Measure::Nominal : Measure::Continuous);
        result.table.addColumn({header[i], storage, measure});
        result.fields.push_back({header[i], storage, measure});
        if (inferred == Storage::String) result.fields.back().tally = tallies[i];
        source.push_back(i);
    }
}

void addProfiledColumns(CsvTable& result, const std::vector<std::string>& header,
                        const std::vector<ColumnProfile>& profiles, const std::vector<std::string>& categorical,
                        std::vector<std::size_t>& source)
{
    std::vector<Storage> storages;
    std::vector<TextTally> tallies;
    for (const ColumnProfile& profile : profiles) {
        storages.push_back(profile.storage());
        tallies.push_back(profile.tally());
    }
    addInferredColumns(result, header, storages, tallies, categorical, source);
}

void inferColumns(CsvTable& result, const RawData& raw, const std::vector<std::string>& categorical,
                  std::vector<std::size_t>& source)
{
    std::vector<ColumnProfile> profiles(raw.header.size());
    for (const CsvBlock& block : raw.blocks)
        for (std::size_t r = 0; r < block.size(); ++r)
            for (std::size_t i = 0; i < profiles.size(); ++i) profiles[i].observe(block.value(r, i), block.isMissing(r, i));
    addProfiledColumns(result, raw.header, profiles, categorical, source);
}

void columnsFromDataModel(CsvTable& result, const std::vector<std::string>& header,
                          const std::string& path, std::vector<std::size_t>& source)
{
    result.dataModelText = readInputFile(path, "--data-model");
    std::vector<splitmodels::FieldDef> defs;
    try {
        defs = splitmodels::parseDataModelFields(result.dataModelText);
    } catch (const std::exception& e) {
        throw InputError("--data-model " + path + ": " + e.what() +
                         "; give a DataModel document with a Fields element of Field elements");
    }
    std::map<std::string, std::size_t> csvColumn;
    for (std::size_t i = 0; i < header.size(); ++i) csvColumn[header[i]] = i;
    std::set<std::string> described;
    for (const splitmodels::FieldDef& def : defs) {
        const auto found = csvColumn.find(def.name);
        if (found == csvColumn.end())
            throw InputError("--data-model " + path + ": the field '" + def.name +
                             "' is not a column of " + result.source +
                             "; the data model must describe exactly the CSV header's fields");
        if (!described.insert(def.name).second)
            throw InputError("--data-model " + path + ": the field '" + def.name +
                             "' is described twice; describe each field once");
        if (def.storage < 1 || def.storage > 6)
            throw InputError("--data-model " + path + ": the field '" + def.name +
                             "' has no usable storage; use integer, real, string, date, time "
                             "or timestamp");
        result.table.addColumn({def.name, def.storage, def.measure});
        result.fields.push_back({def.name, def.storage, def.measure});
        source.push_back(found->second);
    }
    for (std::size_t i = 0; i < header.size(); ++i)
        if (const std::string& name = header[i]; !described.count(name) && !isRowNameColumn(header, i))
            throw InputError("--data-model " + path + ": the CSV column '" + name +
                             "' is not described; add a Field for it to the data model");
}

// A set of up to kDistinctLimit numbers by their bits, open addressing in
// a table kept at most half full (0 marks a free slot, so zero is kept
// apart). The table starts small and doubles, so that a file of thousands
// of columns and a few records does not clear a full-size table per column.
class NumberSet {
public:
    std::size_t size() const { return count_ + zero_; }
    // True when the value was not in the set yet.
    bool insert(double value)
    {
        if (value == 0) return !zero_ && (zero_ = true);
        if (2 * (count_ + 1) > slots_.size()) grow();
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        std::uint64_t& slot = find(bits);
        if (slot == bits) return false;
        slot = bits;
        ++count_;
        return true;
    }

private:
    // The slot holding bits, or the free slot where they belong.
    std::uint64_t& find(std::uint64_t bits)
    {
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = (bits * 0x9E3779B97F4A7C15ull) >> shift_;
        while (slots_[slot] != 0 && slots_[slot] != bits) slot = (slot + 1) & mask;
        return slots_[slot];
    }

    void grow()
    {
        std::vector<std::uint64_t> old = std::move(slots_);
        slots_.assign(old.empty() ? std::size_t{1} << 6 : old.size() * 2, 0);
        shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots_.size()));
        for (const std::uint64_t bits : old)
            if (bits != 0) find(bits) = bits;
    }

    std::vector<std::uint64_t> slots_;
    unsigned shift_ = 64;
    std::size_t count_ = 0;
    bool zero_ = false;
};

// Distinct present values of a column, counted up to kDistinctLimit.
// Numbers count by value, so 1 and 1.0 are one value.
std::size_t distinctValues(const refhost::ColumnValues& values, bool* more)
{
    using Kind = refhost::ColumnValues::Kind;
    *more = false;
    if (values.kind() == Kind::Text) return values.dictionary().size();
    if (values.kind() == Kind::Cells) {
        std::set<std::string> seen;
        for (const refhost::Cell& cell : values.cells())
            if (!cell.isMissing()) seen.insert(cell.toString());
        return seen.size();
    }
    // 1 and 1.0 are one double, -0 is taken as 0.
    NumberSet seen;
    bool havePrevious = false;
    double previous = 0;
    for (std::size_t row = 0; row < values.size(); ++row) {
        if (values.isMissing(row)) continue;
        const double value = values.kind() == Kind::Integer ? static_cast<double>(values.integers()[row])
                                                            : values.reals()[row];
        if (havePrevious && value == previous) continue;   // runs of one value are common
        havePrevious = true;
        previous = value;
        if (!seen.insert(value) || value == 0) continue;
        if (seen.size() > kDistinctLimit) {
            *more = true;
            return kDistinctLimit;
        }
    }
    return seen.size();
}

// The numbers and other texts of a loaded text column, judged once per
// distinct text (codes number the texts in order of first appearance).
TextTally tallyTexts(const refhost::ColumnValues& values, const SourceLines& lines)
{
    TextTally tally;
    const refhost::TextDictionary& dictionary = values.dictionary();
    std::vector<char> number(dictionary.size());
    std::size_t firstNotUtf8 = dictionary.size(), firstZeroByte = dictionary.size();
    std::size_t firstControlByte = dictionary.size();
    for (std::uint32_t code = 0; code < dictionary.size(); ++code) {
        const std::string_view text = dictionary.at(code);
        number[code] = parseReal(text).has_value();
        if (!number[code] && tally.otherTexts.size() <= kStrayTexts) tally.otherTexts.emplace_back(text);
        if (firstNotUtf8 == dictionary.size() && !isUtf8(text)) firstNotUtf8 = code;
        if (firstZeroByte == dictionary.size() && text.find('\0') != text.npos) firstZeroByte = code;
        if (firstControlByte == dictionary.size() && holdsControlByte(text)) firstControlByte = code;
    }
    for (std::size_t row = 0; row < values.size(); ++row) {
        if (values.isMissing(row)) continue;
        const std::uint32_t code = values.codes()[row];
        if (number[code]) {
            ++tally.numbers;
            continue;
        }
        if (tally.others++ == 0) tally.firstOtherLine = lines[row];
        if (code == firstNotUtf8 && tally.notUtf8Line == 0) {
            tally.notUtf8 = std::string(dictionary.at(code));
            tally.notUtf8Line = lines[row];
        }
        if (code == firstControlByte && tally.controlByteLine == 0)
            tally.noteControlByte(dictionary.at(code), lines[row]);
        if (code == firstZeroByte && tally.zeroByteLine == 0) {
            tally.zeroByte = std::string(dictionary.at(code));
            tally.zeroByteLine = lines[row];
        }
    }
    return tally;
}

void summariseColumn(CsvTable& result, std::size_t c)
{
    FieldSummary& field = result.fields[c];
    const refhost::ColumnValues& values = result.table.values(c);
    if (values.kind() == refhost::ColumnValues::Kind::Text) field.tally = tallyTexts(values, result.lines);
    field.missing = 0;
    if (values.hasMissing())
        for (std::size_t row = 0; row < values.size(); ++row) field.missing += values.isMissing(row);
    field.categories = distinctValues(values, &field.moreCategories);
}

// Each column is a pass over every row, independent of the others: a large
// table's columns are shared out among the parse's threads, each taking
// every threads-th column, so that the key columns of a file (mostly its
// first ones) fall to different threads.
void summariseColumns(CsvTable& result)
{
    const std::size_t columns = result.table.columnCount();
    const std::size_t threads =
        result.table.rowCount() < kRowsForThreads ? 1 : std::max<std::size_t>(std::min(parseThreads(), columns), 1);
    runShares(threads, [&](std::size_t first) {
        for (std::size_t c = first; c < columns; c += threads) summariseColumn(result, c);
    });
}

// A note on the first text that is not UTF-8 in a file read as UTF-8: the
// bytes are kept, but they are most likely Latin-1.
void noteEncoding(CsvTable& result, const CsvFormat& format)
{
    if (format.latin1) return;
    for (const FieldSummary& field : result.fields)
        if (field.tally.notUtf8Line != 0) {
            result.notes.push_back(result.source + ":" + std::to_string(field.tally.notUtf8Line) + " (field '" +
                                   field.name + "'): the text '" + visibleText(field.tally.notUtf8) +
                                   "' is not UTF-8; if the file is Latin-1, give --encoding latin1");
            return;
        }
}

// The loader for every file: reads all records, then types them.
void readFullTable(CsvTable& result, InputSource& input, const std::string& csvPath,
                   const std::string& dataModelPath, const CsvFormat& format,
                   const std::vector<std::string>& categorical)
{
    const RawData raw = readRaw(input, csvPath, format);
    std::vector<std::size_t> source;
    if (dataModelPath.empty())
        inferColumns(result, raw, categorical, source);
    else
        columnsFromDataModel(result, raw.header, dataModelPath, source);
    fillTable(result, raw, source, !dataModelPath.empty());
    result.csvColumns = source;
}

// Loads the records with the storages given (None: inferred, or none at all
// to infer every one); nothing when the file needs the full reader.
using PlainLoad = std::function<std::optional<PlainCsv>(const std::vector<Storage>&)>;

// The quick loader for plain text, of a file or a stream whose header is
// `header`; false (with result untouched) when the file needs the full reader.
bool readPlainTable(CsvTable& result, const std::optional<std::vector<std::string>>& header,
                    const PlainLoad& load, const std::string& dataModelPath, const CsvFormat& format,
                    const std::vector<std::string>& categorical)
{
    if (!header) return false;
    CsvTable plainResult;
    plainResult.source = result.source;
    std::vector<std::size_t> source;
    std::vector<Storage> given;
    if (!dataModelPath.empty()) {
        // A data model that does not fit is reported after the file's own
        // problems, which the full reader finds.
        try {
            columnsFromDataModel(plainResult, *header, dataModelPath, source);
        } catch (const InputError&) {
            return false;
        }
        given.assign(header->size(), Storage::None);
        for (std::size_t i = 0; i < source.size(); ++i)
            given[source[i]] = static_cast<Storage>(plainResult.table.columns()[i].storage);
    } else if (!categorical.empty()) {
        given.assign(header->size(), Storage::None);   // None: inferred
        for (std::size_t i = 0; i < header->size(); ++i)
            if (std::find(categorical.begin(), categorical.end(), (*header)[i]) != categorical.end())
                given[i] = Storage::String;
    }
    auto plain = load(given);
    if (!plain) return false;
    // The header's problems are reported once the records have loaded: a
    // file the chunks decline (a zero byte among its first lines, say) gets
    // the full reader's message, whose first checks come in the same order.
    checkDelimiterHint(*header, result.source, format);
    checkHeaderEncoding(*header, result.source, format);
    checkCategoricalNames(*header, categorical, result.source);
    std::vector<refhost::Column> columns;
    std::vector<refhost::ColumnValues> values;
    if (dataModelPath.empty()) {
        for (std::size_t i = 0; i < plain->header.size(); ++i) {
            const Storage storage = plain->storages[i];
            const Measure measure = storage == Storage::String ? Measure::Nominal : Measure::Continuous;
            columns.push_back({plain->header[i], static_cast<int>(storage), static_cast<int>(measure)});
            plainResult.fields.push_back({plain->header[i], columns.back().storage, columns.back().measure});
            values.push_back(std::move(plain->values[i]));
            source.push_back(i);
        }
    } else {
        columns = plainResult.table.columns();
        for (std::size_t i = 0; i < source.size(); ++i) values.push_back(std::move(plain->values[source[i]]));
    }
    plainResult.table = refhost::Table(std::move(columns), std::move(values));
    plainResult.csvColumns = std::move(source);
    result = std::move(plainResult);
    return true;
}

// Number columns keep digest rows for this many distinct values.
constexpr std::size_t kDigestNumbers = 1024;

// Hashes texts and views alike, so a set of texts is searched by view.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};

// What the second pass of profileCsvFile learns about one column. A text
// column's distinct texts are kept (and the rows that bring them) up to
// one past the category limit and while they fit in `textBudget` bytes;
// past that only their hashes are, to count them, and a column whose texts
// did not fit is marked `unkept`. The longest text is measured, not kept,
// so that a column of long distinct texts takes memory in proportion to
// neither the file nor its number of lines.
struct ColumnDigest {
    explicit ColumnDigest(std::size_t budget) : textBudget(budget) {}

    std::unordered_set<std::string, TextHash, std::equal_to<>> texts;
    std::unordered_set<std::size_t> counted;   // hashes of the texts past `texts`
    NumberSet numbers;
    bool more = false;             // more distinct values than counted
    bool unkept = false;           // a distinct text was not kept for want of room
    std::size_t missing = 0;
    std::size_t longest = 0;       // longest text so far
    std::size_t textBytes = 0;     // bytes of the texts collected
    std::size_t textBudget;

    std::size_t distinct() const { return texts.size() + counted.size() + numbers.size(); }

    // What a kept row is to hold of this column's value.
    enum class Keep { Row, Value, Drop };

    // Row: the digest must keep the row for this value. Value: the row may
    // hold it. Drop: a text the digest did not keep, which a row kept for
    // another column's sake holds as missing.
    Keep observe(const refhost::ColumnValues& values, std::size_t row)
    {
        using Kind = refhost::ColumnValues::Kind;
        if (values.isMissing(row)) {
            ++missing;
            return Keep::Value;
        }
        if (values.kind() == Kind::Text) {
            const std::string_view text = values.dictionary().at(values.codes()[row]);
            longest = std::max(longest, text.size());
            if (texts.find(text) != texts.end()) return Keep::Value;
            if (more) return Keep::Drop;
            if (counted.empty() && texts.size() <= kCategoryLimit && textBytes + text.size() <= textBudget) {
                texts.emplace(text);
                textBytes += text.size();
                return Keep::Row;
            }
            unkept = unkept || texts.size() <= kCategoryLimit;
            if (texts.size() + counted.size() >= kDistinctLimit) {
                more = !counted.count(TextHash()(text));
            } else {
                counted.insert(TextHash()(text));
            }
            return Keep::Drop;
        }
        double value = values.kind() == Kind::Integer ? static_cast<double>(values.integers()[row])
                                                      : values.reals()[row];
        if (numbers.size() < kDistinctLimit) {
            const bool fresh = numbers.insert(value);
            return fresh && numbers.size() <= kDigestNumbers ? Keep::Row : Keep::Value;
        }
        // Full: a value not yet counted means there are more.
        if (!more && numbers.insert(value)) more = true;
        return Keep::Value;
    }
};

}  // namespace

CsvTable profileCsvFile(const std::string& csvPath, const std::string& dataModelPath, const CsvFormat& format,
                        const TypedCsvReader& readTyped,
                        const std::function<void(const refhost::Table&, const CsvBlock&)>& eachBlock,
                        const std::vector<std::string>& categorical, std::size_t textBudget)
{
    CsvTable result;
    result.source = csvPath == "-" ? "<stdin>" : csvPath;
    // Both passes, and the run's passes after them, read one descriptor.
    result.file = std::make_shared<const InputFile>(csvPath, "--data");
    // A plain file's storages are inferred in chunks on several threads;
    // any other, or a data model, takes the record-by-record reader.
    std::optional<PlainProfile> plain;
    if (dataModelPath.empty()) {
        const InputSource input(result.file, format.latin1);
        if (input.isPlainFile()) {
            plain = profilePlainCsv(result.file->descriptor(), categorical, parseThreads(), format);
        } else {
            // Compressed or converted: decoded on one thread, parsed on the others.
            const OpenStream open = [&] { return std::make_unique<InputSource>(result.file, format.latin1); };
            plain = profileStreamedCsv(open, categorical, parseThreads(), format, 0);
        }
    }
    if (plain) {
        result.file->checkUnchanged();
        checkDelimiterHint(plain->header, csvPath, format);
        checkHeaderEncoding(plain->header, result.source, format);
        addInferredColumns(result, plain->header, plain->storages, plain->tallies, categorical, result.csvColumns);
    } else {
        InputSource input(result.file, format.latin1);
        CsvStream reader(input.stream(), result.source, format);
        checkDelimiterHint(reader.header(), csvPath, format);
        checkHeaderEncoding(reader.header(), result.source, format);
        if (!dataModelPath.empty()) {
            columnsFromDataModel(result, reader.header(), dataModelPath, result.csvColumns);
        } else {
            std::vector<ColumnProfile> profiles(reader.header().size());
            CsvBlock block;
            while (reader.next(block))
                for (std::size_t r = 0; r < block.size(); ++r)
                    for (std::size_t i = 0; i < profiles.size(); ++i)
                        profiles[i].observe(block.value(r, i), block.isMissing(r, i), block.line(r));
            addProfiledColumns(result, reader.header(), profiles, categorical, result.csvColumns);
        }
    }
    std::vector<ColumnDigest> digests(result.table.columnCount(), ColumnDigest(textBudget));
    std::vector<ColumnDigest::Keep> keeps(digests.size());
    std::size_t records = 0;
    readTyped(result.file, format, result.table.columns(), result.csvColumns, !dataModelPath.empty(),
              [&](const refhost::Table& block, const CsvBlock& read) {
                  records += block.rowCount();
                  for (std::size_t r = 0; r < block.rowCount(); ++r) {
                      bool keep = false, drop = false;
                      for (std::size_t c = 0; c < digests.size(); ++c) {
                          keeps[c] = digests[c].observe(block.values(c), r);
                          keep |= keeps[c] == ColumnDigest::Keep::Row;
                          drop |= keeps[c] == ColumnDigest::Keep::Drop;
                      }
                      if (!keep) continue;
                      if (!drop) {
                          result.table.addRowFrom(block, r);
                          continue;
                      }
                      std::vector<refhost::Cell> cells;
                      for (std::size_t c = 0; c < digests.size(); ++c)
                          cells.push_back(keeps[c] == ColumnDigest::Keep::Drop ? refhost::Cell()
                                                                              : block.values(c).cell(r));
                      result.table.addRawRow(cells);
                  }
                  if (eachBlock) eachBlock(block, read);
              });
    for (std::size_t c = 0; c < digests.size(); ++c) {
        FieldSummary& field = result.fields[c];
        const ColumnDigest& digest = digests[c];
        field.missing = digest.missing;
        field.categories = std::min(kDistinctLimit, digest.distinct());
        field.moreCategories = digest.more;
        field.categoriesUnkept = digest.unkept;
        field.longestText = digest.longest;
    }
    result.streamedRecords = records;
    noteEncoding(result, format);
    return result;
}

void appendTypedValue(refhost::ColumnValues& column, std::string_view text, bool missing, Storage storage,
                      const std::string& source, std::uint64_t line, std::size_t csvColumn,
                      const std::string& name, bool fromDataModel)
{
    if (missing) {
        column.appendMissing();
        return;
    }
    switch (storage) {
    case Storage::String: column.appendText(text); return;
    case Storage::Integer:
        if (const auto v = parseInteger(text)) {
            column.appendInteger(*v);
            return;
        }
        break;
    case Storage::Real:
        if (const auto v = parseReal(text)) {
            column.appendReal(*v);
            return;
        }
        break;
    default:
        if (const auto v = parseNumber(storage, text)) {
            column.appendReal(*v);
            return;
        }
        break;
    }
    throw valueMismatch(source, line, csvColumn, name, text, storage, fromDataModel);
}

void checkDelimiterHint(const std::vector<std::string>& header, const std::string& source,
                        const CsvFormat& format)
{
    if (header.size() != 1) return;
    for (const char candidate : {';', '\t'}) {
        if (candidate == format.delimiter || header[0].find(candidate) == std::string::npos) continue;
        const std::string option = candidate == ';' ? "--delimiter ';'" : "--delimiter tab";
        throw InputError(source + ":1: the header is one field, '" + header[0] + "', holding " +
                         (candidate == ';' ? "semicolons" : "tabs") + "; if the fields are separated by " +
                         (candidate == ';' ? "semicolons, give " + option + " (and --decimal ',' for "
                                             "decimal commas)"
                                           : "tabs, give " + option));
    }
}

namespace {

// The table of `csvPath`, read in chunks when `chunks` is true and the
// input allows it, else record by record.
CsvTable readTable(const std::string& csvPath, const std::string& dataModelPath, const CsvFormat& format,
                   const std::vector<std::string>& categorical, bool chunks)
{
    CsvTable result;
    result.source = csvPath == "-" ? "<stdin>" : csvPath;
    auto input = std::make_unique<InputSource>(csvPath, "--data", format.latin1);
    bool loaded = false;
    if (chunks && input->isPlainFile()) {
        loaded = readPlainTable(
            result, readPlainHeader(csvPath, format),
            [&](const std::vector<Storage>& given) { return loadPlainCsv(csvPath, given, parseThreads(), format); },
            dataModelPath, format, categorical);
    } else if (chunks && input->isRegularFile()) {
        // A compressed or converted file is decoded on one thread and parsed
        // on the others; the stream is opened again for every pass.
        const OpenStream open = [&] { return std::make_unique<InputSource>(csvPath, "--data", format.latin1); };
        const std::size_t expected = input->decodedSizeHint();
        loaded = readPlainTable(
            result, readStreamedHeader(open, format),
            [&](const std::vector<Storage>& given) {
                return loadStreamedCsv(open, given, parseThreads(), format, expected);
            },
            dataModelPath, format, categorical);
        // The full reader reads the file from its start.
        if (!loaded) input = std::make_unique<InputSource>(csvPath, "--data", format.latin1);
    }
    if (!loaded) readFullTable(result, *input, result.source, dataModelPath, format, categorical);
    summariseColumns(result);
    noteEncoding(result, format);
    return result;
}

}  // namespace

CsvTable readCsvTable(const std::string& csvPath, const std::string& dataModelPath, const CsvFormat& format,
                      const std::vector<std::string>& categorical)
{
    return readTable(csvPath, dataModelPath, format, categorical, true);
}

CsvTable readCsvTableSerially(const std::string& csvPath, const std::string& dataModelPath, const CsvFormat& format,
                              const std::vector<std::string>& categorical)
{
    return readTable(csvPath, dataModelPath, format, categorical, false);
}

namespace {

// True when the file is read with decimal points but every non-number the
// field holds reads as a number with its one comma taken for the point
// ("2,5"): a file written with decimal commas, read without --decimal ','.
bool writesDecimalCommas(const TextTally& tally, const CsvFormat& format)
{
    if (format.decimal != '.' || format.delimiter == ',' || tally.otherTexts.empty()) return false;
    for (const std::string& text : tally.otherTexts)
        if (decimalCommaAt(text) == std::string_view::npos) return false;
    return true;
}

}  // namespace

void refuseStrayTexts(const CsvTable& data, const std::vector<std::size_t>& columns, const CsvFormat& format,
                      const std::vector<std::string>& categorical)
{
    if (!data.dataModelText.empty()) return;   // the data model chose the storages
    for (const std::size_t c : columns) {
        const FieldSummary& field = data.fields[c];
        const TextTally& tally = field.tally;
        if (field.storage != static_cast<int>(Storage::String) ||
            std::find(categorical.begin(), categorical.end(), field.name) != categorical.end())
            continue;
        const std::size_t csvColumn = c < data.csvColumns.size() ? data.csvColumns[c] : c;
        if (writesDecimalCommas(tally, format))
            throw InputError(data.source + ":" + std::to_string(tally.firstOtherLine) + ":" +
                             std::to_string(csvColumn + 1) + " (field '" + field.name + "'): the value '" +
                             tally.otherTexts.front() + "' is a number only with a decimal comma; if the file "
                             "writes decimals with commas, give --decimal ','; if the field is categorical, "
                             "give --categorical " + field.name);
        if (!hasStrayTexts(tally)) continue;
        std::string tokens;
        for (const std::string& token : format.naValues) tokens += token + ",";
        for (const std::string& text : tally.otherTexts) tokens += text + ",";
        tokens.pop_back();
        const std::string& first = tally.otherTexts.front();
        throw InputError(data.source + ":" + std::to_string(tally.firstOtherLine) + ":" +
                         std::to_string(csvColumn + 1) + " (field '" + field.name + "'): the value '" + first +
                         "' is not a number, while " + std::to_string(tally.numbers) + " of the field's " +
                         std::to_string(tally.numbers + tally.others) + " values are" +
                         (tally.others > 1 ? " (" + std::to_string(tally.others) + " values are not)" : "") +
                         "; if it marks a missing value, give --na-values '" + tokens +
                         "'; if the field is categorical, give --categorical " + field.name +
                         "; otherwise correct the value");
    }
}

}  // namespace splitrun

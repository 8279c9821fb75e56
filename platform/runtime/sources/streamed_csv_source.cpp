#include "streamed_csv_source.h"

#include <algorithm>
#include <exception>
#include <map>

#include "csv_stream.h"
#include "csv_table.h"
#include "errors.h"
#include "external_grouping.h"
#include "group_order.h"
#include "input_source.h"
#include "plain_csv_loader.h"

namespace splitrun {

StreamedCsvSource::Pass::Pass(const StreamedCsvSource& source)
    : source_(source),
      input_(source.file_ ? InputSource(source.file_, source.format_.latin1)
                          : InputSource(source.path_, "--data", source.format_.latin1)),
      stream_(input_.stream(), source.path_ == "-" ? "<stdin>" : source.path_, source.format_)
{
    // The columns were found in an earlier pass; a header that no longer
    // names them means the file is not the one that was looked at.
    const std::vector<std::string>& header = stream_.header();
    for (std::size_t i = 0; i < source.columns_.size(); ++i) {
        const std::size_t column = source.csvColumns_[i];
        if (column >= header.size() || header[column] != source.columns_[i].name)
            throw InputError(stream_.sourceName() + ": the input changed while it was read (its header "
                             "no longer has the field '" + source.columns_[i].name +
                             "'); let whatever writes it finish, or build from a copy");
    }
}

bool StreamedCsvSource::Pass::next(refhost::Table& block)
{
    try {
        if (!stream_.next(records_, source_.blockRecords_)) return false;
        const std::vector<refhost::Column>& columns = source_.columns_;
        std::vector<refhost::ColumnValues> values;
        values.reserve(columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const std::size_t from = source_.csvColumns_[i];
            values.emplace_back(refhost::ColumnValues::kindFor(columns[i].storage));
            refhost::ColumnValues& column = values.back();
            for (std::size_t r = 0; r < records_.size(); ++r)
                appendTypedValue(column, records_.value(r, from), records_.isMissing(r, from),
                                 static_cast<Storage>(columns[i].storage), stream_.sourceName(),
                                 records_.line(r), from, columns[i].name, source_.fromDataModel_);
        }
        block = refhost::Table(columns, std::move(values));
        read_ += records_.size();
        if (source_.onBlock_) source_.onBlock_(read_);
        return true;
    } catch (const std::exception& e) {
        source_.noteError(e.what());
        throw;
    }
}

void StreamedCsvSource::Pass::skip(std::size_t records)
{
    try {
        while (records > 0 && stream_.next(records_, std::min(records, source_.blockRecords_))) {
            records -= records_.size();
            read_ += records_.size();
        }
    } catch (const std::exception& e) {
        source_.noteError(e.what());
        throw;
    }
}

StreamedCsvSource::StreamedCsvSource(std::string path, CsvFormat format, std::vector<refhost::Column> columns,
                                     std::vector<std::size_t> csvColumns, std::size_t blockRecords)
    : path_(std::move(path)), format_(std::move(format)), columns_(std::move(columns)),
      csvColumns_(std::move(csvColumns)), blockRecords_(blockRecords)
{
}

StreamedCsvSource::StreamedCsvSource(std::shared_ptr<const InputFile> file, CsvFormat format,
                                     std::vector<refhost::Column> columns, std::vector<std::size_t> csvColumns,
                                     std::size_t blockRecords)
    : StreamedCsvSource(file->path(), std::move(format), std::move(columns), std::move(csvColumns), blockRecords)
{
    file_ = std::move(file);
}

std::unique_ptr<refhost::RecordPass> StreamedCsvSource::open() const { return openPass(); }

std::unique_ptr<StreamedCsvSource::Pass> StreamedCsvSource::openPass() const
{
    try {
        return std::make_unique<Pass>(*this);
    } catch (const std::exception& e) {
        noteError(e.what());
        throw;
    }
}

std::string StreamedCsvSource::error() const { return error_.get(); }

namespace {

using Key = std::vector<refhost::Cell>;

struct KeyLess {
    bool operator()(const Key& a, const Key& b) const
    {
        for (std::size_t i = 0; i < a.size(); ++i)
            if (const int order = compareCells(a[i], b[i])) return order < 0;
        return false;
    }
};

}  // namespace

void readStreamedCsv(const std::shared_ptr<const InputFile>& file, const CsvFormat& format,
                     const std::vector<refhost::Column>& columns, const std::vector<std::size_t>& csvColumns,
                     bool fromDataModel, const std::function<void(const refhost::Table&, const CsvBlock&)>& eachBlock)
{
    // The file is read in chunks on several threads (a compressed or
    // converted one decoded on a thread of its own); from the first chunk
    // that needs the full reader the records are read one by one.
    std::vector<std::pair<std::size_t, Storage>> wanted;
    for (std::size_t i = 0; i < columns.size(); ++i)
        wanted.emplace_back(csvColumns[i], static_cast<Storage>(columns[i].storage));
    CsvBlock lines;
    const auto eachChunk = [&](std::vector<refhost::ColumnValues>& values, std::size_t firstRecord) {
        const refhost::Table block(columns, std::move(values));
        lines.assignLines(firstRecord + 2, block.rowCount());
        eachBlock(block, lines);
    };
    PlainChunks quick;
    if (InputSource(file, format.latin1).isPlainFile()) {
        quick = readPlainChunks(file->descriptor(), wanted, parseThreads(), format, eachChunk);
    } else {
        const OpenStream open = [&] { return std::make_unique<InputSource>(file, format.latin1); };
        quick = readStreamedChunks(open, wanted, parseThreads(), format, eachChunk);
    }
    file->checkUnchanged();
    if (quick.complete) return;
    StreamedCsvSource source(file, format, columns, csvColumns);
    source.storagesFromDataModel(fromDataModel);
    const auto pass = source.openPass();
    pass->skip(quick.records);
    refhost::Table block;
    while (pass->next(block)) eachBlock(block, pass->records());
}

struct GroupingCheck::State {
    // The line where each group that has ended started, by key.
    std::map<Key, std::uint64_t, KeyLess> finished;
    Key current;
    std::uint64_t currentLine = 0;
    bool started = false;
    Key key;
    std::uint64_t budget = 0;   // 0: unbounded
    std::uint64_t memory = 0;   // of the finished keys
};

GroupingCheck::GroupingCheck(std::vector<std::size_t> keyColumns, std::string sourceName,
                             std::uint64_t memoryBudget)
    : keyColumns_(std::move(keyColumns)), sourceName_(std::move(sourceName)), state_(std::make_unique<State>())
{
    state_->key.resize(keyColumns_.size());
    state_->budget = memoryBudget;
}

GroupingCheck::~GroupingCheck() = default;

void GroupingCheck::add(const refhost::Table& block, const CsvBlock& records)
{
    State& s = *state_;
    for (std::size_t r = 0; r < block.rowCount(); ++r) {
        // Within a block the row before is compared in place; only a
        // block's first row and a new group's first row make a key.
        if (r > 0) {
            bool same = true;
            for (std::size_t column : keyColumns_) same = same && block.sameValue(r - 1, r, column);
            if (same) continue;
        }
        for (std::size_t i = 0; i < keyColumns_.size(); ++i) s.key[i] = block.at(r, keyColumns_[i]);
        if (s.started && !KeyLess()(s.key, s.current) && !KeyLess()(s.current, s.key)) continue;
        const std::uint64_t line = records.line(r);
        if (s.started && s.finished.emplace(s.current, s.currentLine).second && s.budget > 0) {
            std::size_t textBytes = 0;
            for (const refhost::Cell& cell : s.current)
                if (cell.isText()) textBytes += cell.asText().size();
            s.memory += keyMemory(textBytes, s.current.size());
            if (s.memory > s.budget) throw tooManyKeys(s.finished.size(), true);
        }
        const auto earlier = s.finished.find(s.key);
        if (earlier != s.finished.end())
            throw InputError(sourceName_ + ":" + std::to_string(line) + ": the split key " +
                             describeKey(block, keyColumns_, r) + " first appears at line " +
                             std::to_string(earlier->second) + " and reappears at line " +
                             std::to_string(line) +
                             " after another group started, so the file is not grouped by the "
                             "split fields; drop --presorted to let split-run sort the records");
        s.current = s.key;
        s.currentLine = line;
        s.started = true;
    }
}

void checkGroupedFile(const StreamedCsvSource& source, const std::vector<std::size_t>& keyColumns,
                      const std::string& sourceName,
                      const std::function<void(const refhost::Table&)>& eachBlock, std::uint64_t memoryBudget)
{
    GroupingCheck check(keyColumns, sourceName, memoryBudget);
    const auto pass = source.openPass();
    refhost::Table block;
    while (pass->next(block)) {
        check.add(block, pass->records());
        if (eachBlock) eachBlock(block);
    }
}

}  // namespace splitrun

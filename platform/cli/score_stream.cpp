// The scoring pipeline. The calling thread reads blocks of records and hands
// them out; workers score a block into its output text; the calling thread
// writes finished blocks strictly in the order they were read. At most
// kBlocksPerThread blocks per thread are in flight, so memory does not grow
// with the input.
#include "score_stream.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "csv_writer.h"
#include "value_parsing.h"

namespace splitrun {

namespace {

constexpr std::size_t kBlockRecords = 2048;
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kBlocksPerThread = 3;

struct Block {
    CsvBlock records;
    // The records were read with a comma delimiter: an unquoted field then
    // holds no comma, quote or line break and is written as it was read.
    bool commaDelimited = false;
    std::string text;       // the scored lines
    ScoreCounts counts;
    std::exception_ptr error;
    bool done = false;
};

// Scores the block's records into its text; reuses the block's storage.
void scoreBlock(const splitmodels::SplitScorer& scorer, Block& block)
{
    thread_local std::vector<splitmodels::ScoreCell> cells;
    thread_local splitmodels::ScoreResult result;
    const std::size_t labels = scorer.isClassification() ? scorer.classLabels().size() : 0;
    const std::vector<std::size_t>& numberColumns = scorer.numberColumns();
    block.text.clear();
    block.counts = ScoreCounts{};
    const CsvBlock& records = block.records;
    // The input's share of the output is about its own size.
    block.text.reserve(records.textBytes() + records.size() * (records.width() + 24 + 20 * labels));
    cells.resize(records.width());
    for (std::size_t r = 0; r < records.size(); ++r) {
        // A line without quotes whose missing values are empty fields and
        // that holds no present NA is written as it was read, in one piece.
        const std::string_view line = records.plainLine(r);
        bool copyLine = block.commaDelimited && !line.empty();
        for (std::size_t i = 0; i < records.width(); ++i) {
            const std::string_view value = records.value(r, i);
            const bool missing = records.isMissing(r, i);
            cells[i] = {value, missing};
            copyLine &= missing ? value.empty() : value != "NA";
        }
        if (copyLine) {
            block.text += line;
            block.text += ',';
        } else {
            for (std::size_t i = 0; i < records.width(); ++i) {
                const splitmodels::ScoreCell& cell = cells[i];
                if (!cell.missing) {
                    if (block.commaDelimited && !records.isQuoted(r, i) && cell.text != "NA")
                        block.text += cell.text;
                    else
                        appendCsvCell(block.text, cell.text);
                }
                block.text += ',';
            }
        }
        // Numbers the model reads are read here, straight from the block,
        // the quick way where that is exact; the scorer reads the others.
        for (const std::size_t i : numberColumns) {
            splitmodels::ScoreCell& cell = cells[i];
            const char* const end = cell.text.data() + cell.text.size();
            const char* stop = nullptr;
            cell.hasNumber =
                !cell.missing && readDecimalPrefix(cell.text.data(), end, &cell.number, &stop) && stop == end;
        }
        scorer.score(cells, result);
        ++block.counts.records;
        if (result.invalid)
            ++block.counts.invalid;
        else if (!result.selected)
            ++block.counts.unmatched;
        else if (result.predicted.empty())
            ++block.counts.unpredicted;
        if (!result.predicted.empty()) appendCsvCell(block.text, std::string_view(result.predicted));
        for (std::size_t k = 0; k < labels; ++k) {
            block.text += ',';
            if (!result.predicted.empty() && k < result.probabilities.size())
                appendCsvNumber(block.text, result.probabilities[k]);
        }
        block.text += '\n';
    }
}

void addCounts(ScoreCounts& total, const ScoreCounts& block)
{
    total.records += block.records;
    total.unmatched += block.unmatched;
    total.invalid += block.invalid;
    total.unpredicted += block.unpredicted;
}

// Reads the next records into `block`; false when none was left.
bool fill(CsvStream& reader, Block& block)
{
    block.commaDelimited = reader.format().delimiter == ',';
    return reader.next(block.records, kBlockRecords, kBlockBytes);
}

class Pipeline {
public:
    Pipeline(const splitmodels::SplitScorer& scorer, unsigned threads) : scorer_(scorer)
    {
        for (unsigned i = 0; i < threads; ++i) {
            try {
                workers_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // the threads started so far do the work
            }
        }
    }

    ~Pipeline()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (std::thread& worker : workers_) worker.join();
    }

    bool threaded() const { return !workers_.empty(); }
    std::size_t capacity() const { return kBlocksPerThread * (workers_.empty() ? 1 : workers_.size()); }

    // Hands a filled block to the workers.
    void submit(std::shared_ptr<Block> block)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(block);
        }
        ready_.notify_one();
    }

    // Waits until `block` is scored.
    void await(Block& block)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [&] { return block.done; });
    }

private:
    void work()
    {
        while (true) {
            std::shared_ptr<Block> block;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;
                block = queue_.front();
                queue_.pop_front();
            }
            try {
                scoreBlock(scorer_, *block);
            } catch (...) {
                block->error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                block->done = true;
            }
            finished_.notify_all();
        }
    }

    const splitmodels::SplitScorer& scorer_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Block>> queue_;
    bool stopping_ = false;
};

void writeHeader(const CsvStream& reader, const splitmodels::SplitScorer& scorer, std::ostream& out)
{
    std::string line;
    for (const std::string& name : reader.header()) {
        appendCsvCell(line, std::string_view(name));
        line += ',';
    }
    appendCsvCell(line, "predicted_" + scorer.targetName());
    if (scorer.isClassification())
        for (const std::string& label : scorer.classLabels()) {
            line += ',';
            appendCsvCell(line, "probability_" + label);
        }
    line += '\n';
    out << line;
}

}  // namespace

ScoreCounts scoreStream(CsvStream& reader, const splitmodels::SplitScorer& scorer, std::ostream& out,
                        unsigned threads)
{
    writeHeader(reader, scorer, out);
    ScoreCounts total;
    Pipeline pipeline(scorer, threads > 1 ? threads : 0);
    const auto emit = [&](Block& block) {
        if (block.error) std::rethrow_exception(block.error);
        out.write(block.text.data(), static_cast<std::streamsize>(block.text.size()));
        addCounts(total, block.counts);
    };
    if (!pipeline.threaded()) {
        Block block;
        while (fill(reader, block)) {
            scoreBlock(scorer, block);
            emit(block);
        }
        return total;
    }
    // Blocks in flight in reading order; written blocks are reused.
    std::deque<std::shared_ptr<Block>> inFlight;
    std::vector<std::shared_ptr<Block>> spare;
    const auto writeOldest = [&] {
        std::shared_ptr<Block> oldest = inFlight.front();
        inFlight.pop_front();
        pipeline.await(*oldest);
        emit(*oldest);
        spare.push_back(oldest);
    };
    while (true) {
        if (inFlight.size() >= pipeline.capacity()) writeOldest();
        std::shared_ptr<Block> block;
        if (spare.empty()) {
            block = std::make_shared<Block>();
        } else {
            block = spare.back();
            spare.pop_back();
        }
        if (!fill(reader, *block)) break;
        block->done = false;
        block->error = nullptr;
        inFlight.push_back(block);
        pipeline.submit(block);
    }
    while (!inFlight.empty()) writeOldest();
    return total;
}

}  // namespace splitrun

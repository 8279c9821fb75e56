// The scoring pipeline. The calling thread cuts the input into chunks of
// whole lines (CsvStream::nextChunk: no parsing, only line ends and quotes
// are looked for) and hands them out; workers parse a chunk, score its
// records and format them into the block's output text; the calling thread
// writes finished blocks strictly in the order they were read. Where a
// chunk cannot be cut (quotes), the calling thread reads that block of
// records itself, the way the serial reader does. At most kBlocksPerThread
// blocks per thread are in flight, so memory does not grow with the input.
// A block that fails (malformed input) keeps its error until its turn to be
// written comes, so the first error in the file is the one reported, with
// the line number the serial reader would give, and nothing after it is
// written.
#include "score_stream.h"

#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <limits>
#include <vector>

#include <splitmodels/inference.h>

#include "csv_writer.h"
#include "value_parsing.h"

namespace splitrun {

namespace {

constexpr std::size_t kBlockRecords = 2048;
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kBlocksPerThread = 3;
constexpr std::size_t kChunkBytes = std::size_t{1} << 17;

struct Block {
    // A chunk of the input's lines still to be parsed (when !parsed).
    CsvChunk raw;
    bool parsed = false;
    CsvBlock records;
    // The records were read with a comma delimiter: an unquoted field then
    // holds no comma, quote or line break and is written as it was read.
    bool commaDelimited = false;
    std::string text;       // the scored lines
    ScoreCounts counts;
    std::exception_ptr error;
    bool done = false;
};

// The p quantile of t on `df` degrees of freedom (infinite: the normal).
// Groups differ in their degrees of freedom, so each thread keeps those it
// has computed.
double quantile(double p, double df)
{
    thread_local std::unordered_map<double, double> known;
    thread_local double knownP = std::nan("");
    if (p != knownP) {
        known.clear();
        knownP = p;
    }
    const auto found = known.find(df);
    if (found != known.end()) return found->second;
    return known[df] = splitmodels::studentQuantile(p, df);
}

void appendNumberOr(std::string& text, double value, std::string_view na)
{
    text += ',';
    if (std::isfinite(value))
        appendCsvNumber(text, value);
    else
        text += na;
}

// The standard error and interval cells of one scored record: a linear
// model's as R's predict.lm(se.fit = TRUE, interval = ...); a glm's or
// logistic one's as predict.glm(se.fit = TRUE) on the scale of the
// prediction (a logistic model's on both), with the Wald interval of the
// linear predictor, mapped through the inverse link on the response scale.
void appendIntervalCells(std::string& text, const ScoreOutput& output, bool classification,
                         const splitmodels::ScoreResult& result)
{
    const double se = result.linkStdError, link = result.link;
    const double tail = (1.0 - output.level) / 2.0;
    const bool interval = output.interval != ScoreOutput::Interval::None;
    if (classification || output.generalized) {
        const bool linkScale = output.linkScale && !classification;
        if (output.seFit) {
            appendNumberOr(text, linkScale ? se : result.meanStdError, output.naOut);
            if (classification) appendNumberOr(text, se, output.naOut);
        }
        if (interval && linkScale) {
            const double q = -quantile(tail, std::numeric_limits<double>::infinity());
            appendNumberOr(text, link - q * se, output.naOut);
            appendNumberOr(text, link + q * se, output.naOut);
        } else if (interval) {
            appendNumberOr(text, result.meanLow, output.naOut);
            appendNumberOr(text, result.meanHigh, output.naOut);
        }
        return;
    }
    if (output.seFit) appendNumberOr(text, se, output.naOut);
    if (!interval) return;
    const double width = output.interval == ScoreOutput::Interval::Prediction
                             ? std::sqrt(se * se + result.sigma * result.sigma)
                             : se;
    const double q = std::isfinite(se) && result.dfResidual > 0 ? -quantile(tail, result.dfResidual) : std::nan("");
    appendNumberOr(text, link - q * width, output.naOut);
    appendNumberOr(text, link + q * width, output.naOut);
}

// Whether the scorer gave a prediction: a class comes with its
// probabilities, so a class that is the empty string still counts.
bool predicted(const splitmodels::ScoreResult& result)
{
    return !result.predicted.empty() || !result.probabilities.empty();
}

// A cell read as a whole decimal number; false when it is missing or not one.
bool readNumber(const splitmodels::ScoreCell& cell, double& value)
{
    const char* stop = nullptr;
    const char* end = cell.text.data() + cell.text.size();
    return !cell.missing && readDecimalPrefix(cell.text.data(), end, &value, &stop) && stop == end;
}

// A glm's (or logistic model's) diagnostics of a record with response `y`
// and prior weight `weight`, as R's influence measures give them: the
// working weight w = weight · (dμ/dη)² / V(μ) of the fit's last step makes
// the hat value w · se²/φ, the deviance and Pearson residuals give the standardised
// residual (rstandard), Cook's distance (from the Pearson residual) and
// .sigma, the deviance's root with the record left out. A record of weight
// 0 has no influence measures, as R leaves it out of them.
void appendGlmDiagnostics(std::string& text, std::string_view na, double y, double weight,
                          const splitmodels::ScoreResult& result)
{
    const double mu = result.mean, phi = result.dispersion;
    const double deviance = splitmodels::devianceResidual(result.distribution, y, mu, weight);
    const double pearson = (y - mu) * std::sqrt(weight / result.variance);
    const double nan = std::nan("");
    double hat = nan, sigma = nan, cooks = nan, standardised = nan;
    if (weight > 0) {
        hat = weight * result.workingWeight * result.linkStdError * result.linkStdError / phi;
        const double leaveOut = (result.deviance - deviance * deviance / (1.0 - hat)) / (result.dfResidual - 1.0);
        sigma = leaveOut >= 0 ? std::sqrt(leaveOut) : nan;
        cooks = pearson / (1.0 - hat) * pearson / (1.0 - hat) * hat / (phi * result.parameters);
        standardised = deviance / std::sqrt(phi * (1.0 - hat));
    }
    for (const double value : {result.link, deviance, hat, sigma, cooks, standardised, mu, pearson})
        appendNumberOr(text, value, na);
}

// The diagnostics of a record the fit used, as R's augment gives them
// (hatvalues, rstandard, cooks.distance, influence()$sigma; for a glm or
// logistic model on the link scale, then the fitted mean and the Pearson
// residual); false for a record without a prediction, a target or a weight.
bool appendDiagnostics(std::string& text, const ScoreOutput& output, bool classification,
                       const std::vector<splitmodels::ScoreCell>& cells, const splitmodels::ScoreResult& result)
{
    const splitmodels::ScoreCell& target = cells[static_cast<std::size_t>(output.augmentTarget)];
    if (!predicted(result) || target.missing || !std::isfinite(result.link)) return false;
    double y = 0.0, weight = 1.0;
    if (classification)
        y = target.text == output.event ? 1.0 : 0.0;
    else if (!readNumber(target, y))
        return false;
    if (output.augmentWeight >= 0 && !readNumber(cells[static_cast<std::size_t>(output.augmentWeight)], weight))
        return false;
    text.pop_back();  // the comma after the record's last field: each cell below brings its own
    const std::string_view na = output.naOut;
    if (classification || output.generalized) {
        appendGlmDiagnostics(text, na, y, weight, result);
        text += '\n';
        return true;
    }
    const double sigma = result.sigma, df = result.dfResidual;
    const double residual = y - result.link;
    if (std::isnan(result.linkStdError)) {
        // A saturated fit (no residual degrees of freedom, so no covariance)
        // reproduces its records: R's hat value is 1 and the influence
        // measures are undefined.
        appendNumberOr(text, result.link, na);
        appendNumberOr(text, residual, na);
        appendNumberOr(text, 1.0, na);
        for (int k = 0; k < 3; ++k) appendNumberOr(text, std::nan(""), na);
        text += '\n';
        return true;
    }
    const double hat = result.linkStdError * result.linkStdError / (sigma * sigma);
    const double standardised = residual / (sigma * std::sqrt(1.0 - hat));
    const double leaveOut = (sigma * sigma * df - residual * residual / (1.0 - hat)) / (df - 1.0);
    appendNumberOr(text, result.link, na);
    appendNumberOr(text, residual, na);
    appendNumberOr(text, hat, na);
    appendNumberOr(text, leaveOut >= 0 ? std::sqrt(leaveOut) : std::nan(""), na);
    appendNumberOr(text, standardised * standardised * hat / (result.parameters * (1.0 - hat)), na);
    appendNumberOr(text, standardised, na);
    text += '\n';
    return true;
}

// Parses the block's chunk, if it holds one, with `parser` (a chunk reader)
// and scores the block's records into its text; reuses the block's storage.
void scoreBlock(const splitmodels::SplitScorer& scorer, const ScoreOutput& output, CsvStream& parser,
                Block& block)
{
    const std::string_view na = output.naOut;
    if (!block.parsed) parser.parseChunk(block.raw, block.records);
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
        // A line without quotes, missing values or a present text that
        // reads back as missing (NA, the missing-value token) is written as
        // it was read, in one piece.
        const std::size_t start = block.text.size();
        const std::string_view line = records.plainLine(r);
        bool copyLine = block.commaDelimited && !line.empty();
        for (std::size_t i = 0; i < records.width(); ++i) {
            const std::string_view value = records.value(r, i);
            const bool missing = records.isMissing(r, i);
            cells[i] = {value, missing};
            copyLine &= missing ? value.empty() && na.empty() : value != "NA" && value != na;
        }
        if (copyLine) {
            block.text += line;
            block.text += ',';
        } else {
            for (std::size_t i = 0; i < records.width(); ++i) {
                const splitmodels::ScoreCell& cell = cells[i];
                if (cell.missing)
                    block.text += na;
                else if (!na.empty() && cell.text == na)
                    appendQuotedCsvCell(block.text, cell.text);
                else if (block.commaDelimited && !records.isQuoted(r, i) && cell.text != "NA")
                    block.text += cell.text;
                else
                    appendCsvCell(block.text, cell.text);
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
        if (output.augmentTarget >= 0) {
            if (!appendDiagnostics(block.text, output, scorer.isClassification(), cells, result))
                block.text.resize(start);   // not a record the fit used
            continue;
        }
        ++block.counts.records;
        if (result.invalid)
            ++block.counts.invalid;
        else if (!result.selected)
            ++block.counts.unmatched;
        else if (!predicted(result))
            ++block.counts.unpredicted;
        if (!predicted(result))
            block.text += na;
        else if (!na.empty() && result.predicted == na)
            appendQuotedCsvCell(block.text, result.predicted);
        else
            appendCsvCell(block.text, std::string_view(result.predicted));
        for (std::size_t k = 0; k < labels; ++k) {
            block.text += ',';
            if (k < result.probabilities.size())
                appendCsvNumber(block.text, result.probabilities[k]);
            else
                block.text += na;
        }
        appendIntervalCells(block.text, output, scorer.isClassification(), result);
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

// Cuts the next chunk into `block` (with `chunks`) or, where no chunk can
// be cut, reads the next records into it; false when none was left.
bool fill(CsvStream& reader, Block& block, bool chunks)
{
    block.commaDelimited = reader.format().delimiter == ',';
    switch (chunks ? reader.nextChunk(block.raw, kChunkBytes) : CsvStream::Chunk::Serial) {
    case CsvStream::Chunk::Cut:
        block.parsed = false;
        return true;
    case CsvStream::Chunk::End:
        return false;
    case CsvStream::Chunk::Serial:
        break;
    }
    block.parsed = true;
    return reader.next(block.records, kBlockRecords, kBlockBytes);
}

// A reader for the chunks `reader` cuts.
CsvStream chunkParser(const CsvStream& reader)
{
    return CsvStream(reader.sourceName(), reader.format(), reader.header());
}

class Pipeline {
public:
    Pipeline(const splitmodels::SplitScorer& scorer, const ScoreOutput& output, const CsvStream& reader,
             unsigned threads)
        : scorer_(scorer), output_(output), reader_(reader)
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
        CsvStream parser = chunkParser(reader_);
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
                scoreBlock(scorer_, output_, parser, *block);
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
    const ScoreOutput& output_;
    const CsvStream& reader_;   // only its name, format and header are read
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Block>> queue_;
    bool stopping_ = false;
};

void writeHeader(const CsvStream& reader, const splitmodels::SplitScorer& scorer, const ScoreOutput& output,
                 std::ostream& out)
{
    std::string line;
    for (const std::string& name : reader.header()) {
        appendCsvCell(line, std::string_view(name));
        line += ',';
    }
    if (output.augmentTarget >= 0) {
        line.pop_back();  // the input's columns, then the diagnostics
        line += ",.fitted,.resid,.hat,.sigma,.cooksd,.std.resid";
        line += scorer.isClassification() || output.generalized ? ",.fitted.response,.resid.pearson\n" : "\n";
        out << line;
        return;
    }
    appendCsvCell(line, "predicted_" + scorer.targetName());
    if (scorer.isClassification())
        for (const std::string& label : scorer.classLabels()) {
            line += ',';
            appendCsvCell(line, "probability_" + label);
        }
    if (output.seFit) line += scorer.isClassification() ? ",se_fit,se_fit_link" : ",se_fit";
    if (output.interval != ScoreOutput::Interval::None) line += ",lower,upper";
    line += '\n';
    out << line;
}

}  // namespace

ScoreCounts scoreStream(CsvStream& reader, const splitmodels::SplitScorer& scorer, std::ostream& out,
                        unsigned threads, const ScoreOutput& output)
{
    writeHeader(reader, scorer, output, out);
    ScoreCounts total;
    Pipeline pipeline(scorer, output, reader, threads > 1 ? threads : 0);
    const auto emit = [&](Block& block) {
        if (block.error) std::rethrow_exception(block.error);
        out.write(block.text.data(), static_cast<std::streamsize>(block.text.size()));
        addCounts(total, block.counts);
    };
    if (!pipeline.threaded()) {
        // On one thread, cutting chunks would only copy the input once more.
        CsvStream parser = chunkParser(reader);
        Block block;
        while (fill(reader, block, false)) {
            scoreBlock(scorer, output, parser, block);
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
        block->done = false;
        block->error = nullptr;
        try {
            if (!fill(reader, *block, true)) break;
        } catch (...) {
            // Read on this thread: the error waits for the blocks before it,
            // whose own errors, if any, come first in the file.
            block->error = std::current_exception();
            block->done = true;
            inFlight.push_back(block);
            break;
        }
        inFlight.push_back(block);
        pipeline.submit(block);
    }
    while (!inFlight.empty()) writeOldest();
    return total;
}

}  // namespace splitrun

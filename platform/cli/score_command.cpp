// split-run score: apply a split model to a CSV file in one streaming pass.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include <splitmodels/scorer.h>

#include "commands.h"
#include "csv_stream.h"
#include "csv_table.h"
#include "csv_writer.h"
#include "errors.h"
#include "input_source.h"
#include "interrupt_cleanup.h"
#include "output_file.h"
#include "score_stream.h"
#include "visible_text.h"

namespace fs = std::filesystem;

namespace splitrun {

namespace {

// A model document is read whole; a larger one is refused before that.
constexpr std::uintmax_t kMaxModelBytes = std::uintmax_t{1} << 30;

// Reads the model file in chunks, handing each to `put`; refused as soon as
// it proves larger than the limit or not to start as a document.
void readModelFile(const std::string& path, const std::function<void(std::string_view)>& put)
{
    std::error_code ec;
    const fs::file_type type = fs::status(path, ec).type();
    if (type == fs::file_type::directory)
        throw InputError("--model " + path + ": is a directory; give the split model's PMML file");
    // A device (such as /dev/zero) or a socket holds no document: refused
    // before any of it is read. A pipe is read as it comes, up to the limit.
    if (type == fs::file_type::character || type == fs::file_type::block || type == fs::file_type::socket)
        throw InputError("--model " + path + ": is " +
                         (type == fs::file_type::socket ? "a socket" : "a device") +
                         ", not a file; give the split model's PMML file (split-model.pmml)");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw InputError("--model " + path +
                         ": cannot open the file; check the path and that the file is readable");
    const std::string tooLarge = "--model " + path + ": is larger than " +
                                 std::to_string(kMaxModelBytes >> 20) +
                                 " MiB, the most a model document may hold; give a split model written by "
                                 "'split-run build' (split-model.pmml)";
    if (const std::uintmax_t size = fs::file_size(path, ec); !ec && size > kMaxModelBytes)
        throw InputError(tooLarge);
    std::uintmax_t total = 0;
    bool started = false;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        const std::string_view got(chunk, static_cast<std::size_t>(in.gcount()));
        // A document starts with markup after white space; anything else
        // (a device such as /dev/zero) is refused before more is read.
        if (!started) {
            const std::size_t start = got.find_first_not_of(std::string_view("\xEF\xBB\xBF \t\r\n", 7));
            if (const std::string utf16 = utf16Hint(got.substr(0, 64)); !utf16.empty())
                throw InputError("--model " + path + ": " + utf16);
            if (start != std::string_view::npos && got[start] != '<')
                throw InputError("--model " + path + ": is not an XML document; give a split model written by "
                                                     "'split-run build' (split-model.pmml)");
            started = start != std::string_view::npos;
        }
        // No document holds a zero byte: binary data is refused at once.
        if (const std::size_t zero = got.find('\0'); zero != std::string_view::npos)
            throw InputError("--model " + path + ": holds a zero byte at offset " + std::to_string(total + zero) +
                             ", which no model document does (the file looks binary); give a split model "
                             "written by 'split-run build' (split-model.pmml)");
        total += got.size();
        if (total > kMaxModelBytes) throw InputError(tooLarge);  // a pipe or a growing file
        put(got);
    }
    if (in.bad()) throw InputError("--model " + path + ": reading the file failed");
}

// A model from a pipe is copied to a temporary file (removed again, also on
// an interrupt), which the scorer then reads in blocks as it reads any
// regular file: parsed whole, a large model costs many times its size.
splitmodels::SplitScorer loadPipedModel(const std::string& path)
{
    const char* tmpdir = std::getenv("TMPDIR");
    const fs::path parent = tmpdir && *tmpdir ? tmpdir : "/tmp";
    removeAbandonedWorkingPaths(parent, "split-run-model");
    std::random_device random;
    const fs::path copy = parent / (workingNamePrefix("split-run-model") + std::to_string(random()));
    RemoveOnInterrupt guard(copy);
    struct Remove {
        fs::path path;
        ~Remove() { std::error_code ignored; fs::remove(path, ignored); }
    } remove{copy};
    std::ofstream out(copy, std::ios::binary | std::ios::trunc);
    if (!out) throw InputError("--model " + path + ": cannot create a temporary copy in " + parent.string() +
                               "; set TMPDIR to a writable directory");
    readModelFile(path, [&](std::string_view chunk) { out.write(chunk.data(), static_cast<std::streamsize>(chunk.size())); });
    out.close();
    if (!out) throw InputError("--model " + path + ": cannot write a temporary copy in " + parent.string() +
                               "; set TMPDIR to a directory with room");
    return splitmodels::SplitScorer::fromPmmlFile(copy.string());
}

void reportCounts(const ScoreCounts& counts, const splitmodels::SplitScorer& scorer, const std::string& naOut,
                  std::ostream& out)
{
    const std::string none = naOut.empty() ? "empty predictions" : "predictions " + visibleText(naOut);
    if (!scorer.groupKey().empty()) {
        std::string key;
        for (const std::string& value : scorer.groupKey()) key += (key.empty() ? "" : ", ") + visibleText(value);
        out << "The model is one group's (" << key << "): it scores only that group's records; "
            << counts.unmatched << " records of other groups have " << none << "\n";
    } else if (counts.unmatched > 0) {
        out << counts.unmatched << " records matched no segment and have " << none << "\n";
    }
    if (counts.invalid > 0)
        out << counts.invalid
            << " records hold a value the model cannot read (not of its field's type, or a category "
               "the model does not know) and have "
            << none << "\n";
    if (counts.unpredicted > 0)
        out << counts.unpredicted << " records lack an input value the model needs and have " << none << "\n";
}

splitmodels::SplitScorer loadScorer(const std::string& path)
{
    // A regular file is read in blocks by the scorer, never held whole.
    std::error_code ec;
    const std::uintmax_t size = fs::is_regular_file(path, ec) ? fs::file_size(path, ec) : 0;
    const bool inBlocks = !ec && size > 0 && size <= kMaxModelBytes && std::ifstream(path, std::ios::binary).good();
    const bool piped = !inBlocks && fs::status(path, ec).type() == fs::file_type::fifo;
    std::string text;
    if (!inBlocks && !piped) readModelFile(path, [&](std::string_view chunk) { text.append(chunk); });
    try {
        if (piped) return loadPipedModel(path);
        return inBlocks ? splitmodels::SplitScorer::fromPmmlFile(path) : splitmodels::SplitScorer::fromPmml(text);
    } catch (const splitmodels::ScoreError& e) {
        throw InputError("--model " + path + ": " + e.what() +
                         "; give a split model written by 'split-run build' (split-model.pmml)");
    }
}

}  // namespace

int runScore(const ScoreOptions& options, std::ostream& out, std::ostream& err)
{
    // '-' reads the model from standard input, through its device name.
    splitmodels::SplitScorer scorer = loadScorer(options.modelFile == "-" ? "/dev/stdin" : options.modelFile);
    if (options.linkScale && scorer.isClassification())
        throw InputError("--type link: " + options.modelFile + " classifies, and its output is the "
                         "classes' probabilities; --type link applies to regression models");
    scorer.setLinkScale(options.linkScale);

    InputSource input(options.dataFile, "--data", options.format.latin1);
    CsvStream reader(input.stream(), options.dataFile == "-" ? "<stdin>" : options.dataFile, options.format);
    checkDelimiterHint(reader.header(), options.dataFile, options.format);
    try {
        scorer.bind(reader.header());
    } catch (const splitmodels::ScoreError& e) {
        throw InputError("--data " + options.dataFile + ": " + e.what() +
                         "; the file must have every field the model reads");
    }

    OutputFile file(options.outFile, {{"--data", options.dataFile}, {"--model", options.modelFile}});
    ScoreOutput output;
    output.naOut = options.naOut;
    output.seFit = options.seFit;
    output.interval = options.interval == "confidence"   ? ScoreOutput::Interval::Confidence
                      : options.interval == "prediction" ? ScoreOutput::Interval::Prediction
                                                         : ScoreOutput::Interval::None;
    output.level = options.level;
    output.generalized = scorer.isGeneralized();
    output.linkScale = options.linkScale;
    if (output.seFit || output.interval != ScoreOutput::Interval::None) {
        if (output.interval == ScoreOutput::Interval::Prediction && scorer.isClassification())
            throw InputError("--interval prediction: applies to linear models only; a logistic model's "
                             "records are 0 or 1, so use --interval confidence");
        if (output.interval == ScoreOutput::Interval::Prediction && output.generalized)
            throw InputError("--interval prediction: applies to linear models only; a glm (--family) model "
                             "has no prediction interval, so use --interval confidence for the mean's");
        if (!scorer.hasCovariance())
            throw InputError("--model " + options.modelFile +
                             ": the model does not carry its coefficient covariance, which --se-fit and "
                             "--interval need; build it again with this version of split-run");
        scorer.computeStandardErrors(true, output.level);
    }
    const ScoreCounts counts = scoreStream(reader, scorer, file.stream(), options.threads, output);
    file.commit();
    // With the scores on standard output, the summary goes to standard error.
    std::ostream& summary = file.isStandardOutput() ? err : out;
    summary << "Scored " << counts.records << " records of " << options.dataFile << " into "
            << options.outFile << "\n";
    // Latin-1 input is converted on reading, and the scores are written
    // in the converted form.
    if (options.format.latin1) summary << "The input was read as Latin-1; the output is written in UTF-8\n";
    reportCounts(counts, scorer, options.naOut, summary);
    return kExitModelsBuilt;
}

}  // namespace splitrun

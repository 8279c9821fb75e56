// Command-line parsing of split-run: the build, score, export and info commands.
#ifndef SPLITRUN_OPTIONS_H
#define SPLITRUN_OPTIONS_H

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "csv_format.h"

namespace splitrun {

// Linear and Logistic are the shorthands; Glm is any family and link of
// R's glm (BuildOptions::glm).
enum class ModelChoice { Linear, Logistic, Glm };

// --family, --link, --weights, --offset, --epsilon and --maxit.
struct GlmOptions {
    std::string family;   // R's name: gaussian, binomial, poisson, Gamma, ...
    std::string link;     // empty: the family's canonical link
    std::string weights;  // field of the prior weights, or empty
    std::string offset;   // field of the offset, or empty
    double epsilon = 1e-8;
    int maxIterations = 25;
};
// Where a build's groups are fitted: threads of this process, or the
// processes of an MPI launch (rank 0 hosts the run).
enum class EngineChoice { Threads, Mpi };

struct BuildOptions {
    std::string dataFile;
    // How messages and the report name the data when dataFile is a copy of
    // standard input or a pipe; empty: dataFile itself.
    std::string dataShownAs;
    std::vector<std::string> splitFields;
    std::string target;
    std::vector<std::string> inputs;   // empty: every field but the split fields and the target
    // --formula: an R formula in place of --target and --inputs.
    std::string formula;
    unsigned threads = 0;              // resolved to the number of cores when not given
    EngineChoice engine = EngineChoice::Threads;  // with Mpi, `threads` is per rank
    bool presorted = false;
    // --incremental: reuse the groups of the previous build in outDir whose
    // fingerprint did not change.
    bool incremental = false;
    std::string dataModelFile;
    std::string inputPmmlFile;
    std::string inputStatXmlFile;
    ModelChoice model = ModelChoice::Linear;
    GlmOptions glm;                    // with ModelChoice::Glm
    std::optional<std::string> event;
    // --reference FIELD=LEVEL: the level a categorical input is coded
    // against, by field name.
    std::map<std::string, std::string> references;
    std::string outDir;
    CsvFormat format;                  // how --data is written
    // --categorical: fields read as categories whatever their values.
    std::vector<std::string> categorical;
    // --non-finite skip: records with an infinite target, input, weight or
    // offset are left out of their group's fit instead of failing the group.
    bool skipNonFinite = false;
    // --memory-limit in bytes: a file larger than this is read pass by pass
    // instead of loaded. Resolved to half the physical memory when not given.
    std::uint64_t memoryLimit = 0;
    // --temp-dir: where records that do not fit are grouped through
    // temporary files. Resolved to $TMPDIR, then /tmp, when not given.
    std::string tempDir;
    // How messages name tempDir: "--temp-dir DIR", or "TMPDIR DIR (the
    // default --temp-dir)" when the option was not given.
    std::string tempDirShownAs;
    // --conf-level: the confidence level of the coefficients' intervals.
    double confLevel = 0.95;
    // --augment FILE: the records each fit used, with their diagnostics;
    // empty when not asked for.
    std::string augmentFile;
    // --progress: the progress bar drawn whatever standard error is.
    bool progress = false;
    // --verbose: failure reasons and component messages with their status
    // numbers and internal names.
    bool verbose = false;
};

// The bytes a size such as 256M, 8G, 1.5G or 4096 stands for (K, M, G, T
// are powers of 1024; a trailing B or iB is allowed); nothing when the text
// is not a size.
std::optional<std::uint64_t> parseByteSize(const std::string& text);

struct ScoreOptions {
    std::string modelFile;
    std::string dataFile;
    std::string outFile;
    CsvFormat format;   // how --data is written
    unsigned threads = 0;  // scoring threads; resolved to the number of cores when not given
    std::string naOut = "NA";  // --na-out: the token written for a missing value
    bool seFit = false;        // --se-fit: the prediction's standard error
    // --interval: "none", "confidence" or "prediction", at --level.
    std::string interval = "none";
    double level = 0.95;
    bool linkScale = false;  // --type link: regression predictions before the inverse link
};

struct ExportOptions {
    std::string dir;                      // a build's output directory
    std::vector<std::string> containers;  // --container; empty: all
    std::vector<std::string> keys;        // --key; empty: all
    std::string to;                       // --to: a directory, or "-" for one entry
};

enum class Command { Build, Score, Export, Info };

struct CommandLine {
    Command command = Command::Info;
    BuildOptions build;
    ScoreOptions score;
    ExportOptions exportEntries;
    // Set when parsing already decided the outcome: 0 after --help or
    // --version, 2 after a usage error (the text has been written).
    std::optional<int> exitStatus;
};

// Parses argv. Help goes to `out`; usage errors go to `err`.
CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err);

}  // namespace splitrun

#endif

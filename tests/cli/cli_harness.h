// Running the split-run binary from tests, small file helpers, and reading
// back what a build wrote: each group's fit from its PMML entry, CSV files.
#ifndef SPLIT_TESTS_CLI_HARNESS_H
#define SPLIT_TESTS_CLI_HARNESS_H

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/pmml_schema.h"

namespace clitest {

namespace fs = std::filesystem;

struct RunOutput { int status = -1; std::string out; std::string err; };

// Variables set in a run's environment over the test's own.
using Environment = std::map<std::string, std::string>;

// Runs split-run with the arguments; standard output and error are captured.
// Standard input reads `stdinFile` (default: nothing).
RunOutput runSplitRun(const std::vector<std::string>& args, const fs::path& stdinFile = "/dev/null",
                      const Environment& environment = {});

// split-run build of `data` into `out`, the options `args` after them.
RunOutput runBuild(const fs::path& data, const fs::path& out, const std::vector<std::string>& args,
                   const Environment& environment = {});

// split-run score of `data` with `model` into `out`, the options `extra` after them.
RunOutput runScore(const fs::path& model, const fs::path& data, const fs::path& out,
                   const std::vector<std::string>& extra = {}, const Environment& environment = {});

// GoogleTest's name for a case of a parameterised test: the case's `name`
// with its spaces as underscores.
struct CaseNameOf {
    template <class Info>
    std::string operator()(const Info& info) const {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == ' ') c = '_';
        return name;
    }
};

// A fresh directory for one test, holding only `files` (name -> text).
fs::path freshDir(const std::string& name, const std::map<std::string, std::string>& files = {});

std::string readFile(const fs::path& path);
// How many times `part` occurs in `text`.
std::size_t countOf(const std::string& text, const std::string& part);
// Writes `text` to `path`, making its directories, and returns the path.
fs::path writeFile(const fs::path& path, const std::string& text);
// Writes `text` gzip-compressed to `path`, or as a further member after what
// it holds when `append`, and returns the path.
fs::path writeGzip(const fs::path& path, const std::string& text, bool append = false);

// Every regular file below `dir`, by path relative to it, with its bytes;
// a build's manifest aside (it names the build that wrote the directory,
// so no two builds' are the same).
std::map<std::string, std::string> treeContents(const fs::path& dir);

// What a build into `out` gives, for comparing two builds: its standard
// output with the path of `out` replaced by "OUT", and treeContents(out).
// `args` follow "build --out OUT"; a failed build fails the test.
using BuildOutcome = std::pair<std::string, std::map<std::string, std::string>>;
BuildOutcome buildOutcome(const fs::path& out, const std::vector<std::string>& args,
                          const fs::path& stdinFile = "/dev/null");

// The containers of the build in `outDir` exported as files (split-run
// export) into a fresh directory beside it, which is returned.
fs::path exportedFiles(const fs::path& outDir);

// A file of examples/ in the source tree.
fs::path example(const std::string& name);

// xmllint's verdict on a PMML file: empty when it validates.
inline std::string schemaErrors(const fs::path& file) { return splittest::pmmlSchemaErrors(file); }

// A CSV file as records of field -> text; a missing value is absent from
// its record's map, an empty string is present and empty.
using Record = std::map<std::string, std::string>;
std::vector<Record> readCsvRecords(const fs::path& path);

struct GroupFit {
    fs::path file;                                             // the entry, exported as a file
    std::map<std::string, std::optional<std::string>> split;   // split field -> value (nullopt: missing)
    double intercept = 0;
    std::map<std::string, double> coefficients;                // "price", "segment=Business"
    std::string event;                                         // logistic: the modelled target value
};

// Every group PMML of the build in DIR (the root entry aside), in write order.
std::vector<GroupFit> readGroupFits(const fs::path& outDir);

// The fit whose split values are the record's, or null.
const GroupFit* fitFor(const std::vector<GroupFit>& fits, const Record& record);

// The linear predictor of a fit for one record.
double linearPredictor(const GroupFit& fit, const Record& record);

}  // namespace clitest

#endif

#include "options.h"

#include <splitmodels/group_model.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <map>
#include <set>
#include <thread>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "visible_text.h"

namespace splitrun {

namespace {

// The whole text as a number; nothing for a text that is not one.
std::optional<double> parseFloatOption(const std::string& text)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
}

// Standard input can be read once: two options given '-' would leave the
// second an empty document, failing with a message about its content.
void refuseSharedStandardInput(const std::vector<std::pair<std::string, std::string>>& inputs)
{
    const std::string* first = nullptr;
    for (const auto& [option, path] : inputs) {
        if (path != "-") continue;
        if (first != nullptr)
            throw CLI::ValidationError(*first + " - and " + option + " -",
                                       "standard input can be read only once; give one of them as a file");
        first = &option;
    }
}

// A path option given '' names nothing: refused before any work, naming the
// option (the open that would fail later names only an empty path).
void refuseEmptyPaths(const CLI::App& cmd, const std::vector<std::pair<const char*, const char*>>& options)
{
    for (const auto& [name, what] : options) {
        const CLI::Option* option = cmd.get_option_no_throw(name);
        if (option == nullptr) continue;
        for (const std::string& value : option->results())
            if (value.empty()) throw CLI::ValidationError(name, std::string("is empty; give ") + what);
    }
}

const char* const kTopFooter = R"(
Examples:
  split-run build --data examples/sales.csv --split region,channel \
      --target revenue --inputs price,promo_spend,segment --out sales-out
  split-run score --model sales-out/split-model.pmml --data examples/sales.csv \
      --out scored.csv
  split-run export sales-out --to sales-files
  split-run info

Run 'split-run <command> --help' for one command's options and example.)";

const char* const kBuildFooter = R"(
Example:
  split-run build --data examples/sales.csv --split region,channel \
      --target revenue --inputs price,promo_spend,segment --out sales-out

  Fits one linear regression of revenue per (region, channel) group and
  writes DIR/containers.db, DIR/split-model.pmml, DIR/groups.csv and
  DIR/coefficients.csv.

Exit status: 0 when at least one group produced a model; 1 when the run
completed without any model or a component failed; 2 for a usage or input
error.)";

const char* const kScoreFooter = R"(
Example:
  split-run score --model sales-out/split-model.pmml \
      --data examples/sales.csv --out scored.csv

  Copies every input column and appends predicted_<target> (and, for a
  logistic model, probability_<value> for each class).)";

const char* const kExportFooter = R"(
Examples:
  split-run export sales-out --to sales-files
  split-run export sales-out --container PMML --key model-0001 --to -

  Writes DIR/containers.db's entries as files: OUTDIR/NAME/ for each
  container, one file per entry plus entries.tsv, as in
  OUTDIR/PMML/model-0001.xml. With --to -, the bytes of the entry chosen by
  one --container and one --key go to standard output.)";

const char* const kInfoFooter = R"(
Example:
  split-run info
)";

// Splits "a,b" lists given to a vector option and rejects empty names and
// repeated names.
void checkNameList(const std::vector<std::string>& names, const std::string& option)
{
    std::set<std::string> seen;
    for (const std::string& name : names) {
        if (name.empty())
            throw CLI::ValidationError(option, "a field name in the list is empty; write the "
                                               "names separated by single commas, e.g. a,b");
        if (!seen.insert(name).second)
            throw CLI::ValidationError(option, "the field '" + name + "' is listed twice");
    }
}

// Refuses an empty name in a comma-separated list option as written
// ("g," or ",g"), which the list splitting would drop silently.
void refuseEmptyListNames(int argc, const char* const* argv, const std::vector<std::string>& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        for (const std::string& option : options) {
            std::optional<std::string> value;
            if (arg == option && i + 1 < argc) value = argv[i + 1];
            else if (arg.rfind(option + "=", 0) == 0) value = arg.substr(option.size() + 1);
            if (value && !value->empty() &&
                (value->front() == ',' || value->back() == ',' || value->find(",,") != std::string::npos))
                throw CLI::ValidationError(option, "a field name in the list is empty; write the names "
                                                   "separated by single commas, e.g. a,b");
        }
    }
}

// The text of the format options, turned into a CsvFormat after parsing.
struct FormatText {
    std::string delimiter = ",";
    std::string decimal = ".";
    std::optional<std::string> naValues;
    std::string encoding = "utf-8";
    std::size_t maxFieldSize = CsvFormat{}.maxFieldSize;
};

void addFormatOptions(CLI::App& cmd, FormatText& text)
{
    cmd.add_option("--delimiter", text.delimiter,
                   "Field delimiter of --data: ',' (the default), ';' or tab "
                   "(e.g. --delimiter ';')")
        ->type_name("CHAR");
    cmd.add_option("--decimal", text.decimal,
                   "Decimal mark of numbers in --data: '.' (the default) or ',' "
                   "(e.g. --delimiter ';' --decimal ',')")
        ->type_name("CHAR");
    cmd.add_option("--na-values", text.naValues,
                   "Unquoted texts that are missing values, comma-separated, besides an empty "
                   "field; default: NA (e.g. --na-values NA,NULL,-999)")
        ->type_name("LIST");
    cmd.add_option("--encoding", text.encoding,
                   "Text encoding of --data: utf-8 (the default; other bytes are kept as they "
                   "are) or latin1 (converted to UTF-8) (e.g. --encoding latin1)")
        ->type_name("NAME");
    cmd.add_option("--max-field-size", text.maxFieldSize,
                   "Longest line or field of --data in bytes; default: 67108864 (64 MiB) "
                   "(e.g. --max-field-size 268435456)")
        ->check(CLI::Validator(
            [](std::string& text) {
                // More than 18 digits would not fit the size and be read as another number.
                const std::size_t first = text.find_first_not_of('0');
                return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
                               first != std::string::npos && text.size() - first <= 18
                           ? std::string()
                           : "'" + text + "' is not a number of bytes of at least 1 and at most 18 digits "
                                          "(e.g. 268435456)";
            },
            "BYTES"))
        ->type_name("BYTES");
}

CsvFormat toFormat(const FormatText& text)
{
    CsvFormat format;
    if (text.delimiter == "," || text.delimiter == ";")
        format.delimiter = text.delimiter[0];
    else if (text.delimiter == "tab" || text.delimiter == "\t" || text.delimiter == "\\t")
        format.delimiter = '\t';
    else
        throw CLI::ValidationError("--delimiter", "'" + text.delimiter +
                                   "' is not a delimiter split-run reads; use ',', ';' or tab");
    if (text.decimal != "." && text.decimal != ",")
        throw CLI::ValidationError("--decimal", "'" + text.decimal + "' is not a decimal mark; use '.' or ','");
    format.decimal = text.decimal[0];
    if (format.decimal == format.delimiter)
        throw CLI::ValidationError("--decimal", "',' is also the delimiter; with decimal commas the "
                                                "fields are separated by another character, e.g. "
                                                "--delimiter ';'");
    if (text.naValues) {
        format.naValues.clear();
        std::size_t from = 0;
        for (;;) {
            const std::size_t comma = std::min(text.naValues->find(',', from), text.naValues->size());
            if (comma > from) format.naValues.push_back(text.naValues->substr(from, comma - from));
            if (comma == text.naValues->size()) break;
            from = comma + 1;
        }
    }
    if (text.encoding == "latin1" || text.encoding == "latin-1" || text.encoding == "iso-8859-1")
        format.latin1 = true;
    else if (text.encoding != "utf-8" && text.encoding != "utf8")
        throw CLI::ValidationError("--encoding", "'" + text.encoding + "' is not an encoding "
                                                 "split-run reads; use utf-8 or latin1");
    format.maxFieldSize = text.maxFieldSize;
    return format;
}

// The most threads a build starts: more than a few per core only costs
// memory and start-up, and a machine may refuse to start many more.
unsigned threadCap()
{
    return std::max(8u, 4 * std::max(1u, std::thread::hardware_concurrency()));
}

// Half the machine's physical memory, or 1 GiB when it cannot be told.
std::uint64_t defaultMemoryLimit()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return std::uint64_t{1} << 30;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2;
}

void addBuildCommand(CLI::App& app, BuildOptions& build, std::string& modelText,
                     std::vector<std::string>& referenceTexts, FormatText& format,
                     std::string& memoryText)
{
    CLI::App* cmd = app.add_subcommand("build", "Build one model per split group and combine them");
    cmd->footer(kBuildFooter);
    cmd->add_option("--data", build.dataFile,
                    "CSV file with a header row, '-' for standard input, gzip-compressed or not "
                    "(e.g. --data sales.csv)")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--split", build.splitFields,
                    "Split fields, comma-separated; records with equal values form one group "
                    "(e.g. --split region,channel)")
        ->required()
        ->delimiter(',')
        ->type_name("F1[,F2...]");
    cmd->add_option("--target", build.target, "Field the models predict (e.g. --target revenue)")
        ->type_name("FIELD");
    cmd->add_option("--formula", build.formula,
                    "R formula of the model, in place of --target and --inputs "
                    "(e.g. --formula \"log(revenue) ~ segment * price + I(price^2)\")")
        ->type_name("FORMULA");
    cmd->add_option("--inputs", build.inputs,
                    "Input fields, comma-separated; default: every field that is neither a "
                    "split field nor the target (e.g. --inputs price,promo_spend)")
        ->delimiter(',')
        ->type_name("A[,B...]");
    cmd->add_option("--threads", build.threads,
                    "Worker threads; default: the number of cores; more than four per core are "
                    "capped (e.g. --threads 4)")
        ->check(CLI::Range(1u, 1024u))
        ->type_name("N");
    cmd->add_option("--memory-limit", memoryText,
                    "Memory the input may take; a larger file is not loaded but read again on "
                    "every pass (grouped first through --temp-dir unless --presorted); default: "
                    "half the physical memory (e.g. --memory-limit 8G)")
        ->type_name("SIZE");
    cmd->add_option("--temp-dir", build.tempDir,
                    "Directory for the temporary files that group an input larger than "
                    "--memory-limit; default: $TMPDIR, then /tmp (e.g. --temp-dir /scratch)")
        ->type_name("DIR");
    cmd->add_option_function<std::string>(
           "--engine",
           [&build](const std::string& name) {
               build.engine = name == "mpi" ? EngineChoice::Mpi : EngineChoice::Threads;
           },
           "threads (the default) or mpi: fit the groups on the ranks of an MPI launch, with "
           "--threads worker threads per rank (e.g. mpirun -np 4 split-run build ... --engine mpi)")
        ->check(CLI::IsMember({"threads", "mpi"}))
        ->type_name("ENGINE");
    cmd->add_flag("--presorted", build.presorted,
                  "The file is already grouped by the split fields: keep its order instead of "
                  "sorting (e.g. --presorted)");
    cmd->add_flag("--incremental", build.incremental,
                  "Fit only the groups whose records, data model or options changed since the "
                  "previous build in --out; the others keep their models (e.g. --incremental)");
    cmd->add_option("--data-model", build.dataModelFile,
                    "Data model XML to use instead of inferring storages from the data "
                    "(e.g. --data-model sales-model.xml)")
        ->type_name("FILE");
    cmd->add_option("--input-pmml", build.inputPmmlFile,
                    "File handed to every worker as its input PMML (e.g. --input-pmml prior.pmml)")
        ->type_name("FILE");
    cmd->add_option("--input-statxml", build.inputStatXmlFile,
                    "File handed to every worker as its input StatXML "
                    "(e.g. --input-statxml prior.xml)")
        ->type_name("FILE");
    cmd->add_option("--model", modelText,
                    "linear (least squares on a continuous target, the default) or logistic "
                    "(binary target with exactly two values) (e.g. --model logistic)")
        ->check(CLI::IsMember({"linear", "logistic"}))
        ->type_name("KIND");
    cmd->add_option("--family", build.glm.family,
                    "Fit R's glm of this family: gaussian, binomial, poisson, Gamma, "
                    "inverse.gaussian, quasibinomial or quasipoisson (e.g. --family poisson)")
        ->check(CLI::IsMember(splitmodels::glmFamilies()))
        ->type_name("FAMILY");
    cmd->add_option("--link", build.glm.link,
                    "Link of the family, as R names it; default: the family's canonical link "
                    "(e.g. --link log)")
        ->type_name("LINK");
    cmd->add_option("--weights", build.glm.weights,
                    "Field of prior weights (0 leaves a record out of the fit) (e.g. --weights trials)")
        ->type_name("FIELD");
    cmd->add_option("--offset", build.glm.offset,
                    "Field added to the linear predictor with coefficient 1 (e.g. --offset log_exposure)")
        ->type_name("FIELD");
    cmd->add_option("--epsilon", build.glm.epsilon,
                    "Convergence tolerance of the iteration, as R's glm.control; default 1e-8 "
                    "(e.g. --epsilon 1e-10)")
        ->check(CLI::Validator(
            [](std::string& text) {
                const std::optional<double> value = parseFloatOption(text);
                return value && std::isfinite(*value) && *value >= std::numeric_limits<double>::min()
                           ? std::string()
                           : std::string("must be a positive number from 2.2e-308 up, such as 1e-10");
            },
            "POSITIVE"))
        ->type_name("X");
    cmd->add_option("--maxit", build.glm.maxIterations,
                    "Most iterations, as R's glm.control; default 25 (e.g. --maxit 50)")
        ->check(CLI::Range(1, 100000))
        ->type_name("N");
    cmd->add_option("--event", build.event,
                    "Logistic and binomial only: the target value whose probability is modelled; default: "
                    "the second of the two values in sorted order (e.g. --event yes)")
        ->type_name("VALUE");
    cmd->add_option("--reference", referenceTexts,
                    "Reference level of a categorical input, repeatable; default: its first "
                    "level in sorted order (e.g. --reference Treatment=chilled)")
        ->type_name("FIELD=LEVEL")
        ->allow_extra_args(false);
    cmd->add_option("--categorical", build.categorical,
                    "Fields read as categories whatever their values, comma-separated, e.g. codes "
                    "written as numbers (e.g. --categorical dose,block)")
        ->delimiter(',')
        ->type_name("A[,B...]");
    cmd->add_option_function<std::string>(
           "--non-finite", [&build](const std::string& choice) { build.skipNonFinite = choice == "skip"; },
           "fail (the default): a group with an infinite target, input, weight or offset (Inf, -Inf) fails, naming "
           "the record; skip: such records are left out of the fit and counted (e.g. --non-finite skip)")
        ->check(CLI::IsMember({"fail", "skip"}))
        ->type_name("WHAT");
    cmd->add_option("--conf-level", build.confLevel,
                    "Confidence level of conf_low and conf_high in coefficients.csv, between 0 and 1; "
                    "default 0.95 (e.g. --conf-level 0.99)")
        ->check(CLI::Range(0.0, 1.0))
        ->type_name("P");
    cmd->add_option("--augment", build.augmentFile,
                    "CSV file of the records each fit used, in input order, with their fitted value, "
                    "residual, hat value, sigma, Cook's distance and standardised residual "
                    "(e.g. --augment augmented.csv)")
        ->type_name("FILE");
    cmd->add_flag("--verbose", build.verbose,
                  "Show status numbers and internal names in failure messages");
    cmd->add_flag("--progress", build.progress,
                  "Draw the progress bar on standard error even when it is not a terminal (for logs)");
    cmd->add_option("--out", build.outDir,
                    "Output directory, created if missing (e.g. --out sales-out)")
        ->required()
        ->type_name("DIR");
    addFormatOptions(*cmd, format);
}

void addScoreCommand(CLI::App& app, ScoreOptions& score, FormatText& format)
{
    CLI::App* cmd = app.add_subcommand("score", "Apply a split model to a CSV file");
    cmd->footer(kScoreFooter);
    cmd->add_option("--model", score.modelFile,
                    "Split model PMML written by build, '-' for standard input (e.g. --model out/split-model.pmml)")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--data", score.dataFile,
                    "CSV file to score, '-' for standard input (e.g. --data sales.csv)")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--out", score.outFile,
                    "CSV file to write, '-' for standard output (e.g. --out scored.csv)")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--threads", score.threads,
                    "Scoring threads; default: the number of cores. The output does not depend on "
                    "it (e.g. --threads 4)")
        ->check(CLI::Range(1u, 1024u))
        ->type_name("N");
    cmd->add_option("--na-out", score.naOut,
                    "Token written for a missing value; default NA, which R and pandas read as "
                    "missing (e.g. --na-out '' for empty fields)")
        ->type_name("TEXT");
    cmd->add_flag("--se-fit", score.seFit,
                  "Add se_fit, the standard error of each prediction (a glm's on the scale of --type; "
                  "a logistic model's on the response scale, then se_fit_link on the link scale)");
    cmd->add_option("--interval", score.interval,
                    "none (the default), confidence or prediction: add the interval's lower and upper "
                    "bounds at --level; glm and logistic models take confidence only (e.g. --interval "
                    "prediction)")
        ->check(CLI::IsMember({"none", "confidence", "prediction"}))
        ->type_name("KIND");
    cmd->add_option("--level", score.level, "Level of --interval, between 0 and 1; default 0.95")
        ->check(CLI::Range(0.0, 1.0))
        ->type_name("P");
    cmd->add_option_function<std::string>(
           "--type", [&score](const std::string& type) { score.linkScale = type == "link"; },
           "response (the default) or link: regression predictions on the scale of the "
           "response or of the linear predictor, as R's predict(type =) (e.g. --type link)")
        ->check(CLI::IsMember({"response", "link"}))
        ->type_name("TYPE");
    addFormatOptions(*cmd, format);
}

void addExportCommand(CLI::App& app, ExportOptions& options)
{
    CLI::App* cmd = app.add_subcommand("export", "Write the entries of a build's containers as files");
    cmd->footer(kExportFooter);
    cmd->add_option("DIR", options.dir, "Output directory of a build (e.g. sales-out)")
        ->required()
        ->type_name("DIR");
    cmd->add_option("--container", options.containers,
                    "Container to export, repeatable; default: all (e.g. --container PMML)")
        ->type_name("NAME")
        ->allow_extra_args(false);
    cmd->add_option("--key", options.keys, "Entry key to export, repeatable; default: all (e.g. --key model-0001)")
        ->type_name("KEY")
        ->allow_extra_args(false);
    cmd->add_option("--to", options.to,
                    "Directory to write into, created if missing, or '-' for one entry on standard output")
        ->required()
        ->type_name("OUTDIR");
}

// An option of the command line that neither the command nor split-run
// knows, or nothing.
std::optional<std::string> unknownOption(CLI::App& app, int argc, const char* const* argv)
{
    const CLI::App* command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (command == nullptr && arg.rfind("-", 0) != 0) {
            for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
                if (sub->get_name() == arg) command = sub;
            continue;
        }
        if (arg.rfind("--", 0) != 0 || arg == "--") continue;
        const std::string name = arg.substr(0, arg.find('='));
        const auto knows = [&name](const CLI::App* a) {
            for (const CLI::Option* option : a->get_options())
                for (const std::string& known : option->get_lnames())
                    if (name == "--" + known) return true;
            return false;
        };
        if (!knows(&app) && (command == nullptr || !knows(command))) return name;
    }
    return std::nullopt;
}

// CLI11's message for a usage error, said the way split-run says things.
std::string usageMessage(const CLI::ParseError& e)
{
    std::string text = e.what();
    const std::string kind = e.get_name();
    if (kind == "RequiredError") {
        if (text.find("subcommand") != std::string::npos) return "give a command: build, score, export or info";
        const std::string suffix = " is required";
        if (text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
            return "the option " + text.substr(0, text.size() - suffix.size()) + " is required";
        return text;
    }
    if (kind == "ExtrasError") return "unexpected arguments: " + text.substr(text.find(':') + 1);
    if (kind == "ArgumentMismatch") {
        const std::size_t colon = text.find(':');
        return text.substr(0, colon) + " needs a value";
    }
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// For an option of one value given more than once, a message saying so
// (CLI11 calls it a mismatch of arguments); nothing otherwise.
std::optional<std::string> repeatedOption(const CLI::ParseError& e, int argc, const char* const* argv)
{
    if (std::string(e.get_name()) != "ArgumentMismatch") return std::nullopt;
    const std::string text = e.what();
    const std::string name = text.substr(0, text.find(':'));
    if (name.rfind("--", 0) != 0) return std::nullopt;
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        count += arg == name || arg.rfind(name + "=", 0) == 0;
    }
    if (count < 2) return std::nullopt;
    return name + " is given " + std::to_string(count) + " times; give it once";
}

// --formula replaces --target and --inputs; one of the two ways is needed,
// and a formula this system cannot fit is refused here, before any data is
// read. The formula's response gives the target.
splitmodels::FormulaFields checkFormulaOption(const CLI::App& cmd, BuildOptions& build)
{
    splitmodels::FormulaFields fields;
    if (build.formula.empty()) {
        if (cmd.count("--formula") > 0) throw CLI::ValidationError("--formula", "the formula is empty");
        if (cmd.count("--target") == 0) throw CLI::RequiredError("--target");
        return fields;
    }
    if (cmd.count("--target") > 0 || cmd.count("--inputs") > 0)
        throw CLI::ValidationError("--formula", "give either --formula or --target and --inputs, not both");
    if (auto reason = splitmodels::checkFormula(build.formula, fields))
        throw CLI::ValidationError("--formula", *reason);
    build.target = fields.target;
    return fields;
}

// Any of the glm options makes the build a glm: of --family, else of the
// family --model names (binomial for logistic, gaussian otherwise).
void resolveGlm(const CLI::App& cmd, BuildOptions& build)
{
    bool glm = false;
    for (const char* name : {"--family", "--link", "--weights", "--offset", "--epsilon", "--maxit"})
        glm = glm || cmd.count(name) > 0;
    if (glm) {
        if (build.glm.family.empty())
            build.glm.family = build.model == ModelChoice::Logistic ? "binomial" : "gaussian";
        else if (cmd.count("--model") > 0)
            throw CLI::ValidationError("--model", "give either --model or --family, not both");
        build.model = ModelChoice::Glm;
        const std::vector<std::string> links = splitmodels::glmLinks(build.glm.family);
        if (!build.glm.link.empty() && std::find(links.begin(), links.end(), build.glm.link) == links.end()) {
            std::string list;
            for (const std::string& link : links) list += (list.empty() ? "" : ", ") + link;
            throw CLI::ValidationError("--link " + build.glm.link,
                                       "not a link of the " + build.glm.family + " family; use one of " + list);
        }
    }
    const bool binomial = build.glm.family == "binomial" || build.glm.family == "quasibinomial";
    if (build.event && build.model != ModelChoice::Logistic && !(build.model == ModelChoice::Glm && binomial))
        throw CLI::ValidationError("--event", "only applies with --model logistic or a binomial family");
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err)
{
    CommandLine result;
    std::string modelText = "linear";
    std::vector<std::string> referenceTexts;
    FormatText buildFormat;
    FormatText scoreFormat;
    CLI::App app("split-run: build one model per split group of a CSV file, and score with it",
                 "split-run");
    app.require_subcommand(1);
    app.footer(kTopFooter);
    app.set_version_flag("--version", std::string("split-run ") + SPLITRUN_VERSION);
    std::string memoryText;
    addBuildCommand(app, result.build, modelText, referenceTexts, buildFormat, memoryText);
    addScoreCommand(app, result.score, scoreFormat);
    addExportCommand(app, result.exportEntries);
    app.add_subcommand("info", "Load the split module and print its information")
        ->footer(kInfoFooter);

    try {
        app.parse(argc, argv);
        // After the parse, so that the help it points to is the command's.
        refuseEmptyListNames(argc, argv, {"--split", "--inputs", "--categorical"});
        BuildOptions& build = result.build;
        if (app.got_subcommand("build")) {
            result.command = Command::Build;
            checkNameList(build.splitFields, "--split");
            checkNameList(build.inputs, "--inputs");
            checkNameList(build.categorical, "--categorical");
            if (!build.categorical.empty() && !build.dataModelFile.empty())
                throw CLI::ValidationError("--categorical", "does not apply with --data-model, which gives "
                                                            "every field's storage; declare the fields "
                                                            "as string there");
            const splitmodels::FormulaFields formula = checkFormulaOption(*app.get_subcommand("build"), build);
            build.model = modelText == "logistic" ? ModelChoice::Logistic : ModelChoice::Linear;
            resolveGlm(*app.get_subcommand("build"), build);
            // A logistic model of cbind(s, f) or of a computed proportion is
            // the binomial glm with the logit link, and is reported as one.
            if (build.model == ModelChoice::Logistic && !build.formula.empty() && !formula.plainResponse) {
                build.model = ModelChoice::Glm;
                build.glm.family = "binomial";
                build.glm.link = "logit";
            }
            // The diagnostics compare each record's response field with its
            // fit, so the formula's response must be a field as it stands.
            if (!build.formula.empty() && !build.augmentFile.empty() && !formula.plainResponse)
                throw CLI::ValidationError("--augment", "needs the formula's response to be a field of the data, "
                                                       "not a transformation of fields");
            for (const std::string& text : referenceTexts) {
                const std::size_t equals = text.find('=');
                if (equals == std::string::npos || equals == 0)
                    throw CLI::ValidationError("--reference " + text,
                                               "expected FIELD=LEVEL, e.g. --reference Treatment=chilled");
                if (!build.references.emplace(text.substr(0, equals), text.substr(equals + 1)).second)
                    throw CLI::ValidationError("--reference " + text,
                                               "names field '" + text.substr(0, equals) + "' twice");
            }
            refuseEmptyPaths(*app.get_subcommand("build"),
                             {{"--data", "the CSV file to read, or - for standard input"},
                              {"--data-model", "the data model's file"},
                              {"--input-pmml", "the document's file"},
                              {"--input-statxml", "the document's file"},
                              {"--temp-dir", "a writable directory, or leave the option out"}});
            refuseSharedStandardInput({{"--data", build.dataFile},
                                       {"--data-model", build.dataModelFile},
                                       {"--input-pmml", build.inputPmmlFile},
                                       {"--input-statxml", build.inputStatXmlFile}});
            if (build.augmentFile.empty() && app.get_subcommand("build")->count("--augment") > 0)
                throw CLI::ValidationError("--augment", "is empty; give the file to write, e.g. --augment augmented.csv");
            if (!build.augmentFile.empty() && build.dataFile == "-")
                throw CLI::ValidationError("--augment", "reads --data a second time, so --data cannot be standard input");
            if (!(build.confLevel > 0 && build.confLevel < 1))
                throw CLI::ValidationError("--conf-level", "must lie strictly between 0 and 1, e.g. 0.95");
            if (build.threads == 0)
                build.threads = std::max(1u, std::thread::hardware_concurrency());
            build.threads = std::min(build.threads, threadCap());
            build.format = toFormat(buildFormat);
            if (memoryText.empty()) {
                build.memoryLimit = defaultMemoryLimit();
            } else if (const auto bytes = parseByteSize(memoryText); bytes && *bytes > 0) {
                build.memoryLimit = *bytes;
            } else {
                throw CLI::ValidationError("--memory-limit " + memoryText,
                                           "expected a size such as 256M or 8G");
            }
            if (!build.tempDir.empty()) {
                build.tempDirShownAs = "--temp-dir " + build.tempDir;
            } else if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir && *tmpdir) {
                build.tempDir = tmpdir;
                build.tempDirShownAs = "TMPDIR " + build.tempDir + " (the default --temp-dir)";
            } else {
                build.tempDir = "/tmp";
                build.tempDirShownAs = "--temp-dir /tmp";
            }
        } else if (app.got_subcommand("score")) {
            result.command = Command::Score;
            result.score.format = toFormat(scoreFormat);
            refuseEmptyPaths(*app.get_subcommand("score"),
                             {{"--model", "the split model's file (split-model.pmml)"},
                              {"--data", "the CSV file to read, or - for standard input"}});
            refuseSharedStandardInput({{"--model", result.score.modelFile}, {"--data", result.score.dataFile}});
            if (result.score.outFile.empty())
                throw CLI::ValidationError("--out", "is empty; give the file to write, e.g. --out scored.csv, or - "
                                                    "for standard output");
            // The token is written unquoted into the comma-separated output: one
            // that splits or quotes a field would shift the columns of every
            // record it is written in.
            if (result.score.naOut.find_first_of(",\"\r\n") != std::string::npos)
                throw CLI::ValidationError("--na-out", "holds a comma, a quote or a line break, which would "
                                                       "break the CSV written; give a token such as NA or ''");
            if (!(result.score.level > 0 && result.score.level < 1))
                throw CLI::ValidationError("--level", "must lie strictly between 0 and 1, e.g. 0.95");
            if (result.score.threads == 0)
                result.score.threads = std::max(1u, std::thread::hardware_concurrency());
        } else if (app.got_subcommand("export")) {
            result.command = Command::Export;
            if (result.exportEntries.dir.empty())
                throw CLI::ValidationError("the directory DIR", "is empty; give the output directory of a build");
            refuseEmptyPaths(*app.get_subcommand("export"),
                             {{"--to", "the directory to write into, or - for standard output"}});
        } else {
            result.command = Command::Info;
        }
    } catch (const CLI::CallForHelp&) {
        // "--help" after a subcommand shows that subcommand's help.
        const auto subs = app.get_subcommands();
        if (subs.empty())
            out << app.help("", CLI::AppFormatMode::All);
        else
            out << subs.back()->help();
        result.exitStatus = 0;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        result.exitStatus = 0;
    } catch (const CLI::CallForVersion&) {
        out << app.version() << "\n";
        result.exitStatus = 0;
    } catch (const CLI::ParseError& e) {
        // An unknown option explains the other errors (a misspelt required
        // option shows up as missing), so it is named first.
        const auto subs = app.get_subcommands();
        // A misspelt command leaves its options unknown: the command is named instead.
        bool unknownCommand = argc > 1 && argv[1][0] != '-';
        for (const CLI::App* known : app.get_subcommands([](CLI::App*) { return true; }))
            if (unknownCommand && known->get_name() == argv[1]) unknownCommand = false;
        const auto unknown = unknownCommand ? std::optional<std::string>() : unknownOption(app, argc, argv);
        const std::string command = subs.empty() ? "" : subs.back()->get_name() + " ";
        err << "split-run: error: "
            << (unknownCommand ? "unknown command '" + visibleText(argv[1]) + "'; give a command: build, score, export or info"
                : unknown  ? "unknown option " + *unknown
                           : repeatedOption(e, argc, argv).value_or(usageMessage(e)))
            << "\n"
            << "Run 'split-run " << command << "--help' for the options.\n";
        result.exitStatus = 2;
    }
    return result;
}

std::optional<std::uint64_t> parseByteSize(const std::string& text)
{
    std::size_t end = 0;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) ++end;
    if (end == 0) return std::nullopt;
    double number = 0;
    try {
        std::size_t used = 0;
        number = std::stod(text.substr(0, end), &used);
        if (used != end) return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    std::string unit = text.substr(end);
    for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (unit.size() > 1 && unit.back() == 'B') unit.pop_back();
    if (unit.size() > 1 && unit.back() == 'I') unit.pop_back();
    static const std::string units = "KMGT";
    double scale = 1;
    if (unit.size() == 1) {
        const std::size_t power = units.find(unit[0]);
        if (power == std::string::npos) {
            if (unit != "B") return std::nullopt;
        } else {
            scale = static_cast<double>(std::uint64_t{1} << (10 * (power + 1)));
        }
    } else if (!unit.empty()) {
        return std::nullopt;
    }
    const double bytes = number * scale;
    if (!(bytes >= 0) || bytes > 1.8e19) return std::nullopt;
    return static_cast<std::uint64_t>(bytes);
}

}  // namespace splitrun

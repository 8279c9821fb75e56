#include "options.h"

#include <map>
#include <set>
#include <thread>

#include <CLI/CLI.hpp>

namespace splitrun {

namespace {

const char* const kTopFooter = R"(
Examples:
  split-run build --data examples/sales.csv --split region,channel \
      --target revenue --inputs price,promo_spend,segment --out sales-out
  split-run score --model sales-out/split-model.pmml --data examples/sales.csv \
      --out scored.csv
  split-run info

Run 'split-run <command> --help' for one command's options and example.)";

const char* const kBuildFooter = R"(
Example:
  split-run build --data examples/sales.csv --split region,channel \
      --target revenue --inputs price,promo_spend,segment --out sales-out

  Fits one linear regression of revenue per (region, channel) group and
  writes DIR/StatXML/, DIR/PMML/ and DIR/split-model.pmml.

Exit status: 0 when at least one group produced a model; 1 when the run
completed without any model or a component failed; 2 for a usage or input
error.)";

const char* const kScoreFooter = R"(
Example:
  split-run score --model sales-out/split-model.pmml \
      --data examples/sales.csv --out scored.csv

  Copies every input column and appends predicted_<target> (and, for a
  logistic model, probability_<value> for each class).)";

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

void addBuildCommand(CLI::App& app, BuildOptions& build, std::string& modelText)
{
    CLI::App* cmd = app.add_subcommand("build", "Build one model per split group and combine them");
    cmd->footer(kBuildFooter);
    cmd->add_option("--data", build.dataFile,
                    "CSV file with a header row (e.g. --data sales.csv)")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--split", build.splitFields,
                    "Split fields, comma-separated; records with equal values form one group "
                    "(e.g. --split region,channel)")
        ->required()
        ->delimiter(',')
        ->type_name("F1[,F2...]");
    cmd->add_option("--target", build.target, "Field the models predict (e.g. --target revenue)")
        ->required()
        ->type_name("FIELD");
    cmd->add_option("--inputs", build.inputs,
                    "Input fields, comma-separated; default: every field that is neither a "
                    "split field nor the target (e.g. --inputs price,promo_spend)")
        ->delimiter(',')
        ->type_name("A[,B...]");
    cmd->add_option("--threads", build.threads,
                    "Worker threads; default: the number of cores (e.g. --threads 4)")
        ->check(CLI::Range(1u, 1024u))
        ->type_name("N");
    cmd->add_flag("--presorted", build.presorted,
                  "The file is already grouped by the split fields: keep its order instead of "
                  "sorting (e.g. --presorted)");
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
    cmd->add_option("--event", build.event,
                    "Logistic only: the target value whose probability is modelled; default: "
                    "the second of the two values in sorted order (e.g. --event yes)")
        ->type_name("VALUE");
    cmd->add_option("--out", build.outDir,
                    "Output directory, created if missing (e.g. --out sales-out)")
        ->required()
        ->type_name("DIR");
}

void addScoreCommand(CLI::App& app, ScoreOptions& score)
{
    CLI::App* cmd = app.add_subcommand("score", "Apply a split model to a CSV file");
    cmd->footer(kScoreFooter);
    cmd->add_option("--model", score.modelFile,
                    "Split model PMML written by build (e.g. --model out/split-model.pmml)")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--data", score.dataFile, "CSV file to score (e.g. --data sales.csv)")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--out", score.outFile, "CSV file to write (e.g. --out scored.csv)")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--threads", score.threads,
                    "Scoring threads; default: the number of cores. The output does not depend on "
                    "it (e.g. --threads 4)")
        ->check(CLI::Range(1u, 1024u))
        ->type_name("N");
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err)
{
    CommandLine result;
    std::string modelText = "linear";
    CLI::App app("split-run: build one model per split group of a CSV file, and score with it",
                 "split-run");
    app.require_subcommand(1);
    app.footer(kTopFooter);
    addBuildCommand(app, result.build, modelText);
    addScoreCommand(app, result.score);
    app.add_subcommand("info", "Load the split module and print its information")
        ->footer(kInfoFooter);

    try {
        app.parse(argc, argv);
        BuildOptions& build = result.build;
        if (app.got_subcommand("build")) {
            result.command = Command::Build;
            checkNameList(build.splitFields, "--split");
            checkNameList(build.inputs, "--inputs");
            build.model = modelText == "logistic" ? ModelChoice::Logistic : ModelChoice::Linear;
            if (build.event && build.model != ModelChoice::Logistic)
                throw CLI::ValidationError("--event", "only applies with --model logistic");
            if (build.threads == 0)
                build.threads = std::max(1u, std::thread::hardware_concurrency());
        } else if (app.got_subcommand("score")) {
            result.command = Command::Score;
            if (result.score.threads == 0)
                result.score.threads = std::max(1u, std::thread::hardware_concurrency());
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
    } catch (const CLI::ParseError& e) {
        err << "split-run: " << e.what() << "\n"
            << "Run 'split-run --help' or 'split-run <command> --help' for the options.\n";
        result.exitStatus = 2;
    }
    return result;
}

}  // namespace splitrun

// split-run score: apply a split model to a CSV file in one streaming pass.
#include <cstdio>
#include <filesystem>

#include <splitmodels/scorer.h>

#include "commands.h"
#include "csv_reader.h"
#include "csv_table.h"
#include "csv_writer.h"
#include "errors.h"
#include "input_source.h"
#include "output_file.h"

namespace fs = std::filesystem;

namespace splitrun {

namespace {

std::string probabilityText(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

splitmodels::SplitScorer loadScorer(const std::string& path)
{
    const std::string text = readInputFile(path, "--model");
    try {
        return splitmodels::SplitScorer::fromPmml(text);
    } catch (const splitmodels::ScoreError& e) {
        throw InputError("--model " + path + ": " + e.what() +
                         "; give a split model written by 'split-run build' (split-model.pmml)");
    }
}

}  // namespace

int runScore(const ScoreOptions& options, std::ostream& out, std::ostream& err)
{
    splitmodels::SplitScorer scorer = loadScorer(options.modelFile);

    InputSource input(options.dataFile, "--data", options.format.latin1);
    CsvReader reader(input.stream(), options.dataFile == "-" ? "<stdin>" : options.dataFile, options.format);
    checkDelimiterHint(reader.header(), options.dataFile, options.format);
    try {
        scorer.bind(reader.header());
    } catch (const splitmodels::ScoreError& e) {
        throw InputError("--data " + options.dataFile + ": " + e.what() +
                         "; the file must have every field the model reads");
    }

    OutputFile file(options.outFile, options.dataFile);
    std::ostream& csv = file.stream();
    for (const std::string& name : reader.header()) csv << csvCell(name) << ',';
    csv << csvCell("predicted_" + scorer.targetName());
    if (scorer.isClassification())
        for (const std::string& label : scorer.classLabels()) csv << ',' << csvCell("probability_" + label);
    csv << '\n';

    std::size_t records = 0;
    std::size_t unmatched = 0;
    CsvRecord record;
    std::vector<std::optional<std::string>> row;
    while (reader.next(record)) {
        row.clear();
        for (const CsvField& field : record.fields) {
            csv << csvCell(field) << ',';
            row.push_back(field.isMissing() ? std::nullopt : std::optional<std::string>(field.value));
        }
        const splitmodels::ScoreResult result = scorer.score(row);
        ++records;
        if (!result.selected) ++unmatched;
        csv << (result.selected ? csvCell(result.predicted) : std::string());
        if (scorer.isClassification())
            for (std::size_t i = 0; i < scorer.classLabels().size(); ++i)
                csv << ',' << (result.selected && i < result.probabilities.size()
                                   ? probabilityText(result.probabilities[i])
                                   : std::string());
        csv << '\n';
    }
    file.commit();
    // With the scores on standard output, the summary goes to standard error.
    std::ostream& summary = file.isStandardOutput() ? err : out;
    summary << "Scored " << records << " records of " << options.dataFile << " into "
        << options.outFile << "\n";
    summary << unmatched << " records matched no segment and have empty predictions\n";
    return kExitModelsBuilt;
}

}  // namespace splitrun

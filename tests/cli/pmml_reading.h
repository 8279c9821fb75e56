// Reading back what a build wrote: each group's fitted coefficients and
// split values from its PMML entry, and scored CSV files.
#ifndef SPLIT_TESTS_CLI_PMML_READING_H
#define SPLIT_TESTS_CLI_PMML_READING_H

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace clitest {

struct GroupFit {
    std::string file;                                    // the entry's file
    std::map<std::string, std::optional<std::string>> split;   // split field -> value (nullopt: missing)
    double intercept = 0;
    std::map<std::string, double> coefficients;          // "price", "segment=Business"
    std::string event;                                   // logistic: the modelled target value
};

// Every group PMML listed in DIR/PMML/entries.tsv (the root entry aside).
std::vector<GroupFit> readGroupFits(const std::filesystem::path& outDir);

// The fit whose split values equal `split`, or null.
const GroupFit* findFit(const std::vector<GroupFit>& fits,
                        const std::map<std::string, std::optional<std::string>>& split);

// The linear predictor of a fit for one record (field -> text).
double linearPredictor(const GroupFit& fit, const std::map<std::string, std::string>& record);

// A CSV file as records of field -> text; a missing value is absent from
// its record's map, an empty string is present and empty.
std::vector<std::map<std::string, std::string>> readCsvRecords(const std::filesystem::path& path);

}  // namespace clitest

#endif

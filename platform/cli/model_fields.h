// Which fields a build uses for what, checked against the loaded table.
#ifndef SPLITRUN_MODEL_FIELDS_H
#define SPLITRUN_MODEL_FIELDS_H

#include <cstddef>
#include <string>
#include <vector>

#include "csv_table.h"
#include "options.h"

namespace splitrun {

struct ModelFields {
    std::vector<std::string> split;
    std::vector<std::size_t> splitColumns;
    std::string target;
    std::size_t targetColumn = 0;
    std::vector<std::string> inputs;
    std::vector<std::string> targetValues;   // logistic: the two values in sorted order
};

// Resolves the split, target and input fields of `options` against the
// table's columns. Throws InputError for an unknown field, a field used in
// two roles, no inputs, a linear target that is not numeric, a logistic
// target without exactly two distinct values, or an --event that is not
// one of them.
ModelFields resolveModelFields(const BuildOptions& options, const CsvTable& data);

}  // namespace splitrun

#endif

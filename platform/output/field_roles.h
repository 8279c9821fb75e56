// Which fields a build uses for what: the split fields, the target and the
// inputs, with their columns in the table. The commands resolve them from
// the options (model_fields.h); the split model file records them.
#ifndef SPLITRUN_FIELD_ROLES_H
#define SPLITRUN_FIELD_ROLES_H

#include <cstddef>
#include <string>
#include <vector>

namespace splitrun {

struct ModelFields {
    std::vector<std::string> split;
    std::vector<std::size_t> splitColumns;
    std::string target;
    std::size_t targetColumn = 0;
    std::vector<std::string> inputs;
    std::vector<std::string> targetValues;   // logistic: the two values in sorted order
};

}  // namespace splitrun

#endif

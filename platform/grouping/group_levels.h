// The categories a group's fit has seen, for each categorical input.
#ifndef SPLITRUN_GROUP_LEVELS_H
#define SPLITRUN_GROUP_LEVELS_H

#include <string>
#include <utility>
#include <vector>

#include <splitmodels/data.h>

namespace splitrun {

// For each categorical input (string storage, or a non-continuous measure),
// in `inputs` order: its name and the distinct values it holds among the
// records the fit uses (the target and every input present), in order of
// first appearance. Numbers are written as the shortest text that reads back.
// Inputs or a target that `records` lacks give an empty result.
std::vector<std::pair<std::string, std::vector<std::string>>> heldCategories(
    const splitmodels::GroupRecords& records, const std::string& target, const std::vector<std::string>& inputs);

}  // namespace splitrun

#endif

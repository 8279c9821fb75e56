// The split keys a group's records hold, exactly as they hold them.
#ifndef SPLITRUN_GROUP_KEYS_H
#define SPLITRUN_GROUP_KEYS_H

#include <string>
#include <vector>

#include <refhost/run.h>
#include <splitmodels/split_model.h>

namespace splitrun {

// One key: a value per split field, in split-field order.
using SplitKey = std::vector<splitmodels::SplitValue>;

// The distinct keys of `records` over `splitFields`, in order of first
// appearance. Values are written so that they read back exactly: integers
// in decimal, reals as the shortest text that reads back to the same double,
// texts byte for byte (zero bytes included). The module puts records whose
// reals lie within its tolerance, or whose texts agree up to a zero byte,
// into one group; such a group has several keys, and the split model tests
// all of them. Fields that `records` lacks are left out.
std::vector<SplitKey> distinctSplitKeys(const refhost::TableRows& records, const std::vector<std::string>& splitFields);

}  // namespace splitrun

#endif

// Which fields a build uses for what, checked against the loaded table.
#ifndef SPLITRUN_MODEL_FIELDS_H
#define SPLITRUN_MODEL_FIELDS_H

#include "csv_table.h"
#include "field_roles.h"
#include "options.h"

namespace splitrun {

// Resolves the split, target and input fields of `options` against the
// table's columns. Throws InputError for an unknown field, a field used in
// two roles, no inputs, a linear target that is not numeric, a logistic
// target without exactly two distinct values, or an --event that is not
// one of them.
ModelFields resolveModelFields(const BuildOptions& options, const CsvTable& data);

}  // namespace splitrun

#endif

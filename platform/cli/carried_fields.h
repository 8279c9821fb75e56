// Which columns of a streamed input the build's records carry through the
// spool files and to the workers: those a group's model reads, and the
// split fields. The others (an identifier, a free-text note) are held as
// missing values, so that a long unused column costs neither memory nor
// temporary disk; the data model still lists every field.
#ifndef SPLITRUN_CARRIED_FIELDS_H
#define SPLITRUN_CARRIED_FIELDS_H

#include <vector>

#include <refhost/table.h>

#include "options.h"

namespace splitrun {

// The columns to carry, by position in `columns`: the split fields, the
// target, the inputs, the glm's weights and offset, and every field a
// formula reads. Empty (every column) when the inputs are left to their
// default or a formula's right side is ".", which read all the others.
std::vector<bool> carriedColumns(const BuildOptions& options, const std::vector<refhost::Column>& columns);

}  // namespace splitrun

#endif

// The data model document split-run hands the components.
#ifndef SPLITRUN_DATA_MODEL_TEXT_H
#define SPLITRUN_DATA_MODEL_TEXT_H

#include <string>

#include <refhost/table.h>

#include "csv_table.h"
#include "model_fields.h"

namespace splitrun {

// The --data-model document as given, or one built from the table: every
// field with its storage and measure, the roles split, target, input or
// none, the record count, and the categories of non-continuous fields in
// sorted order (numbers numerically, text bytewise), so that the first
// category, against which a nominal input is coded, does not depend on the
// order of the file.
std::string componentDataModel(const CsvTable& data, const refhost::Table& table,
                               const ModelFields& fields);

}  // namespace splitrun

#endif

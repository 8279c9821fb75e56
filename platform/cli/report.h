// The standard output of a build: the data's fields, one row per group, the
// counts, and the messages the components raised.
#ifndef SPLITRUN_REPORT_H
#define SPLITRUN_REPORT_H

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include <refhost/host.h>

#include "csv_table.h"
#include "options.h"
#include "run_summary.h"

namespace splitrun {

// Aligns columns of cells; widths count UTF-8 characters, not bytes. The
// last cell of each row is left unpadded and may run long.
std::string formatTable(const std::vector<std::vector<std::string>>& rows);

// Fields the terminal report lists before it summarises the rest.
inline constexpr std::size_t kListedFields = 40;

// One line per field: name, storage, measure, distinct values, missing
// values; beyond kListedFields fields, the rest counted by storage.
void printFields(std::ostream& out, const CsvTable& data);

// Groups the terminal report lists before it summarises the rest.
inline constexpr std::size_t kListedGroups = 40;

// The group table (group size, records used and skipped, the fit's summary
// or failure, warnings) and the line of counts. A glm report first names
// the family and link, a logistic or binomial one the event value modelled.
// Beyond kListedGroups groups the rest are counted and the reader is pointed
// to groups.csv. Saturated fits (no residual degrees of freedom) are counted
// in a warning.
void printGroups(std::ostream& out, const RunSummary& summary,
                 const std::vector<std::string>& splitFields, const std::vector<int>& splitStorages,
                 const BuildOptions& options, const std::string& event);

// Text inputs with a different value in every record, which saturate every
// group they enter (one dummy column per record): names of those among
// `inputs` that look like identifiers.
std::vector<std::string> identifierInputs(const CsvTable& data, const std::vector<std::string>& inputs);

// Warns about inputs taken by default that look like identifiers.
void printIdentifierWarning(std::ostream& out, const std::vector<std::string>& identifiers);

// Messages of a component with code, type and catalogue text.
void printMessages(std::ostream& out, const std::string& component,
                   const std::vector<refhost::Message>& messages);

}  // namespace splitrun

#endif

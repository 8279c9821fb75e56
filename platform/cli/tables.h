// The tidy tables of a build: coefficients.csv (one row per group and term)
// and groups.csv (one row per group), for reading into R or pandas.
#ifndef SPLITRUN_TABLES_H
#define SPLITRUN_TABLES_H

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "run_summary.h"

namespace splitrun {

// The text of coefficients.csv: the split fields under their own names,
// then term, estimate, std_error, statistic, p_value; one row per fitted
// group and term, groups in output order, terms in model order. Missing
// values (an aliased term's, for instance) are empty fields; numbers have
// 17 significant digits so they read back exactly.
std::string coefficientsTable(const RunSummary& summary, const std::vector<std::string>& splitFields,
                              const std::vector<int>& splitStorages);

// The text of groups.csv: the split fields, model_id, status (ok or
// failed), records, records_used, df_residual, r_squared, adj_r_squared,
// sigma, f_statistic, f_p_value, deviance, null_deviance, aic, family,
// link, dispersion, df_null, iterations, converged and message (the failure
// reason, or the model's warnings). Columns that do not apply to the model
// kind are empty: `logistic` is set for every model fitted by iteration
// (logistic and glm), which fill deviance to aic, iterations and converged
// instead of the least-squares columns.
std::string groupsTable(const RunSummary& summary, const std::vector<std::string>& splitFields,
                        const std::vector<int>& splitStorages, bool logistic);

// The same tables written to a stream row by row, so that a run of many
// groups never holds a whole table in memory.
void writeCoefficientsTable(std::ostream& out, const RunSummary& summary,
                            const std::vector<std::string>& splitFields, const std::vector<int>& splitStorages);
void writeGroupsTable(std::ostream& out, const RunSummary& summary, const std::vector<std::string>& splitFields,
                      const std::vector<int>& splitStorages, bool logistic);

// Writes both tables into `dir`, streamed. Throws RunError when a file
// cannot be written.
void writeTables(const RunSummary& summary, const std::vector<std::string>& splitFields,
                 const std::vector<int>& splitStorages, bool logistic, const std::filesystem::path& dir);

}  // namespace splitrun

#endif

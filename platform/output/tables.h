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

// A group's split values as the tables write them: CSV cells separated by
// commas.
std::string splitValuesText(const GroupOutcome& group, const std::vector<int>& splitStorages);

// Writes coefficients.csv: the split fields under their own names,
// then term, estimate, std_error, statistic, p_value, conf_low, conf_high
// (the interval at `confLevel`: t on the residual degrees of freedom for a
// linear model, the normal for a logistic one); one row per fitted group
// and term, groups in output order, terms in model order. Missing values
// (an aliased term's, for instance) are empty fields; numbers have 17
// significant digits so they read back exactly.
void writeCoefficientsTable(std::ostream& out, const RunSummary& summary,
                            const std::vector<std::string>& splitFields, const std::vector<int>& splitStorages,
                            bool logistic, double confLevel);

// Writes covariance.csv: the split fields, then term1, term2 and
// covariance, one row per ordered pair of a fitted group's terms (both
// orders, in model order): the covariance of the two estimates, missing
// where either term is aliased.
void writeCovarianceTable(std::ostream& out, const RunSummary& summary,
                          const std::vector<std::string>& splitFields, const std::vector<int>& splitStorages);

// Writes groups.csv: the split fields, model_id, status (ok or
// failed), records, records_used, df_residual, r_squared, adj_r_squared,
// sigma, f_statistic, f_p_value, deviance, null_deviance, aic, family,
// link, dispersion, df_null, iterations, converged, saturated (true when the
// fit has no residual degrees of freedom: as many estimated parameters as
// records, so it reproduces them), reused (true when an incremental build
// took the group's model from the previous build) and message (the failure reason, or the
// model's warnings). Columns that do not apply to the model kind, or to a
// failed group, are empty: `logistic` is set for every model fitted by
// iteration (logistic and glm), which fill deviance to aic, iterations and
// converged instead of the least-squares columns.
void writeGroupsTable(std::ostream& out, const RunSummary& summary, const std::vector<std::string>& splitFields,
                      const std::vector<int>& splitStorages, bool logistic);

// Writes the three tables into `dir`, each streamed row by row so that a
// run of many groups never holds a whole table in memory. Throws RunError when a
// file cannot be written.
void writeTables(const RunSummary& summary, const std::vector<std::string>& splitFields,
                 const std::vector<int>& splitStorages, bool logistic, const std::filesystem::path& dir,
                 double confLevel = 0.95);

}  // namespace splitrun

#endif

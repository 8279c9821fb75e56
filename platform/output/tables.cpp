#include "tables.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <span>
#include <sstream>

#include <splitmodels/inference.h>
#include <splitmodels/number_text.h>

#include "csv_writer.h"
#include "errors.h"
#include "output_dir.h"
#include "thread_shares.h"
#include "value_parsing.h"

namespace splitrun {

namespace {

// A number with 17 significant digits; NaN and infinities are missing.
void appendNumberCell(std::string& line, double value)
{
    if (!std::isfinite(value)) return;
    char text[splitmodels::kNumberTextSize];
    line.append(text, splitmodels::writeNumber17(text, value));
}

std::string numberCell(double value)
{
    std::string cell;
    appendNumberCell(cell, value);
    return cell;
}

// A table's rows gathered in memory and handed to the stream a block at a
// time: an insertion per cell costs more than the cell's text.
class RowBuffer {
public:
    explicit RowBuffer(std::ostream& out) : out_(out) {}
    ~RowBuffer() { flush(); }
    std::string& text() { return text_; }
    // Passes the text on once it is large.
    void rowDone()
    {
        if (text_.size() >= kBlock) flush();
    }
    void flush()
    {
        out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
        text_.clear();
    }

private:
    static constexpr std::size_t kBlock = 1 << 16;
    std::ostream& out_;
    std::string text_;
};

// A split value as the input holds it: strings quoted where CSV needs it,
// reals in round-trip form, dates, times and timestamps in their text
// forms; missing is an empty field.
std::string splitCell(const TaskSplitValue& value, int storage)
{
    if (value.missing) return "";
    const auto kind = static_cast<Storage>(storage);
    if (kind == Storage::String || kind == Storage::None) return csvCell(value.value);
    if (kind == Storage::Real) {
        const std::optional<double> number = parseReal(value.value);
        return number ? numberCell(*number) : csvCell(value.value);
    }
    return csvCell(displaySplitValue(value, storage));
}

std::string keyCells(const GroupOutcome& group, const std::vector<std::string>& splitFields,
                     const std::vector<int>& splitStorages)
{
    std::string line;
    for (std::size_t i = 0; i < splitFields.size(); ++i)
        line += (i < group.values.size() ? splitCell(group.values[i], splitStorages[i]) : "") + ",";
    return line;
}

std::string headerCells(const std::vector<std::string>& splitFields)
{
    std::string line;
    for (const std::string& field : splitFields) line += csvCell(field) + ",";
    return line;
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

}  // namespace

void writeCoefficientsTable(std::ostream& out, const RunSummary& summary,
                            const std::vector<std::string>& splitFields, const std::vector<int>& splitStorages,
                            bool logistic, double confLevel)
{
    out << headerCells(splitFields) << "term,estimate,std_error,statistic,p_value,conf_low,conf_high\n";
    RowBuffer rows(out);
    for (const GroupOutcome& group : summary.groups) {
        if (!group.failure.empty() || !group.model) continue;
        const std::string key = keyCells(group, splitFields, splitStorages);
        // A linear model's interval uses t on its residual degrees of
        // freedom; a logistic one is the Wald interval on the normal.
        const double df = logistic ? std::numeric_limits<double>::infinity() : group.model->dfResidual;
        for (std::size_t t = 0; t < group.model->termCount(); ++t) {
            const KeptTerm term = group.model->term(t);
            const splitmodels::Interval interval =
                splitmodels::confidenceInterval(term.estimate, term.stdError, df, confLevel);
            std::string& line = rows.text();
            line += key;
            appendCsvCell(line, std::string_view(term.name));
            for (const double value : {term.estimate, term.stdError, term.statistic, term.pValue, interval.low}) {
                line += ',';
                appendNumberCell(line, value);
            }
            line += ',';
            appendNumberCell(line, interval.high);
            line += '\n';
            rows.rowDone();
        }
    }
}

void writeCovarianceTable(std::ostream& out, const RunSummary& summary,
                          const std::vector<std::string>& splitFields, const std::vector<int>& splitStorages)
{
    out << headerCells(splitFields) << "term1,term2,covariance\n";
    RowBuffer rows(out);
    for (const GroupOutcome& group : summary.groups) {
        if (!group.failure.empty() || !group.model) continue;
        const std::string key = keyCells(group, splitFields, splitStorages);
        const KeptModel& model = *group.model;
        const std::span<const double> covariance = model.covariance();
        // The covariance covers the estimated terms only: an aliased term
        // has no rows, as in R's vcov(fit, complete = FALSE).
        std::vector<const std::string*> estimated;
        for (std::size_t t = 0; t < model.termCount(); ++t)
            if (const KeptTerm term = model.term(t); !std::isnan(term.estimate)) estimated.push_back(&term.name);
        const std::size_t count = estimated.size();
        for (std::size_t a = 0; a < count; ++a)
            for (std::size_t b = 0; b < count; ++b) {
                const std::size_t at = a * count + b;
                std::string& line = rows.text();
                line += key;
                appendCsvCell(line, std::string_view(*estimated[a]));
                line += ',';
                appendCsvCell(line, std::string_view(*estimated[b]));
                line += ',';
                if (at < covariance.size()) appendNumberCell(line, covariance[at]);
                line += '\n';
                rows.rowDone();
            }
    }
}

static bool saturated(const KeptModel& fit)
{
    return fit.dfResidual == 0;
}

void writeGroupsTable(std::ostream& out, const RunSummary& summary, const std::vector<std::string>& splitFields,
                      const std::vector<int>& splitStorages, bool logistic)
{
    out << headerCells(splitFields)
        << "model_id,status,records,records_used,df_residual,r_squared,adj_r_squared,sigma,"
           "f_statistic,f_p_value,deviance,null_deviance,aic,family,link,dispersion,df_null,iterations,"
           "converged,saturated,reused,message\n";
    RowBuffer rows(out);
    const auto numbers = [](std::string& line, std::initializer_list<double> values) {
        for (const double value : values) {
            appendNumberCell(line, value);
            line += ',';
        }
    };
    for (const GroupOutcome& group : summary.groups) {
        const KeptModel* fit = group.model;
        const bool ok = group.failure.empty() && fit;
        std::string& line = rows.text();
        line += keyCells(group, splitFields, splitStorages);
        line += group.modelId;
        line += ok ? ",ok," : ",failed,";
        line += std::to_string(group.records);
        line += ',';
        if (fit) line += std::to_string(fit->records);
        line += ',';
        if (ok && !logistic) {
            numbers(line, {fit->dfResidual, fit->rSquared, fit->adjustedRSquared, fit->sigma, fit->fStatistic});
            appendNumberCell(line, fit->fPValue);
            line += ",,,,";
        } else if (ok) {
            appendNumberCell(line, fit->dfResidual);
            line += ",,,,,,";
            numbers(line, {fit->deviance, fit->nullDeviance, fit->aic});
        } else {
            line += ",,,,,,,,,";
        }
        if (ok) {
            line += fit->family();
            line += ',';
            line += fit->link();
            line += ',';
            numbers(line, {fit->dispersion, fit->dfNull});
            if (logistic) {
                line += std::to_string(fit->iterations);
                line += fit->converged ? ",true," : ",false,";
            } else {
                line += ",,";
            }
        } else {
            line += ",,,,,,";
        }
        line += ok ? (saturated(*fit) ? "true," : "false,") : ",";
        line += group.reused ? "true," : "false,";
        const std::string message = ok ? joined(fit->warnings()) : group.failure;
        if (!message.empty()) appendCsvCell(line, std::string_view(message));
        line += '\n';
        rows.rowDone();
    }
}

std::string splitValuesText(const GroupOutcome& group, const std::vector<int>& splitStorages)
{
    std::string text;
    for (std::size_t i = 0; i < splitStorages.size(); ++i)
        text += (i ? "," : "") + (i < group.values.size() ? splitCell(group.values[i], splitStorages[i]) : "");
    return text;
}

namespace {

// Writes one table into a file as it is produced, row by row.
template <typename Write>
void writeTableFile(const std::filesystem::path& path, Write write)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw writeError(path, errno);
    errno = 0;
    write(out);
    out.close();
    // The reason is that of the write or close that failed.
    if (!out) throw writeError(path, errno != 0 ? errno : EIO);
}

}  // namespace

void writeTables(const RunSummary& summary, const std::vector<std::string>& splitFields,
                 const std::vector<int>& splitStorages, bool logistic, const std::filesystem::path& dir,
                 double confLevel)
{
    // Three files from the same summary, read only: written at once. A
    // failure is that of the first table in this order that failed.
    runShares(3, [&](std::size_t table) {
        if (table == 0)
            writeTableFile(dir / "coefficients.csv", [&](std::ostream& out) {
                writeCoefficientsTable(out, summary, splitFields, splitStorages, logistic, confLevel);
            });
        else if (table == 1)
            writeTableFile(dir / "covariance.csv", [&](std::ostream& out) {
                writeCovarianceTable(out, summary, splitFields, splitStorages);
            });
        else
            writeTableFile(dir / "groups.csv", [&](std::ostream& out) {
                writeGroupsTable(out, summary, splitFields, splitStorages, logistic);
            });
    });
}

}  // namespace splitrun

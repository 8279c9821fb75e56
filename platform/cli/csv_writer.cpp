#include "csv_writer.h"

namespace splitrun {

std::string csvCell(const std::string& value)
{
    // The text NA is quoted: unquoted, split-run reads it back as missing.
    if (!value.empty() && value != "NA" && value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string cell = "\"";
    for (char c : value) {
        if (c == '"') cell += '"';
        cell += c;
    }
    return cell + "\"";
}

std::string csvCell(const CsvField& field)
{
    return field.isMissing() ? std::string() : csvCell(field.value);
}

}  // namespace splitrun

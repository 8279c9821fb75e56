#include "csv_writer.h"

#include <charconv>

namespace splitrun {

namespace {

// A byte loop: find_first_of would search the set once per byte.
bool holdsSpecial(std::string_view value)
{
    for (const char c : value)
        if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
    return false;
}

}  // namespace

void appendCsvCell(std::string& out, std::string_view value)
{
    // The text NA is quoted: unquoted, split-run reads it back as missing.
    if (!value.empty() && value != "NA" && !holdsSpecial(value)) {
        out += value;
        return;
    }
    appendQuotedCsvCell(out, value);
}

void appendQuotedCsvCell(std::string& out, std::string_view value)
{
    out += '"';
    for (char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void appendCsvNumber(std::string& out, double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

std::string csvCell(const std::string& value)
{
    std::string cell;
    appendCsvCell(cell, std::string_view(value));
    return cell;
}

}  // namespace splitrun

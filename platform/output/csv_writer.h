// Writing CSV cells: quoted only where needed, so values read back as they
// were (a present empty string stays "" and a missing value stays empty).
#ifndef SPLITRUN_CSV_WRITER_H
#define SPLITRUN_CSV_WRITER_H

#include <string>
#include <string_view>

namespace splitrun {

// A present value: quoted when it holds a comma, quote, CR or LF, is empty,
// or is the text NA (which unquoted reads back as missing).
std::string csvCell(const std::string& value);

// The same cells appended to `out`, without a temporary string.
void appendCsvCell(std::string& out, std::string_view value);
// A present value, always quoted: a text equal to the missing-value token
// of the output must not read back as missing.
void appendQuotedCsvCell(std::string& out, std::string_view value);
// A number as the shortest text that reads back to the same double.
void appendCsvNumber(std::string& out, double value);

}  // namespace splitrun

#endif

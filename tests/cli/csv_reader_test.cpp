// The CSV reader: quoting, line ends, missing versus empty values (its
// errors for malformed input are checked end to end, with the exit status).
#include <sstream>

#include <gtest/gtest.h>

#include "csv_reader.h"

using splitrun::CsvReader;
using splitrun::CsvRecord;

namespace {

// The header's names joined by '|', then each record as its line number and
// its fields joined by '|', a missing value as '~'.
std::vector<std::string> readAll(const std::string& text)
{
    std::istringstream in(text);
    CsvReader reader(in, "in.csv");
    std::vector<std::string> rows;
    rows.emplace_back();
    for (const std::string& name : reader.header()) rows[0] += (rows[0].empty() ? "" : "|") + name;
    CsvRecord record;
    while (reader.next(record)) {
        std::string row = std::to_string(record.line) + ":";
        for (std::size_t i = 0; i < record.fields.size(); ++i)
            row += (i ? "|" : "") + (record.fields[i].isMissing() ? std::string("~") : record.fields[i].value);
        rows.push_back(row);
    }
    return rows;
}

TEST(CsvReader, ReadsRecordsByRfc4180Rules)
{
    struct Case { const char* name; std::string text; std::vector<std::string> rows; };
    const Case cases[] = {
        {"plain LF", "a,b\n1,2\n3,4\n", {"a|b", "2:1|2", "3:3|4"}},
        {"CRLF and no final line end", "a,b\r\n1,2\r\n3,4", {"a|b", "2:1|2", "3:3|4"}},
        {"byte order mark, quoted header", "\xEF\xBB\xBF\"a,\",b\r\n1,2\n", {"a,|b", "2:1|2"}},
        {"missing versus empty string", "a,b\n,\"\"\n", {"a|b", "2:~|"}},
        {"quoted comma, quote and line break", "a,b\n\"x,y\",\"say \"\"hi\"\"\nthere\"\n5,6\n",
         {"a|b", "2:x,y|say \"hi\"\nthere", "4:5|6"}},
        {"UTF-8 and zero bytes pass through",
         std::string("a,b\nK\xC3\xB6ln,x") + std::string(1, '\0') + "y\n",
         {"a|b", "2:K\xC3\xB6ln|" + std::string("x\0y", 3)}},
        {"trailing blank lines ignored", "a,b\n1,2\n\n\n", {"a|b", "2:1|2"}},
        {"single column keeps missing values", "a\n1\n\n2\n", {"a", "2:1", "3:~", "4:2"}},
        {"unquoted NA is missing, quoted NA is text", "a,b\nNA,\"NA\"\nNA,NA\n", {"a|b", "2:~|NA", "3:~|~"}},
    };
    for (const Case& c : cases) EXPECT_EQ(readAll(c.text), c.rows) << c.name;
}

}  // namespace

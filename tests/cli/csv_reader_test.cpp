// The CSV reader: quoting, line ends, missing versus empty values, and the
// errors it reports for malformed input.
#include <sstream>

#include <gtest/gtest.h>

#include "csv_reader.h"
#include "errors.h"

using splitrun::CsvReader;
using splitrun::CsvRecord;
using splitrun::InputError;

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

std::string errorOf(const std::string& text)
{
    try {
        readAll(text);
    } catch (const InputError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(CsvReader, ReadsRecordsByRfc4180Rules)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> rows;
    };
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
    };
    for (const Case& c : cases) EXPECT_EQ(readAll(c.text), c.rows) << c.name;
}

TEST(CsvReader, MalformedInputNamesFileLineColumnAndField)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> expected;   // substrings of the message
    };
    const Case cases[] = {
        {"ragged row, too few", "a,b,c\n1,2,3\n4,5\n", {"in.csv:3:3 (field 'c')", "2 fields", "has 3"}},
        {"ragged row, too many", "a,b\n1,2,3\n", {"in.csv:2:3", "3 fields"}},
        {"unterminated quote", "a,b\n1,2\n3,\"open\n4,5\n", {"in.csv:3:2 (field 'b')", "never closed"}},
        {"text after closing quote", "a,b\n\"x\"y,2\n", {"in.csv:2:1 (field 'a')", "after the closing quote"}},
        {"quote inside unquoted field", "a,b\n1,x\"y\n", {"in.csv:2:2", "quote"}},
        {"blank line between records", "a,b\n1,2\n\n3,4\n", {"in.csv:3:1", "empty"}},
        {"duplicate header name", "a,b,a\n", {"in.csv:1:3", "'a' appears twice"}},
        {"empty header name", "a,,c\n", {"in.csv:1:2", "names no field"}},
        {"no header", "", {"header row is missing"}},
    };
    for (const Case& c : cases) {
        const std::string message = errorOf(c.text);
        for (const std::string& part : c.expected)
            EXPECT_NE(message.find(part), std::string::npos) << c.name << ": " << message;
    }
}

}  // namespace

// Loading a whole CSV file into a typed table, with storages inferred from
// the values or taken from a data model document.
#ifndef SPLITRUN_CSV_TABLE_H
#define SPLITRUN_CSV_TABLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <refhost/table.h>

namespace splitrun {

struct FieldSummary {
    std::string name;
    int storage = 0;
    int measure = 0;
    std::size_t categories = 0;   // distinct present values
    std::size_t missing = 0;      // missing values
};

struct CsvTable {
    std::string source;                 // the file name, for messages
    refhost::Table table;               // rows in file order
    std::vector<std::uint64_t> lines;   // source line of each row
    std::vector<FieldSummary> fields;   // one per column, in table order
    std::string dataModelText;          // the --data-model document, or empty when inferred
};

// Reads `csvPath`. Without a data model each column's storage and measure
// are inferred; with one (`dataModelPath` non-empty) its fields must be the
// header's fields (in any order; the table takes the data model's order) and
// every value must read as its field's storage. Throws InputError naming the
// file, line, column and field of the first problem.
CsvTable readCsvTable(const std::string& csvPath, const std::string& dataModelPath);

// The whole content of a file; throws InputError naming the option when it
// cannot be read.
std::string readInputFile(const std::string& path, const std::string& option);

}  // namespace splitrun

#endif

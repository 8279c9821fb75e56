// How the CSV files split-run reads are written: the field delimiter, the
// decimal mark, the unquoted tokens that stand for a missing value, the
// text encoding, and the longest line or field accepted.
#ifndef SPLITRUN_CSV_FORMAT_H
#define SPLITRUN_CSV_FORMAT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace splitrun {

struct CsvFormat {
    char delimiter = ',';   // ',', ';' or '\t'
    char decimal = '.';     // '.' or ','; with ',' a number "3,25" reads as 3.25
    // Unquoted field texts that are missing values, besides the empty field
    // (which is always missing when unquoted). Quoted, they are text.
    std::vector<std::string> naValues{"NA"};
    bool latin1 = false;    // the bytes are Latin-1 and are read as UTF-8
    // The longest field, and the longest line, in bytes; a longer one is an
    // error naming its line, so memory stays bounded whatever the input.
    std::size_t maxFieldSize = std::size_t{64} << 20;

    // True when an unquoted field of this text is a missing value.
    bool isMissingToken(std::string_view text) const
    {
        if (text.empty()) return true;
        for (const std::string& token : naValues)
            if (text == token) return true;
        return false;
    }
};

// Where a decimal comma turns a field's text into a number: the position of
// its one comma, when the text holds no point and reads as a real with the
// comma made a point ("3,25" is 3.25); npos for any other text, which stays
// as it is. Both readers apply it to every present field of a file read with
// a decimal comma.
std::size_t decimalCommaAt(std::string_view text);

}  // namespace splitrun

#endif

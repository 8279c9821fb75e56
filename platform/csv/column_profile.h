// Storage and measure inference for one CSV column.
//
// Every present value is tried against each storage kind; the column gets
// the first kind all its values read as: integer, real (integers and reals
// mixed), date, time, timestamp, otherwise string. Missing values do not
// vote; a present empty string makes the column a string column.
#ifndef SPLITRUN_COLUMN_PROFILE_H
#define SPLITRUN_COLUMN_PROFILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "value_parsing.h"

namespace splitrun {

// What a text column holds besides numbers: the count of present values
// that read as numbers, of those that do not, their first few distinct
// texts, and the line of the first; the first text that is not UTF-8, and
// the first that holds a zero byte.
struct TextTally {
    std::size_t numbers = 0;
    std::size_t others = 0;
    std::vector<std::string> otherTexts;   // at most kStrayTexts + 1, in order of appearance
    std::uint64_t firstOtherLine = 0;
    std::string notUtf8;                   // the first text that is not UTF-8, or empty
    std::uint64_t notUtf8Line = 0;
    std::string zeroByte;                  // the first text holding a zero byte, or empty
    std::uint64_t zeroByteLine = 0;
    std::string controlByte;               // the first text holding a byte XML cannot carry, or empty
    std::uint64_t controlByteLine = 0;

    // Counts one present value read from `line`.
    void add(std::string_view text, std::uint64_t line);
    // Keeps `text` as the first that holds a control byte, when it is.
    void noteControlByte(std::string_view text, std::uint64_t line);
};

// Whether the text holds a control byte other than tab, line feed and
// carriage return: XML cannot carry one, so a document naming the value
// would lose it.
bool holdsControlByte(std::string_view text);

// The most distinct values a column may have and still be a set of
// categories a model could use. Past it a column's values are counted, not
// kept: the data model lists no categories for it, and profiling a file too
// large to load stops collecting its texts.
constexpr std::size_t kCategoryLimit = 10000;

// The most distinct non-numbers a column of numbers may hold and still be
// taken for a numeric column with stray cells.
constexpr std::size_t kStrayTexts = 3;

// True when a text column looks numeric but for a few stray cells (a
// missing-value marker or a typo): at most kStrayTexts distinct texts that
// are not numbers, in at most one value of five. Such a column read as a
// category gives every group a level per value; it is refused instead.
bool hasStrayTexts(const TextTally& tally);

class ColumnProfile {
public:
    // A field's text, read from `line`; a missing value does not vote.
    void observe(std::string_view text, bool missing, std::uint64_t line = 0);
    const TextTally& tally() const { return tally_; }

    Storage storage() const;
    // Continuous for numbers, dates and times; nominal for strings.
    Measure measure() const;
    // Longest present value in bytes.
    std::size_t maxStringLength() const { return maxLength_; }
    std::size_t presentCount() const { return present_; }

private:
    bool integer_ = true, real_ = true, date_ = true, time_ = true, timestamp_ = true;
    std::size_t present_ = 0;
    std::size_t maxLength_ = 0;
    TextTally tally_;
};

}  // namespace splitrun

#endif

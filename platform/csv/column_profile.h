// Storage and measure inference for one CSV column.
//
// Every present value is tried against each storage kind; the column gets
// the first kind all its values read as: integer, real (integers and reals
// mixed), date, time, timestamp, otherwise string. Missing values do not
// vote; a present empty string makes the column a string column.
#ifndef SPLITRUN_COLUMN_PROFILE_H
#define SPLITRUN_COLUMN_PROFILE_H

#include <cstddef>
#include <string_view>

#include "value_parsing.h"

namespace splitrun {

class ColumnProfile {
public:
    // A field's text; a missing value does not vote.
    void observe(std::string_view text, bool missing);

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
};

}  // namespace splitrun

#endif

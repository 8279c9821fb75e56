#include "column_profile.h"

#include <algorithm>

namespace splitrun {

void ColumnProfile::observe(std::string_view text, bool missing)
{
    if (missing) return;
    ++present_;
    maxLength_ = std::max(maxLength_, text.size());
    if (integer_ && !parseInteger(text)) integer_ = false;
    if (real_ && !parseReal(text)) real_ = false;
    if (date_ && !parseDate(text)) date_ = false;
    if (time_ && !parseTime(text)) time_ = false;
    if (timestamp_ && !parseTimestamp(text)) timestamp_ = false;
}

Storage ColumnProfile::storage() const
{
    if (present_ == 0) return Storage::String;
    if (integer_) return Storage::Integer;
    if (real_) return Storage::Real;
    if (date_) return Storage::Date;
    if (time_) return Storage::Time;
    if (timestamp_) return Storage::Timestamp;
    return Storage::String;
}

Measure ColumnProfile::measure() const
{
    return storage() == Storage::String ? Measure::Nominal : Measure::Continuous;
}

}  // namespace splitrun

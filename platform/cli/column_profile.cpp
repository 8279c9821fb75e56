#include "column_profile.h"

#include <algorithm>

namespace splitrun {

void ColumnProfile::observe(const CsvField& field)
{
    if (field.isMissing()) return;
    const std::string& text = field.value;
    ++present_;
    maxLength_ = std::max(maxLength_, text.size());
    distinct_.insert(text);
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

std::size_t ColumnProfile::categoryCount() const
{
    const Storage kind = storage();
    if (kind == Storage::String) return distinct_.size();
    std::set<double> numbers;
    for (const std::string& text : distinct_)
        if (auto number = parseNumber(kind, text)) numbers.insert(*number);
    return numbers.size();
}

std::vector<std::string> ColumnProfile::categories() const
{
    return {distinct_.begin(), distinct_.end()};
}

}  // namespace splitrun

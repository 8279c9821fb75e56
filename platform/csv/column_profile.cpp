#include "column_profile.h"

#include <algorithm>

namespace splitrun {

void TextTally::add(std::string_view text, std::uint64_t line)
{
    if (notUtf8Line == 0 && !isUtf8(text)) {
        notUtf8 = std::string(text);
        notUtf8Line = line;
    }
    if (zeroByteLine == 0 && text.find('\0') != std::string_view::npos) {
        zeroByte = std::string(text);
        zeroByteLine = line;
    }
    noteControlByte(text, line);
    if (parseReal(text)) {
        ++numbers;
        return;
    }
    if (others++ == 0) firstOtherLine = line;
    if (otherTexts.size() <= kStrayTexts && std::find(otherTexts.begin(), otherTexts.end(), text) == otherTexts.end())
        otherTexts.emplace_back(text);
}

void TextTally::noteControlByte(std::string_view text, std::uint64_t line)
{
    if (controlByteLine != 0 || !holdsControlByte(text)) return;
    controlByte = std::string(text);
    controlByteLine = line;
}

bool holdsControlByte(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
    });
}

bool hasStrayTexts(const TextTally& tally)
{
    return tally.others > 0 && tally.otherTexts.size() <= kStrayTexts && tally.numbers >= 4 * tally.others;
}

void ColumnProfile::observe(std::string_view text, bool missing, std::uint64_t line)
{
    if (missing) return;
    ++present_;
    tally_.add(text, line);
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

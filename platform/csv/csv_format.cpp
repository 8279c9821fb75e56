#include "csv_format.h"

#include <string>

#include "value_parsing.h"

namespace splitrun {

std::size_t decimalCommaAt(std::string_view text)
{
    const std::size_t comma = text.find(',');
    // One comma and no point: a second mark makes the text no number.
    if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos ||
        text.find('.') != std::string_view::npos)
        return std::string_view::npos;
    std::string candidate(text);
    candidate[comma] = '.';
    return parseReal(candidate) ? comma : std::string_view::npos;
}

}  // namespace splitrun

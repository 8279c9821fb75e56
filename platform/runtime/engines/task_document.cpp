#include "task_document.h"

#include <cmath>
#include <cstdio>

#include <pugixml.hpp>

#include "value_parsing.h"

namespace splitrun {

std::vector<TaskSplitValue> parseTaskDocument(const std::string& text)
{
    std::vector<TaskSplitValue> values;
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size())) return values;
    for (pugi::xml_node field : doc.document_element().children("SplitField"))
        values.push_back({field.attribute("name").value(), field.attribute("value").value(),
                          std::string(field.attribute("isNull").value()) == "true"});
    return values;
}

std::string displaySplitValue(const TaskSplitValue& value, int storage)
{
    if (value.missing) return "<missing>";
    const auto kind = static_cast<Storage>(storage);
    if (kind == Storage::String || kind == Storage::None || kind == Storage::Integer)
        return value.value.empty() ? "\"\"" : value.value;
    const std::optional<double> number = parseReal(value.value);
    if (!number) return value.value;
    const double whole = std::floor(*number);
    if (whole == *number && std::fabs(whole) < 9e15) {
        const auto integral = static_cast<std::int64_t>(whole);
        if (kind == Storage::Date) return formatDate(integral);
        if (kind == Storage::Time) return formatTime(integral);
        if (kind == Storage::Timestamp) return formatTimestamp(integral);
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", *number);
    return text;
}

}  // namespace splitrun

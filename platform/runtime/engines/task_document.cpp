#include "task_document.h"

#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>

#include <pugixml.hpp>

#include "value_parsing.h"

namespace splitrun {

namespace {

// Takes `prefix` off the front of `text`; false when `text` does not start
// with it.
bool take(std::string_view& text, std::string_view prefix)
{
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// Takes an attribute value up to its closing quote off the front of `text`;
// false unless the value reads as it is written (no reference to expand,
// no control character a parser would change, no '<').
bool takePlainValue(std::string_view& text, std::string& value)
{
    std::size_t end = 0;
    for (; end < text.size() && text[end] != '"'; ++end) {
        const unsigned char c = static_cast<unsigned char>(text[end]);
        if (c < 0x20 || c == '&' || c == '<') return false;
    }
    if (end == text.size()) return false;
    value.assign(text.data(), end);
    text.remove_prefix(end + 1);
    return true;
}

// The task document as the distributor prints it, one SplitField a line,
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <SplitFields>
//     <SplitField name="k" value="s0000001" isNull="false" />
//   </SplitFields>
//
// with plain values, read without a parse (the run summary reads every
// group's task, and a parse cost several times the reading). False for any
// other text, which the parser reads.
bool readPrinted(std::string_view text, std::vector<TaskSplitValue>& values)
{
    constexpr std::string_view kEnd = "</SplitFields>\n";
    if (!take(text, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SplitFields>\n") || !text.ends_with(kEnd))
        return false;
    text.remove_suffix(kEnd.size());
    while (!text.empty()) {
        TaskSplitValue field;
        if (!take(text, "  <SplitField name=\"") || !takePlainValue(text, field.field) ||
            !take(text, " value=\"") || !takePlainValue(text, field.value) || !take(text, " isNull=\""))
            return false;
        field.missing = take(text, "true");
        if (!field.missing && !take(text, "false")) return false;
        if (!take(text, "\" />\n")) return false;
        values.push_back(std::move(field));
    }
    return true;
}

}  // namespace

std::vector<TaskSplitValue> parseTaskDocument(const std::string& text)
{
    std::vector<TaskSplitValue> values;
    if (readPrinted(text, values)) return values;
    values.clear();
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

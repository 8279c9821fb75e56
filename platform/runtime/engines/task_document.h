// Reading the worker task document: which split values a group has.
#ifndef SPLITRUN_TASK_DOCUMENT_H
#define SPLITRUN_TASK_DOCUMENT_H

#include <string>
#include <vector>

namespace splitrun {

struct TaskSplitValue {
    std::string field;
    std::string value;      // the value text as the distributor wrote it
    bool missing = false;
};

// The SplitField children of the document's root, in order; empty when the
// text does not parse.
std::vector<TaskSplitValue> parseTaskDocument(const std::string& text);

// A split value for people: <missing>, "" for an empty string, dates, times
// and timestamps in their text forms, numbers without trailing zeros.
std::string displaySplitValue(const TaskSplitValue& value, int storage);

}  // namespace splitrun

#endif

// One split field of one completed worker task, as the worker task document
// names it, completed with the field's codes from the input data model.
#ifndef SPLIT_COLLECT_SPLIT_FIELD_ENTRY_H
#define SPLIT_COLLECT_SPLIT_FIELD_ENTRY_H

#include <cstdint>
#include <string>

struct SplitFieldEntry {
    std::string name;
    int32_t storage = 0;  // 0 when the input data model has no such field
    int32_t measure = 6;  // 6 when the input data model has no such field
    std::string value;    // the group's value text, as the distributor wrote it
    std::string isNull;   // the host's "true" text when the value is missing
};

#endif

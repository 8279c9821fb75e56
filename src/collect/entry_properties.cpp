#include "collect/entry_properties.h"

std::string MakeEntryProperties(const std::string& mimeType, const std::string& typeId) {
    return "mimeType=" + mimeType + "\ntypeId=" + typeId;
}

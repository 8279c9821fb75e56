#include "module/buffer_protocol.h"

#include <cstring>

#include "cf_records.h"

namespace split {

uint32_t DeliverText(const std::string& text, char* buffer, size_t size, size_t* needed) {
    const size_t length = text.size() + 1;
    if (needed != nullptr) *needed = length;
    if (buffer == nullptr || length > size) return CF_BUFFER_TOO_SMALL;
    std::memcpy(buffer, text.c_str(), length);
    return CF_OK;
}

}  // namespace split

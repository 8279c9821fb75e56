#include "host_text.h"

#include <cstring>

#include "cf_cpp_helper.h"

namespace qorpeer {

namespace {
constexpr size_t kFirstBufferSize = 8192;
}

uint32_t ReadHostText(const HostTextCall& call, std::string& text) {
    CfCppHelperV1::BufferHelper buffer(kFirstBufferSize);
    size_t needed = 0;
    uint32_t status = call(buffer, buffer.size(), &needed);
    if (status == CF_BUFFER_TOO_SMALL) {
        // A host that reports no larger need gets one more byte than before,
        // so the second call never repeats the first.
        buffer.resize(needed > buffer.size() ? needed : buffer.size() + 1);
        needed = 0;
        status = call(buffer, buffer.size(), &needed);
    }
    if (status != CF_OK) return status;
    // The text ends at its terminator, or at the buffer's end if it has none.
    text.assign(buffer, strnlen(buffer, buffer.size()));
    return CF_OK;
}

uint32_t WriteCallerText(const std::string& text, char* buffer, size_t size, size_t* needed) {
    const size_t required = text.size() + 1;
    if (needed) *needed = required;
    if (!buffer || required > size) return CF_BUFFER_TOO_SMALL;
    std::memcpy(buffer, text.c_str(), required);
    return CF_OK;
}

}  // namespace qorpeer

// Delivery of a text into a caller's buffer.
#ifndef SPLIT_MODULE_BUFFER_PROTOCOL_H
#define SPLIT_MODULE_BUFFER_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace split {

// Sets *needed to the text's length plus one (always, when needed is not
// null). When that fits into size bytes, copies the text and its terminator
// into buffer and returns 0; otherwise returns 13 and leaves the buffer
// untouched, so the caller can call again with a buffer of *needed bytes.
// A null buffer counts as a buffer of size 0.
uint32_t DeliverText(const std::string& text, char* buffer, size_t size, size_t* needed);

}  // namespace split

#endif

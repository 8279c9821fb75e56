// The buffer protocol in both directions: reading a text from the host, and
// handing a text to a caller's buffer.
#ifndef SPLIT_PLATFORM_PEER_HOST_TEXT_H
#define SPLIT_PLATFORM_PEER_HOST_TEXT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qorpeer {

// One call of a host operation that fills (buffer, size) and reports the
// needed length; returns the host's status.
using HostTextCall = std::function<uint32_t(char* buffer, size_t size, size_t* needed)>;

// Reads a host text: first into 8192 bytes, and on status 13 once more into
// a buffer of the reported length. 0 and the text, or the host's status.
uint32_t ReadHostText(const HostTextCall& call, std::string& text);

// Hands text to a caller: *needed is always the length plus one; the text and
// its terminator are copied only when they fit, else 13 and the buffer is
// left untouched.
uint32_t WriteCallerText(const std::string& text, char* buffer, size_t size, size_t* needed);

}  // namespace qorpeer

#endif

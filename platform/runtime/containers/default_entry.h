// A container's default entry, with its bytes held once: a complete entry's
// bytes are one read-only shared string, which read streams read in place
// and the host hands on (to workers, say) without copying them.
//
// A default entry being written may be told the bytes it is expected to
// receive (a worker's copy of an input document, written by the module from
// the document itself). While the writes match those bytes nothing is
// stored; an entry that receives exactly them holds the expected string
// itself when it is finished. At the first byte that differs the matched
// part is copied and writing goes on as usual, so the entry's content is
// always what was written.
#ifndef REFHOST_DEFAULT_ENTRY_H
#define REFHOST_DEFAULT_ENTRY_H

#include <cstddef>
#include <string>

#include "refhost/container.h"

namespace refhost {

// Not thread-safe: the owning container serialises every use under its mutex.
class DefaultEntry {
public:
    // A complete entry holding `bytes` (null counts as empty).
    DefaultEntry(SharedBytes bytes, std::string properties);
    // An entry opened for writing, expecting `expected` (null: nothing
    // expected, every byte is stored).
    static DefaultEntry writing(std::string properties, SharedBytes expected);

    void append(const char* data, size_t length);
    // The entry is complete: its bytes are fixed from now on.
    void finish();

    bool complete() const { return complete_; }
    const std::string& properties() const { return properties_; }
    // A complete entry's bytes (never null); null while it is written.
    const SharedBytes& bytes() const { return bytes_; }
    // The bytes so far, copied (for inspection, complete or not).
    std::string text() const;

private:
    DefaultEntry() = default;
    // Stops matching: the matched part of the expected bytes becomes the
    // start of what is stored.
    void diverge();

    std::string properties_;
    SharedBytes bytes_;     // set once complete
    SharedBytes expected_;  // while writing and every byte so far matched
    size_t matched_ = 0;    // leading bytes of expected_ received
    std::string written_;   // while writing, once not (or no longer) matching
    bool complete_ = false;
};

}  // namespace refhost

#endif

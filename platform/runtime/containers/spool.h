// An append-only spool of bytes in an unlinked temporary file: containers
// keep the entries they have finished there instead of in memory, so a run
// with many groups holds only the index of its outputs.
#ifndef REFHOST_SPOOL_H
#define REFHOST_SPOOL_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace refhost {

// Not thread-safe: the owner serialises appends (reads at known offsets may
// overlap each other). The file is opened on the first append, in $TMPDIR
// or /tmp, and vanishes with the spool, or with the process.
class Spool {
public:
    Spool() = default;
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Appends the bytes and stores where they start in *offset. False when
    // no spool file can be had or written (the caller then keeps the bytes
    // itself); the spool is unchanged then.
    bool append(const char* bytes, size_t length, uint64_t* offset);
    bool append(const std::string& bytes, uint64_t* offset) {
        return append(bytes.data(), bytes.size(), offset);
    }
    // The length bytes at offset, appended to out. False on a read error.
    bool read(uint64_t offset, size_t length, std::string& out) const;

private:
    int fd_ = -1;
    bool failed_ = false;  // opening failed once: do not try again
    uint64_t size_ = 0;
};

}  // namespace refhost

#endif

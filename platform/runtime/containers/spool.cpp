// The spool file: created unlinked (O_TMPFILE where the file system has it,
// else created and removed at once), written at its end and read with pread.
#include "spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace refhost {

namespace {

std::string spoolDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

int openUnlinked() {
    const std::string dir = spoolDirectory();
    int fd = -1;
#ifdef O_TMPFILE
    fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
#endif
    std::string path = dir + "/split-spool-XXXXXX";
    fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(path.c_str());
    return fd;
}

}  // namespace

Spool::~Spool() {
    if (fd_ >= 0) ::close(fd_);
}

bool Spool::append(const char* bytes, size_t length, uint64_t* offset) {
    if (fd_ < 0) {
        if (failed_) return false;
        fd_ = openUnlinked();
        if (fd_ < 0) {
            failed_ = true;
            return false;
        }
    }
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd_, bytes + done, length - done,
                                   static_cast<off_t>(size_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // the bytes past size_ are overwritten by the next append
        done += static_cast<size_t>(n);
    }
    *offset = size_;
    size_ += length;
    return true;
}

bool Spool::read(uint64_t offset, size_t length, std::string& out) const {
    if (fd_ < 0 || offset + length > size_) return false;
    const size_t start = out.size();
    out.resize(start + length);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd_, out.data() + start + done, length - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            out.resize(start);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace refhost

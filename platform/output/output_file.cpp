#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <streambuf>
#include <vector>

#include "errors.h"
#include "interrupt_cleanup.h"

namespace splitrun {

namespace {

// A buffered stream buffer over a file descriptor that remembers the first
// write error (errno) instead of throwing.
class FdBuffer : public std::streambuf {
public:
    explicit FdBuffer(int fd) : fd_(fd), buffer_(std::size_t{1} << 16)
    {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    int error() const { return error_; }
    bool flushAll() { return drain() && error_ == 0; }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        const char* p = pbase();
        while (p < pptr() && error_ == 0) {
            const ssize_t wrote = ::write(fd_, p, static_cast<std::size_t>(pptr() - p));
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) error_ = wrote < 0 ? errno : ENOSPC;
            else p += wrote;
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return error_ == 0;
    }

    int fd_;
    std::vector<char> buffer_;
    int error_ = 0;
};

std::string reason(int error) { return std::strerror(error); }

}  // namespace

struct OutputFile::State {
    std::string path;
    std::string temp;   // empty unless written through a temporary file
    int fd = -1;
    bool ownsFd = false;
    bool committed = false;
    std::unique_ptr<FdBuffer> buffer;
    std::unique_ptr<std::ostream> stream;
    std::unique_ptr<RemoveOnInterrupt> interruptGuard;  // removes `temp` on Ctrl-C
};

void OutputFile::refuseInput(const std::string& path, const Inputs& inputs, const std::string& option)
{
    struct stat target;
    if (path == "-" || ::stat(path.c_str(), &target) != 0) return;
    for (const auto& [inputOption, inputPath] : inputs) {
        struct stat input;
        if (!inputPath.empty() && inputPath != "-" && ::stat(inputPath.c_str(), &input) == 0 &&
            input.st_dev == target.st_dev && input.st_ino == target.st_ino)
            throw InputError(option + " " + path + ": is the file this run reads as " + inputOption + " " +
                             inputPath + "; write to another file");
    }
}

OutputFile::OutputFile(const std::string& path, const Inputs& inputs, const std::string& option)
    : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.path = path;
    if (path == "-") {
        s.fd = STDOUT_FILENO;
    } else {
        struct stat target;
        const bool exists = ::stat(path.c_str(), &target) == 0;
        if (!exists && errno != ENOENT)
            throw InputError(option + " " + path + ": cannot use the path (" + reason(errno) +
                             "); choose a writable location");
        refuseInput(path, inputs, option);
        if (exists && S_ISDIR(target.st_mode))
            throw InputError(option + " " + path + ": is a directory; give a file name, e.g. --out " +
                             (std::filesystem::path(path) / "scored.csv").string());
        struct stat link;
        const bool isLink = ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        if (isLink || (exists && !S_ISREG(target.st_mode))) {
            // Written through: the link, device or pipe stays what it is (a
            // link to nothing yet creates its target).
            s.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (s.fd < 0)
                throw InputError(option + " " + path + ": cannot open for writing (" + reason(errno) +
                                 "); choose a writable location");
        } else {
            // The shell would refuse to overwrite a read-only file: so does score.
            if (exists && ((target.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0))
                throw InputError(option + " " + path + ": is read-only; make it writable (chmod u+w " + path +
                                 ") or write the scores to another file");
            const std::filesystem::path final(path);
            const std::filesystem::path dir = final.parent_path().empty() ? "." : final.parent_path();
            const std::string stem = "." + final.filename().string() + ".split-run";
            // Temporary files of runs killed outright go first.
            removeAbandonedWorkingPaths(dir, stem);
            std::string temp = (dir / (workingNamePrefix(stem) + "XXXXXX")).string();
            s.fd = ::mkstemp(temp.data());
            if (s.fd < 0)
                throw InputError(option + " " + path + ": cannot create a file in " + dir.string() +
                                 " (" + reason(errno) + "); choose a writable location");
            // The result gets the replaced file's permissions and owner, or a new file's.
            mode_t mode = target.st_mode & 07777;
            if (!exists) {
                const mode_t mask = ::umask(0);
                ::umask(mask);
                mode = 0666 & ~mask;
            }
            ::fchmod(s.fd, mode);
            if (exists && (target.st_uid != ::geteuid() || target.st_gid != ::getegid()) &&
                ::fchown(s.fd, target.st_uid, target.st_gid) != 0) {
                // A file of another owner that this process may not give
                // away is written in place, as the shell would, keeping its owner.
                ::close(s.fd);
                ::unlink(temp.c_str());
                s.fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                if (s.fd < 0)
                    throw InputError(option + " " + path + ": cannot open for writing (" + reason(errno) +
                                     "); choose a writable location");
            } else {
                s.temp = temp;
                s.interruptGuard = std::make_unique<RemoveOnInterrupt>(temp);
            }
        }
        s.ownsFd = true;
    }
    s.buffer = std::make_unique<FdBuffer>(s.fd);
    s.stream = std::make_unique<std::ostream>(s.buffer.get());
}

OutputFile::~OutputFile()
{
    State& s = *state_;
    if (s.ownsFd && s.fd >= 0) ::close(s.fd);
    if (!s.committed && !s.temp.empty()) ::unlink(s.temp.c_str());
}

std::ostream& OutputFile::stream() { return *state_->stream; }

bool OutputFile::isStandardOutput() const { return state_->path == "-"; }

void OutputFile::commit()
{
    State& s = *state_;
    int error = s.buffer->flushAll() ? 0 : s.buffer->error();
    if (error == 0 && s.ownsFd) {
        if (::close(s.fd) != 0) error = errno;
        s.fd = -1;
    }
    if (error != 0)
        throw RunError("cannot write " + (s.path == "-" ? std::string("standard output") : s.path) +
                       " (" + reason(error) + ")");
    if (!s.temp.empty() && ::rename(s.temp.c_str(), s.path.c_str()) != 0)
        throw RunError("cannot move " + s.temp + " to " + s.path + " (" + reason(errno) + ")");
    s.committed = true;
}

}  // namespace splitrun

#include "input_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <streambuf>
#include <utility>
#include <vector>

#include "byte_masks.h"
#include "errors.h"
#include "interrupt_cleanup.h"
#include "visible_text.h"

namespace splitrun {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 16;

std::string describe(const std::string& option, const std::string& path)
{
    return option + " " + (path == "-" ? std::string("- (standard input)") : path);
}

// Opens `path` for reading and refuses directories; the descriptor.
int openForReading(const std::string& path, const std::string& option, struct stat* st)
{
    const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw InputError(describe(option, path) + ": cannot open the file (" + std::strerror(errno) +
                         "); check the path and that the file is readable");
    if (::fstat(fd, st) == 0 && S_ISDIR(st->st_mode)) {
        if (fd != STDIN_FILENO) ::close(fd);
        throw InputError(describe(option, path) + ": is a directory; give a file");
    }
    return fd;
}

// "a character device", "a block device" or "a socket", for messages.
std::string fileKind(mode_t mode)
{
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISFIFO(mode)) return "a pipe";
    return "not a regular file";
}

constexpr unsigned char kGzipMagic[2] = {0x1f, 0x8b};

// The longest gzip member header gathered whole before the inflater takes it.
constexpr std::size_t kLongestHeader = std::size_t{1} << 20;

// True when the `count` bytes at `p` hold a whole gzip member header (ten
// bytes, then the fields its flags announce: FEXTRA, FNAME, FCOMMENT and
// FHCRC, in that order), or show that they start none.
bool wholeGzipHeader(const unsigned char* p, std::size_t count)
{
    if (count >= 2 && std::memcmp(p, kGzipMagic, 2) != 0) return true;
    if (count < 10) return false;
    const unsigned char flags = p[3];
    std::size_t at = 10;
    if ((flags & 4) != 0) {
        if (count < at + 2) return false;
        at += 2 + (std::size_t{p[at]} | std::size_t{p[at + 1]} << 8);
    }
    for (const unsigned char zeroTerminated : {8, 16}) {
        if ((flags & zeroTerminated) == 0) continue;
        const void* end = at < count ? std::memchr(p + at, 0, count - at) : nullptr;
        if (end == nullptr) return false;
        at = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - p) + 1;
    }
    if ((flags & 2) != 0) at += 2;
    return at <= count;
}

// Counts the line ends of text CSV block by block, and finds the first zero
// byte, which none holds.
class ZeroByteWatch {
public:
    // The 1-based line of the block's first zero byte, or 0 when none.
    std::uint64_t lineOfZeroIn(const char* bytes, std::size_t count)
    {
        if (head_.size() < kHead) head_.append(bytes, std::min(count, kHead - head_.size()));
        const auto* zero = static_cast<const char*>(std::memchr(bytes, '\0', count));
        // Line feeds counted 64 bytes at a time from their bit masks.
        static const csvscan::ByteMasks lineFeeds({'\n'});
        const char* const end = zero ? zero : bytes + count;
        for (const char* p = bytes; p < end; p += 64)
            lines_ += static_cast<std::uint64_t>(std::popcount(lineFeeds.upTo(p, end)));
        return zero ? lines_ + 1 : 0;
    }
    // The input's first bytes, to tell UTF-16 text from binary data.
    const std::string& head() const { return head_; }

private:
    static constexpr std::size_t kHead = 64;
    std::uint64_t lines_ = 0;  // line ends before the current block
    std::string head_;
};

// Data CSV holding a zero byte at `line`: it looks binary, or is UTF-16.
InputError binaryInput(const std::string& what, std::uint64_t line, bool gzip, const ZeroByteWatch& watch)
{
    const std::string where = what + ": line " + std::to_string(line) + " holds a zero byte, which no text CSV does: ";
    if (const std::string utf16 = utf16Hint(watch.head()); !utf16.empty()) return InputError(where + utf16);
    return InputError(where +
                      (gzip ? "the decompressed data looks binary; give gzip-compressed text CSV"
                            : "the file looks binary; give the data as text CSV (gzip-compressed CSV is "
                              "also read, recognised by its header)"));
}

// The bytes the gzip file of `size` bytes at `fd` inflates to, extrapolated
// from its first MiB at the ratio it inflates at: every member found there,
// one after another. 0 when that much does not inflate. A file that
// concatenates members (`cat a.gz b.gz`, or a format of many small ones)
// records only its last member's size in its trailer; this estimate holds
// for those too.
std::uint64_t sampledInflatedSize(int fd, std::uint64_t size)
{
    constexpr std::size_t kSample = std::size_t{1} << 20;
    std::vector<std::uint8_t> in(static_cast<std::size_t>(std::min<std::uint64_t>(size, kSample)));
    std::size_t got = 0;
    while (got < in.size()) {
        const ssize_t step = ::pread(fd, in.data() + got, in.size() - got, static_cast<off_t>(got));
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) return 0;
        got += static_cast<std::size_t>(step);
    }
    std::vector<std::uint8_t> out(kChunk * 4);
    // The inflater's state is tens of KiB: kept off the stack, as the stream's is.
    const auto inflater = std::make_unique<inflate_state>();
    inflate_state& state = *inflater;
    std::uint64_t inflated = 0;
    std::size_t used = 0;   // input of the members inflated, the last perhaps in part
    while (used < in.size() && in[used] == kGzipMagic[0]) {
        isal_inflate_init(&state);
        state.crc_flag = ISAL_GZIP;
        state.next_in = in.data() + used;
        state.avail_in = static_cast<std::uint32_t>(in.size() - used);
        do {
            state.next_out = out.data();
            state.avail_out = static_cast<std::uint32_t>(out.size());
            const int status = isal_inflate(&state);
            inflated += out.size() - state.avail_out;
            if (status != ISAL_DECOMP_OK && status != ISAL_END_INPUT) return 0;
        } while (state.avail_in > 0 && state.block_state != ISAL_BLOCK_FINISH);
        used = in.size() - state.avail_in;
        if (state.block_state != ISAL_BLOCK_FINISH) break;
    }
    if (used == 0 || inflated == 0) return 0;
    return static_cast<std::uint64_t>(static_cast<double>(inflated) / static_cast<double>(used) *
                                      static_cast<double>(size));
}

}  // namespace

// Reads raw bytes from the descriptor, inflates them when they start with
// the gzip magic bytes, and converts Latin-1 to UTF-8 when asked.
class InputSource::Buffer : public std::streambuf {
public:
    Buffer(int fd, bool owned, std::string what, bool latin1, bool regular,
           std::shared_ptr<const InputFile> file = nullptr)
        : fd_(fd), owned_(owned), what_(std::move(what)), latin1_(latin1), regular_(regular), file_(std::move(file))
    {
        raw_.resize(kChunk);
        fillRaw();
        gzip_ = rawEnd_ >= 2 && std::memcmp(raw_.data(), kGzipMagic, 2) == 0;
        if (gzip_) {
            inflater_ = std::make_unique<inflate_state>();
            startMember();
        }
    }
    ~Buffer() override
    {
        if (owned_) ::close(fd_);
    }
    bool plain() const { return regular_ && !gzip_ && !latin1_; }
    bool regular() const { return regular_; }

    std::uint64_t decodedSizeHint() const
    {
        struct stat st {};
        if (!regular_ || ::fstat(fd_, &st) != 0 || st.st_size <= 0) return 0;
        const auto size = static_cast<std::uint64_t>(st.st_size);
        if (!gzip_) return size;
        // A gzip member ends with its decompressed size modulo 4 GiB: the
        // file's size when it has one member, inflating to less than 4 GiB,
        // which is larger than the file (a test, not a proof). A file of
        // several members records only the last's, and one over 4 GiB
        // records a remainder; the extrapolation from the file's start
        // covers both, and the larger of the two is taken, since a hint
        // too small makes the columns grow by copying.
        unsigned char tail[4] = {};
        if (size < 18 || ::pread(fd_, tail, 4, st.st_size - 4) != 4) return 0;
        const std::uint64_t recorded = std::uint64_t{tail[0]} | std::uint64_t{tail[1]} << 8 |
                                       std::uint64_t{tail[2]} << 16 | std::uint64_t{tail[3]} << 24;
        return std::max(recorded > size ? recorded : 0, sampledInflatedSize(fd_, size));
    }

protected:
    int_type underflow() override
    {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        decoded_.clear();
        while (decoded_.empty()) {
            if (!gzip_) {
                if (rawPos_ == rawEnd_ && !fillRaw()) break;
                append(raw_.data() + rawPos_, rawEnd_ - rawPos_);
                rawPos_ = rawEnd_;
            } else if (!inflateSome()) {
                break;
            }
        }
        if (decoded_.empty()) return traits_type::eof();
        setg(decoded_.data(), decoded_.data(), decoded_.data() + decoded_.size());
        return traits_type::to_int_type(*gptr());
    }

    // Hands out many bytes at once: what the get area holds, then gzip data
    // inflated straight into `into` (text converted from Latin-1 takes the
    // get area).
    std::streamsize xsgetn(char* into, std::streamsize count) override
    {
        std::streamsize done = 0;
        while (done < count) {
            if (gptr() < egptr()) {
                const std::streamsize step = std::min<std::streamsize>(count - done, egptr() - gptr());
                std::memcpy(into + done, gptr(), static_cast<std::size_t>(step));
                gbump(static_cast<int>(step));
                done += step;
            } else if (gzip_ && !latin1_) {
                const long got = inflateInto(into + done, static_cast<std::size_t>(count - done));
                if (got < 0) break;
                done += got;
            } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
                break;
            }
        }
        return done;
    }

private:
    // Reads the next chunk of raw bytes after the buffer's first `kept`;
    // false at the end of the input. A held file is read by offset and
    // checked after every chunk, so that a pass never mixes bytes of two
    // versions of it unnoticed.
    bool fillRaw(std::size_t kept = 0)
    {
        for (;;) {
            char* const into = raw_.data() + kept;
            const std::size_t room = raw_.size() - kept;
            const ssize_t got = file_ ? ::pread(fd_, into, room, offset_) : ::read(fd_, into, room);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0)
                throw InputError(what_ + ": reading failed (" + std::strerror(errno) + ")");
            if (file_) {
                file_->checkUnchanged();
                offset_ += got;
            }
            rawRead_ += static_cast<std::uint64_t>(got);
            rawPos_ = 0;
            rawEnd_ = kept + static_cast<std::size_t>(got);
            return got > 0;
        }
    }

    // Inflates what the raw bytes give; false at the end of the input.
    bool inflateSome()
    {
        char out[kChunk];
        const long got = inflateInto(out, sizeof out);
        if (got < 0) return false;
        append(out, static_cast<std::size_t>(got));
        return true;
    }

    // Inflates what the raw bytes give into [out, out + size), refusing a
    // zero byte; the bytes written (perhaps none), or -1 at the end of the input.
    long inflateInto(char* out, std::size_t size)
    {
        if (rawPos_ == rawEnd_ && !fillRaw()) {
            if (!streamEnded_)
                throw InputError(what_ + ": the gzip data ends early; the file is truncated");
            return -1;
        }
        if (streamEnded_) {
            // Zero bytes after the last member are padding, which gzip
            // skips too; anything else must be another member (as
            // `cat a.gz b.gz` makes).
            while (rawPos_ != rawEnd_ && raw_[rawPos_] == 0) ++rawPos_, padded_ = true;
            if (rawPos_ == rawEnd_) return 0;
            if (padded_ || static_cast<unsigned char>(raw_[rawPos_]) != kGzipMagic[0]) throw trailingBytes();
            startMember();
            streamEnded_ = false;
            laterMember_ = true;
        }
        if (memberStart_) readyMemberHeader();
        inflate_state& state = *inflater_;
        state.next_in = reinterpret_cast<std::uint8_t*>(raw_.data() + rawPos_);
        state.avail_in = static_cast<std::uint32_t>(rawEnd_ - rawPos_);
        state.next_out = reinterpret_cast<std::uint8_t*>(out);
        state.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(size, std::uint32_t{1} << 30));
        const std::uint32_t room = state.avail_out;
        const int status = isal_inflate(&state);
        if (status == ISAL_INVALID_WRAPPER && laterMember_ && state.total_out == 0)
            throw trailingBytes();   // not a gzip header after all
        if (status < 0 || status == ISAL_NEED_DICT)
            throw InputError(what_ + ": the gzip data is corrupt (" + corruption(status) + ")");
        rawPos_ = rawEnd_ - state.avail_in;
        streamEnded_ = state.block_state == ISAL_BLOCK_FINISH;
        if (streamEnded_) dataEnd_ = rawRead_ - (rawEnd_ - rawPos_);
        const std::uint32_t written = room - state.avail_out;
        refuseZeroByte(out, written);
        return static_cast<long>(written);
    }

    // Readies the inflater for a gzip member: its header, deflate data and
    // trailer, whose checksum and length are checked.
    void startMember()
    {
        isal_inflate_init(inflater_.get());
        inflater_->crc_flag = ISAL_GZIP;
        memberStart_ = true;
    }

    // Readies the header of the member starting at rawPos_ for the
    // inflater: its method and flags checked, and the whole of it in the
    // raw buffer, read on as far as it goes. Given in pieces (a header that
    // straddles two reads), a header with a CRC (FHCRC) fails the
    // inflater's check of it, and the method and flags would be read from
    // the wrong bytes. Past kLongestHeader, and at the end of the input,
    // the inflater takes what there is.
    void readyMemberHeader()
    {
        memberStart_ = false;
        bool checked = false;
        for (;;) {
            const std::size_t have = rawEnd_ - rawPos_;
            const auto* header = reinterpret_cast<const unsigned char*>(raw_.data() + rawPos_);
            if (have >= 4 && !checked) {
                checkMemberHeader(header[2], header[3]);
                checked = true;
            }
            if (wholeGzipHeader(header, have) || have >= kLongestHeader) return;
            std::memmove(raw_.data(), header, have);
            if (have == raw_.size()) raw_.resize(2 * raw_.size());
            if (!fillRaw(have)) return;
        }
    }

    // Refuses a member whose header names a method other than deflate or
    // sets reserved flags, which the inflater would take for a header
    // still to come; after a member that ended, such bytes are no member.
    void checkMemberHeader(unsigned char method, unsigned char flags) const
    {
        if (method == 8 && (flags & 0xE0) == 0) return;
        if (laterMember_) throw trailingBytes();
        throw InputError(what_ + ": the gzip data is corrupt (" +
                         (method != 8 ? "unknown compression method" : "unknown header flags set") + ")");
    }

    // What is wrong with compressed data the inflater refused.
    static std::string corruption(int status)
    {
        switch (status) {
        case ISAL_INVALID_BLOCK: return "invalid block";
        case ISAL_INVALID_SYMBOL: return "invalid code";
        case ISAL_INVALID_LOOKBACK: return "invalid distance too far back";
        case ISAL_INVALID_WRAPPER: return "invalid gzip header";
        case ISAL_UNSUPPORTED_METHOD: return "unknown compression method";
        case ISAL_INCORRECT_CHECKSUM: return "incorrect data check";
        case ISAL_NEED_DICT: return "needs a preset dictionary";
        default: return "unknown error";
        }
    }

    // Bytes after the end of the gzip data that start no further member.
    InputError trailingBytes() const
    {
        return InputError(what_ + ": the gzip data ends at byte " + std::to_string(dataEnd_) +
                          " and is followed by bytes that are not gzip data; remove them (the data before "
                          "them reads with zcat) or give the decompressed CSV");
    }

    // Adds decoded bytes to the get area's next contents, converting
    // Latin-1; raw bytes are first checked for a zero byte (inflated ones
    // were checked as they were inflated).
    void append(const char* bytes, std::size_t count)
    {
        if (!gzip_) refuseZeroByte(bytes, count);
        if (!latin1_) {
            decoded_.insert(decoded_.end(), bytes, bytes + count);
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            if (c < 0x80) {
                decoded_.push_back(static_cast<char>(c));
            } else {
                decoded_.push_back(static_cast<char>(0xC0 | (c >> 6)));
                decoded_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            }
        }
    }

    // No text CSV holds a zero byte: a binary input (such as /dev/zero) is
    // refused at the first block holding one, not read on until a field
    // outgrows --max-field-size.
    void refuseZeroByte(const char* bytes, std::size_t count)
    {
        if (const std::uint64_t line = zeroWatch_.lineOfZeroIn(bytes, count)) throw binaryInput(what_, line, gzip_, zeroWatch_);
    }

    int fd_;
    bool owned_;
    std::string what_;
    bool latin1_;
    bool regular_;
    std::shared_ptr<const InputFile> file_;   // a held file read by offset, or null
    off_t offset_ = 0;
    bool gzip_ = false;
    bool streamEnded_ = false;
    bool padded_ = false;            // zero bytes followed the last member
    std::uint64_t rawRead_ = 0;      // raw bytes read so far
    std::uint64_t dataEnd_ = 0;      // offset after the last member that ended
    bool laterMember_ = false;       // a member after the first is being inflated
    std::unique_ptr<inflate_state> inflater_;   // for gzip data: a few tens of KiB
    bool memberStart_ = false;                    // the member's header is yet to be readied
    std::vector<char> raw_;
    std::size_t rawPos_ = 0;
    std::size_t rawEnd_ = 0;
    std::vector<char> decoded_;
    ZeroByteWatch zeroWatch_;
};

InputSource::InputSource(const std::string& path, const std::string& option, bool latin1)
{
    struct stat st {};
    const int fd = openForReading(path, option, &st);
    buffer_ = std::make_unique<Buffer>(fd, fd != STDIN_FILENO, describe(option, path), latin1,
                                       S_ISREG(st.st_mode) && path != "-");
    stream_ = std::make_unique<std::istream>(buffer_.get());
}

InputSource::InputSource(std::shared_ptr<const InputFile> file, bool latin1)
{
    const int fd = file->descriptor();
    const std::string what = describe("--data", file->path());
    buffer_ = std::make_unique<Buffer>(fd, false, what, latin1, true, std::move(file));
    stream_ = std::make_unique<std::istream>(buffer_.get());
}

InputSource::~InputSource() = default;

InputFile::InputFile(const std::string& path, const std::string& option)
    : path_(path), what_(describe(option, path))
{
    struct stat st {};
    fd_ = openForReading(path, option, &st);
    if (path == "-" || !S_ISREG(st.st_mode)) {
        if (fd_ != STDIN_FILENO) ::close(fd_);
        fd_ = -1;
        throw InputError(what_ + ": is not a regular file, so it cannot be read more than once; "
                                 "give a file, or a smaller input that fits --memory-limit");
    }
    size_ = st.st_size;
    mtimeSeconds_ = st.st_mtim.tv_sec;
    mtimeNanoseconds_ = st.st_mtim.tv_nsec;
}

InputFile::~InputFile()
{
    if (fd_ >= 0) ::close(fd_);
}

void InputFile::checkUnchanged() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        throw InputError(what_ + ": cannot check the file (" + std::strerror(errno) + ")");
    if (st.st_size != size_ || st.st_mtim.tv_sec != mtimeSeconds_ || st.st_mtim.tv_nsec != mtimeNanoseconds_)
        throw InputError(what_ + ": the input changed while it was read (it was " + std::to_string(size_) +
                         " bytes, now " + std::to_string(st.st_size) +
                         "); let whatever writes it finish, or build from a copy");
}

std::istream& InputSource::stream() { return *stream_; }

bool InputSource::isPlainFile() const { return buffer_->plain(); }

bool InputSource::isRegularFile() const { return buffer_->regular(); }

std::uint64_t InputSource::decodedSizeHint() const { return buffer_->decodedSizeHint(); }

std::string readInputFile(const std::string& path, const std::string& option, std::size_t maxBytes)
{
    struct stat st {};
    const int fd = openForReading(path, option, &st);
    const auto tooLarge = [&] {
        if (fd != STDIN_FILENO) ::close(fd);
        return InputError(describe(option, path) + ": the file is larger than " +
                          std::to_string(maxBytes >> 20) + " MiB; give the document split-run "
                          "expects here");
    };
    // A regular file is judged by its size before any of it is read; a
    // device (such as /dev/zero) or a socket is no document at all and is
    // refused before it is read. A pipe is read as it comes, up to the limit.
    if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > maxBytes) throw tooLarge();
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISSOCK(st.st_mode)) {
        if (fd != STDIN_FILENO) ::close(fd);
        throw InputError(describe(option, path) + ": is " + fileKind(st.st_mode) +
                         ", not a file; give the document's file (or '-' to read it from standard input)");
    }
    // A regular file's bytes go into one block of its size: grown as it
    // is read, the text would take up to twice that at its peak.
    std::string text;
    if (S_ISREG(st.st_mode)) text.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[kChunk];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            if (fd != STDIN_FILENO) ::close(fd);
            throw InputError(describe(option, path) + ": reading failed (" + std::strerror(error) + ")");
        }
        if (got == 0) break;
        if (text.size() + static_cast<std::size_t>(got) > maxBytes) throw tooLarge();
        // No text document holds a zero byte: binary input (a pipe fed
        // from /dev/urandom, say) is refused at the first chunk holding one.
        if (const void* zero = std::memchr(chunk, '\0', static_cast<std::size_t>(got))) {
            const std::size_t offset = text.size() + static_cast<std::size_t>(static_cast<const char*>(zero) - chunk);
            if (fd != STDIN_FILENO) ::close(fd);
            const std::string head = text.substr(0, 64) + std::string(chunk, std::min<std::size_t>(static_cast<std::size_t>(got), 64));
            const std::string utf16 = utf16Hint(head);
            throw InputError(describe(option, path) + ": holds a zero byte at offset " + std::to_string(offset) +
                             ", which a text document cannot " +
                             (utf16.empty() ? "(the file looks binary); give the document as text (UTF-8)" : "(" + utf16 + ")"));
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    if (fd != STDIN_FILENO) ::close(fd);
    return text;
}

// Removes the copy when the build ends, also when the copy itself fails
// halfway, and on an interrupt.
class InputCopy::Guard {
public:
    explicit Guard(std::filesystem::path path) : path_(std::move(path)), interrupt_(path_) {}
    ~Guard()
    {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

private:
    std::filesystem::path path_;
    RemoveOnInterrupt interrupt_;
};

bool InputCopy::needed(const std::string& path)
{
    struct stat status {};
    return path == "-" || (::stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode));
}

InputCopy::InputCopy(const std::string& path, const std::string& option, const std::filesystem::path& directory)
{
    const std::string shown = path == "-" ? "standard input" : path;
    removeAbandonedWorkingPaths(directory, "split-run-input");
    std::random_device random;
    path_ = (directory / (workingNamePrefix("split-run-input") + std::to_string(random()))).string();
    guard_ = std::make_unique<Guard>(path_);
    const int in = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw InputError(option + " " + path + ": cannot open it (" + std::strerror(errno) + ")");
    struct Close {
        int fd;
        bool own;
        ~Close() { if (own) ::close(fd); }
    } closeIn{in, path != "-"};
    const int copy = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (copy < 0)
        throw InputError(option + " " + path + ": cannot create a copy of " + shown + " in " + directory.string() +
                         " (" + std::strerror(errno) + "); give --temp-dir a writable directory");
    Close closeCopy{copy, true};
    std::vector<char> block(std::size_t{1} << 20);
    // Binary input that is not gzip is refused at the first block holding a
    // zero byte, not copied on (an endless pipe would fill the disk).
    unsigned char start[2] = {};
    std::size_t started = 0;
    ZeroByteWatch zeroWatch;
    for (;;) {
        const ssize_t got = ::read(in, block.data(), block.size());
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno == EBADF && path == "-")
                throw InputError(option + " -: standard input is closed; give the data on standard input, or its file");
            throw InputError(option + " " + path + ": cannot read it (" + std::strerror(errno) + ")");
        }
        for (ssize_t i = 0; i < got && started < 2; ++i) start[started++] = static_cast<unsigned char>(block[i]);
        // (Gzip data, or its first byte so far, is copied as it is.)
        const bool gzip = std::memcmp(start, kGzipMagic, started) == 0;
        if (const std::uint64_t line = gzip ? 0 : zeroWatch.lineOfZeroIn(block.data(), static_cast<std::size_t>(got)))
            throw binaryInput(describe(option, path), line, false, zeroWatch);
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(copy, block.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0)
                throw InputError(option + " " + path + ": cannot write the copy of " + shown + " in " +
                                 directory.string() + " (" + std::strerror(errno) +
                                 "); give --temp-dir a directory with room for the whole input");
            done += put;
        }
    }
}

InputCopy::~InputCopy() = default;

}  // namespace splitrun

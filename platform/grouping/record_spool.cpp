#include "record_spool.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include <refhost/wire.h>

#include "errors.h"

namespace fs = std::filesystem;

namespace splitrun {

namespace {

void appendU64(std::string& bytes, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

}  // namespace

TempDir::TempDir(const fs::path& parent, std::string shownAs)
    : shownAs_(shownAs.empty() ? "--temp-dir " + parent.string() : std::move(shownAs))
{
    // Those of runs killed outright go first: no handler could remove them.
    removeAbandonedWorkingPaths(parent, "split-run-tmp");
    std::string pattern = (parent / (workingNamePrefix("split-run-tmp") + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw InputError(shownAs_ + ": cannot create a directory for temporary files there (" +
                         std::strerror(errno) +
                         "); give --temp-dir a writable directory with room for a copy of the input");
    path_ = pattern;
    guard_.emplace(path_);
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
    guard_.reset();
}

SpoolWriter::SpoolWriter(fs::path path, std::string tempDirShownAs, SpoolWriteFunction write,
                         std::size_t bufferBytes)
    : path_(std::move(path)), tempDirShownAs_(std::move(tempDirShownAs)), write_(std::move(write)),
      bufferBytes_(bufferBytes)
{
    if (!write_) write_ = [](int fd, const void* bytes, std::size_t length) { return ::write(fd, bytes, length); };
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) fail(errno, "creating");
}

SpoolWriter::~SpoolWriter()
{
    if (fd_ >= 0) ::close(fd_);
}

namespace {

// The error of a temporary file that cannot be created, written, read or
// closed, naming the directory as `tempDirShownAs` says and the reason.
InputError spoolFileError(const std::string& tempDirShownAs, const fs::path& path, int error, const char* doing)
{
    const bool full = error == ENOSPC || error == EDQUOT;
    return InputError(tempDirShownAs + ": " +
                     (full ? std::string("no space left (") + std::strerror(error) + ")"
                           : std::string(std::strerror(error))) +
                     " while " + doing + " the temporary file " + path.string() +
                     (full ? "; the records of the input are copied there to group them: free space "
                             "or give --temp-dir a directory on a larger disk"
                      : error == EMFILE || error == ENFILE
                          ? "; grouping merges its sorted runs of records with one such file open per run: "
                            "raise the limit of open files (ulimit -n)"
                          : error == EFBIG ? "; raise the limit on file size (ulimit -f)"
                                           : "; give --temp-dir a writable directory"));
}

}  // namespace

void SpoolWriter::fail(int error, const char* doing) const
{
    throw spoolFileError(tempDirShownAs_, path_, error, doing);
}

void SpoolWriter::write(const refhost::Table& block, std::size_t first, std::size_t count,
                        const std::uint32_t* tags)
{
    // The block is encoded straight into the buffer, after its length,
    // which is filled in once known.
    std::string& bytes = buffer_.bytes();
    const std::size_t start = bytes.size();
    appendU64(bytes, 0);
    buffer_.u8(tags ? 1 : 0);
    if (tags) {
        buffer_.u64(count);
        for (std::size_t i = 0; i < count; ++i) buffer_.u32(tags[i]);
    }
    if (first == 0 && count == block.rowCount()) {
        refhost::encodeTable(buffer_, block, carried_);
    } else {
        std::vector<refhost::ColumnValues> values;
        values.reserve(block.columnCount());
        for (std::size_t c = 0; c < block.columnCount(); ++c) {
            values.emplace_back(block.values(c).kind());
            if (c >= carried_.size() || carried_[c])
                values.back().appendRange(block.values(c), first, count);
            else
                for (std::size_t i = 0; i < count; ++i) values.back().appendMissing();
        }
        refhost::encodeTable(buffer_, refhost::Table(block.columns(), std::move(values)), carried_);
    }
    std::uint64_t length = bytes.size() - start - 8;
    for (int i = 0; i < 8; ++i, length >>= 8) bytes[start + i] = static_cast<char>(length & 0xff);
    if (bytes.size() >= bufferBytes_) flush();
}

void SpoolWriter::writeRaw(const std::string& payload)
{
    // A block that would take the buffer past its size goes out after what
    // is buffered, so the buffer does not grow beyond its size and a block.
    std::string& bytes = buffer_.bytes();
    if (!bytes.empty() && bytes.size() + 8 + payload.size() > bufferBytes_) flush();
    appendU64(bytes, payload.size());
    bytes += payload;
    if (bytes.size() >= bufferBytes_) flush();
}

void SpoolWriter::flush()
{
    std::string& bytes = buffer_.bytes();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write_(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(errno, "writing");
        if (n == 0) fail(ENOSPC, "writing");
        done += static_cast<std::size_t>(n);
    }
    written_ += bytes.size();
    bytes.clear();
}

void SpoolWriter::close()
{
    flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail(errno, "closing");
}

SpoolReader::SpoolReader(const fs::path& path) : path_(path.string())
{
    file_ = std::fopen(path_.c_str(), "rb");
    if (!file_)
        throw std::runtime_error("cannot read the temporary file " + path_ + ": " + std::strerror(errno));
}

SpoolReader::SpoolReader(const fs::path& path, const std::string& tempDirShownAs) : path_(path.string())
{
    file_ = std::fopen(path_.c_str(), "rb");
    if (!file_) throw spoolFileError(tempDirShownAs, path, errno, "opening");
}

SpoolReader::~SpoolReader()
{
    if (file_) std::fclose(file_);
}

bool SpoolReader::raw(std::string& payload)
{
    unsigned char size[8];
    const std::size_t got = std::fread(size, 1, 8, file_);
    if (got == 0 && std::feof(file_)) return false;
    std::uint64_t length = 0;
    for (int i = 7; i >= 0; --i) length = (length << 8) | size[i];
    if (got != 8) throw std::runtime_error("the temporary file " + path_ + " is damaged (truncated)");
    payload.resize(length);
    if (std::fread(payload.data(), 1, length, file_) != length)
        throw std::runtime_error("the temporary file " + path_ + " is damaged (truncated)");
    return true;
}

void SpoolReader::decode(const std::string& payload, refhost::Table& block, std::vector<std::uint32_t>& tags)
{
    refhost::WireReader in(payload);
    tags.clear();
    if (in.u8() != 0) {
        tags.resize(in.count(4));
        for (std::uint32_t& tag : tags) tag = in.u32();
    }
    block = refhost::decodeTable(in);
}

bool SpoolReader::next(refhost::Table& block, std::vector<std::uint32_t>& tags)
{
    if (!raw(payload_)) return false;
    decode(payload_, block, tags);
    return true;
}

class SpoolSource::Pass : public refhost::RecordPass {
public:
    explicit Pass(const SpoolSource& source) : source_(source), reader_(source.file_) {}

    bool next(refhost::Table& block) override
    {
        try {
            if (!reader_.next(block, tags_)) return false;
            // The records may have been spooled before the run settled its
            // columns' measures (a flag target): the source's columns hold.
            for (std::size_t c = 0; c < block.columnCount() && c < source_.columns_.size(); ++c)
                if (block.columns()[c].measure != source_.columns_[c].measure)
                    block.setMeasure(c, source_.columns_[c].measure);
            read_ += block.rowCount();
            if (source_.onBlock_) source_.onBlock_(read_);
            return true;
        } catch (const std::exception& e) {
            source_.noteError(e.what());
            throw;
        }
    }

private:
    const SpoolSource& source_;
    SpoolReader reader_;
    std::vector<std::uint32_t> tags_;
    std::size_t read_ = 0;
};

SpoolSource::SpoolSource(std::shared_ptr<TempDir> dir, fs::path file, std::vector<refhost::Column> columns)
    : dir_(std::move(dir)), file_(std::move(file)), columns_(std::move(columns))
{
}

std::unique_ptr<refhost::RecordPass> SpoolSource::open() const
{
    try {
        return std::make_unique<Pass>(*this);
    } catch (const std::exception& e) {
        noteError(e.what());
        throw;
    }
}

std::string SpoolSource::error() const { return error_.get(); }

}  // namespace splitrun

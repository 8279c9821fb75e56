// Records spilled to temporary files in a binary, typed form, so that they
// can be read back any number of times with no CSV parsing: the sorted runs
// of an external grouping and the grouped records a run then reads. A spool
// file is a sequence of blocks; each block is a length-prefixed encoding
// (refhost wire format) of a table of records, optionally preceded by one
// 32-bit tag per record (the key number, for sorted runs).
#ifndef SPLITRUN_RECORD_SPOOL_H
#define SPLITRUN_RECORD_SPOOL_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include <refhost/record_source.h>
#include <refhost/wire.h>

#include "first_error.h"
#include "interrupt_cleanup.h"

namespace splitrun {

// The system call spool files are written with: write(2) by default; a
// test replaces it to simulate a full disk. Returns what write(2) returns
// and sets errno likewise.
using SpoolWriteFunction = std::function<ssize_t(int fd, const void* bytes, std::size_t length)>;

// A private directory for temporary files, named
// split-run-tmp-HOST-PID-XXXXXX under `parent`, removed with everything in
// it when the object goes away, and also when the process is interrupted
// (SIGINT, SIGTERM, SIGHUP) while it exists; a later run removes those of
// a process that was killed outright. Throws InputError naming the
// directory as `shownAs` says (by default "--temp-dir PARENT") when it
// cannot be created.
class TempDir {
public:
    explicit TempDir(const std::filesystem::path& parent, std::string shownAs = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // How messages name the directory it was made in: the option or the
    // environment variable it came from, and the directory.
    const std::string& shownAs() const { return shownAs_; }

private:
    std::string shownAs_;
    std::filesystem::path path_;
    std::optional<RemoveOnInterrupt> guard_;
};

// Appends blocks to a new spool file. Writes are buffered; a failed write
// or close throws InputError naming the temporary directory as
// `tempDirShownAs` says (TempDir::shownAs) and the reason (a full disk says
// so). Not thread-safe.
class SpoolWriter {
public:
    // Writes go out in pieces of about `bufferBytes`.
    SpoolWriter(std::filesystem::path path, std::string tempDirShownAs,
                SpoolWriteFunction write = {}, std::size_t bufferBytes = std::size_t{1} << 20);
    ~SpoolWriter();  // closes the file without reporting errors
    SpoolWriter(const SpoolWriter&) = delete;
    SpoolWriter& operator=(const SpoolWriter&) = delete;

    // Appends rows [first, first + count) of `block`, with their tags when
    // `tags` is not null (tags[i] belongs to row first + i).
    void write(const refhost::Table& block, std::size_t first, std::size_t count,
               const std::uint32_t* tags = nullptr);
    // Writes only the columns marked true in `carried` (by position; an
    // empty mask carries every column): the others are read back as
    // missing in every record, and take a few bytes a block. The records
    // of a build carry only the fields its models read.
    void carryOnly(std::vector<bool> carried) { carried_ = std::move(carried); }
    // Appends a block as read from another spool file (see SpoolReader::raw).
    void writeRaw(const std::string& payload);
    // Writes what is buffered and closes the file.
    void close();
    std::uint64_t bytesWritten() const { return written_; }

private:
    void flush();
    [[noreturn]] void fail(int error, const char* doing) const;

    std::filesystem::path path_;
    std::string tempDirShownAs_;
    SpoolWriteFunction write_;
    std::size_t bufferBytes_;
    std::vector<bool> carried_;
    int fd_ = -1;
    refhost::WireWriter buffer_;   // length-prefixed blocks not yet written
    std::uint64_t written_ = 0;
};

// Reads a spool file's blocks in order. Throws std::runtime_error when the
// file cannot be read or is damaged.
class SpoolReader {
public:
    explicit SpoolReader(const std::filesystem::path& path);
    // The same, but a file that cannot be opened (too many open files
    // among them) throws InputError as SpoolWriter does.
    SpoolReader(const std::filesystem::path& path, const std::string& tempDirShownAs);
    ~SpoolReader();
    SpoolReader(const SpoolReader&) = delete;
    SpoolReader& operator=(const SpoolReader&) = delete;

    // The next block's encoded bytes; false at the end of the file.
    bool raw(std::string& payload);
    // The next block, and its tags (cleared when the block has none).
    bool next(refhost::Table& block, std::vector<std::uint32_t>& tags);

    // Decodes a payload as `next` does.
    static void decode(const std::string& payload, refhost::Table& block,
                       std::vector<std::uint32_t>& tags);

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string payload_;
};

// Grouped records in a spool file as a record source for the host: every
// pass reads the file again, block by block. Keeps the temporary directory
// the file lives in alive (and removes it with the last reference).
class SpoolSource : public refhost::RecordSource {
public:
    SpoolSource(std::shared_ptr<TempDir> dir, std::filesystem::path file,
                std::vector<refhost::Column> columns);

    const std::vector<refhost::Column>& columns() const override { return columns_; }
    std::unique_ptr<refhost::RecordPass> open() const override;

    std::string error() const override;
    // Called after each block a pass reads with the records the pass has
    // read so far, on the reading thread. Set before the first pass.
    void onBlock(std::function<void(std::size_t records)> callback) { onBlock_ = std::move(callback); }

private:
    class Pass;
    void noteError(const std::string& message) const { error_.note(message); }

    std::shared_ptr<TempDir> dir_;
    std::filesystem::path file_;
    std::vector<refhost::Column> columns_;
    std::function<void(std::size_t)> onBlock_;
    mutable FirstError error_;
};

}  // namespace splitrun

#endif

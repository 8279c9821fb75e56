// An input file opened for reading as a stream: a path, or "-" for standard
// input. Gzip-compressed data (recognised by its first two bytes, not by
// the name) is decompressed on the fly, and Latin-1 text can be converted to
// UTF-8. Errors name the option, the path and the OS or zlib reason.
#ifndef SPLITRUN_INPUT_SOURCE_H
#define SPLITRUN_INPUT_SOURCE_H

#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <string>

namespace splitrun {

// A regular file held open for several passes over it. Every pass reads the
// same descriptor from the start, so a file replaced under its name is still
// read as it was; one changed in place (its size or modification time) stops
// the pass that notices it. Reading by offset, passes may run side by side.
class InputFile {
public:
    // Opens `path`. Throws InputError, naming `option`, when it cannot be
    // opened, is a directory, or is not a regular file (standard input and
    // pipes cannot be read twice).
    InputFile(const std::string& path, const std::string& option);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    int descriptor() const { return fd_; }
    const std::string& path() const { return path_; }
    // Throws InputError ("the input changed while it was read") when the
    // file's size or modification time differ from those it had when opened.
    // Thread-safe.
    void checkUnchanged() const;

private:
    int fd_ = -1;
    std::string path_;
    std::string what_;
    long long size_ = 0;
    long long mtimeSeconds_ = 0;
    long mtimeNanoseconds_ = 0;
};

class InputSource {
public:
    // Opens `path` ("-": standard input). Throws InputError, naming
    // `option`, when the path cannot be opened or is a directory.
    InputSource(const std::string& path, const std::string& option, bool latin1);
    // Reads `file` from its start, checking after every chunk that it has
    // not changed. The file must outlive the source.
    InputSource(std::shared_ptr<const InputFile> file, bool latin1);
    ~InputSource();
    InputSource(const InputSource&) = delete;
    InputSource& operator=(const InputSource&) = delete;

    // The decoded bytes. Reading throws InputError on a read error or
    // corrupt compressed data. Not thread-safe.
    std::istream& stream();

    // True for a regular file whose bytes are read as they are (not
    // compressed, not converted), which may therefore also be read by offset.
    bool isPlainFile() const;
    // True for a regular file (not standard input), which may be opened again.
    bool isRegularFile() const;
    // The size of the decoded bytes, where the file tells it: a plain or
    // converted file's size; for a gzip file, the size its last member
    // records or the size its first MiB extrapolates to, whichever is
    // larger. 0 when it does not; only a hint, for reserving memory.
    std::uint64_t decodedSizeHint() const;

private:
    class Buffer;
    std::unique_ptr<Buffer> buffer_;
    std::unique_ptr<std::istream> stream_;
};

// Standard input and a named pipe can be read only once, and a build read
// whole from one would not be bound by its memory limit. Such an input is
// copied, byte for byte, into a working file in `directory` (named as
// workingNamePrefix names them, so that a later run removes a copy left by
// a killed one) and read from there like any file. The copy is removed when
// this object goes, and on an interrupt.
class InputCopy {
public:
    // True for "-" and for a path naming a pipe.
    static bool needed(const std::string& path);
    // Copies `path` ("-": standard input). Throws InputError, naming
    // `option`, when it cannot be read or the copy cannot be written.
    InputCopy(const std::string& path, const std::string& option, const std::filesystem::path& directory);
    ~InputCopy();
    InputCopy(const InputCopy&) = delete;
    InputCopy& operator=(const InputCopy&) = delete;

    const std::string& path() const { return path_; }

private:
    class Guard;
    std::string path_;
    std::unique_ptr<Guard> guard_;
};

// The whole content of a text file, read as it is; throws InputError naming
// the option, the path and the OS reason when it cannot be read, when it is
// a directory or a device, when it is larger than `maxBytes`, or when it
// holds a zero byte (then as soon as the chunk holding it is read).
std::string readInputFile(const std::string& path, const std::string& option,
                          std::size_t maxBytes = std::size_t{512} << 20);

}  // namespace splitrun

#endif

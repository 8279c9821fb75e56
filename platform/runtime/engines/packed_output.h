// The groups table's output column, packed. A build's stored outputs are
// alike: the same field names, element texts and layout of the kept
// summary, in every group. So the first group's output is stored as it is,
// and every later one compressed (raw deflate) with the first as its
// preset dictionary: about 190 bytes instead of 650 for a group of a
// one-input linear model. Each row still reads back alone, given the
// first.
#ifndef SPLITRUN_PACKED_OUTPUT_H
#define SPLITRUN_PACKED_OUTPUT_H

#include <memory>
#include <string>
#include <string_view>

namespace splitrun {

// Packs a build's stored outputs, first row first. Not thread-safe.
class OutputPacker {
public:
    OutputPacker();
    ~OutputPacker();
    OutputPacker(const OutputPacker&) = delete;
    OutputPacker& operator=(const OutputPacker&) = delete;

    // The packed form of the next row's output.
    std::string pack(std::string_view output);

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    std::string dictionary_;   // the first row's output; empty before it
};

// Unpacks the rows of one build. Not thread-safe.
class OutputUnpacker {
public:
    // `first` is the packed output of the build's first row.
    explicit OutputUnpacker(std::string_view first);
    ~OutputUnpacker();
    OutputUnpacker(const OutputUnpacker&) = delete;
    OutputUnpacker& operator=(const OutputUnpacker&) = delete;

    // A row's output back. Throws refhost::WireError when the bytes are
    // not a packed output of this build.
    std::string unpack(std::string_view packed);

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    std::string dictionary_;
};

}  // namespace splitrun

#endif

#include "packed_output.h"

#include <climits>

#include <refhost/wire.h>
#include <zlib.h>

#include "errors.h"

namespace splitrun {

namespace {

// The first byte of a packed output: stored as it is, or deflated against
// the first row's output.
enum : char { kAsIs = 'R', kDeflated = 'D' };

// The fastest level, a small hash table (memory level 4: the stream is
// reset for every row, which clears the table) and the fixed Huffman codes:
// a row is a few hundred bytes, too few for its own codes to pay (building
// them cost 75,000 instructions a row). More search or memory finds next
// to nothing more: 191 bytes against 192 a row for a one-input model.
constexpr int kLevel = 1;
constexpr int kMemoryLevel = 4;
constexpr int kWindowBits = -15;   // raw deflate: no header or checksum

const char* const kCannotPack = "cannot compress a group's stored output";

const Bytef* bytesOf(std::string_view text) { return reinterpret_cast<const Bytef*>(text.data()); }

}  // namespace

struct OutputPacker::Stream {
    z_stream z{};
    bool ready = false;
    ~Stream()
    {
        if (ready) deflateEnd(&z);
    }
};

OutputPacker::OutputPacker() : stream_(std::make_unique<Stream>()) {}
OutputPacker::~OutputPacker() = default;

std::string OutputPacker::pack(std::string_view output)
{
    if (dictionary_.empty() || output.size() > UINT_MAX) {
        // The first row (or a row too large for one deflate call) as it is.
        if (dictionary_.empty()) dictionary_.assign(output);
        std::string packed(1, kAsIs);
        packed.append(output);
        return packed;
    }
    z_stream& z = stream_->z;
    if (!stream_->ready) {
        if (deflateInit2(&z, kLevel, Z_DEFLATED, kWindowBits, kMemoryLevel, Z_FIXED) != Z_OK)
            throw RunError(kCannotPack);
        stream_->ready = true;
    } else if (deflateReset(&z) != Z_OK) {
        throw RunError(kCannotPack);
    }
    if (deflateSetDictionary(&z, bytesOf(dictionary_), static_cast<uInt>(dictionary_.size())) != Z_OK)
        throw RunError(kCannotPack);
    std::string packed(1 + deflateBound(&z, static_cast<uLong>(output.size())), '\0');
    packed[0] = kDeflated;
    z.next_in = const_cast<Bytef*>(bytesOf(output));
    z.avail_in = static_cast<uInt>(output.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data() + 1);
    z.avail_out = static_cast<uInt>(packed.size() - 1);
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw RunError(kCannotPack);
    packed.resize(1 + z.total_out);
    return packed;
}

struct OutputUnpacker::Stream {
    z_stream z{};
    bool ready = false;
    ~Stream()
    {
        if (ready) inflateEnd(&z);
    }
};

OutputUnpacker::OutputUnpacker(std::string_view first) : stream_(std::make_unique<Stream>())
{
    if (first.empty() || first[0] != kAsIs) throw refhost::WireError("the first stored group is not kept whole");
    dictionary_.assign(first.substr(1));
}

OutputUnpacker::~OutputUnpacker() = default;

std::string OutputUnpacker::unpack(std::string_view packed)
{
    if (!packed.empty() && packed[0] == kAsIs) return std::string(packed.substr(1));
    if (packed.empty() || packed[0] != kDeflated || packed.size() > UINT_MAX)
        throw refhost::WireError("a stored group is not packed as this version packs it");
    z_stream& z = stream_->z;
    if (!stream_->ready) {
        if (inflateInit2(&z, kWindowBits) != Z_OK) throw refhost::WireError("cannot unpack a stored group");
        stream_->ready = true;
    } else if (inflateReset(&z) != Z_OK) {
        throw refhost::WireError("cannot unpack a stored group");
    }
    if (inflateSetDictionary(&z, bytesOf(dictionary_), static_cast<uInt>(dictionary_.size())) != Z_OK)
        throw refhost::WireError("a stored group cannot be unpacked");
    z.next_in = const_cast<Bytef*>(bytesOf(packed.substr(1)));
    z.avail_in = static_cast<uInt>(packed.size() - 1);
    std::string output;
    char block[16384];
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(block);
        z.avail_out = sizeof block;
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        output.append(block, sizeof block - z.avail_out);
        if (status == Z_OK && z.avail_in == 0 && z.avail_out != 0) break;   // the input ends before the stream
    }
    if (status != Z_STREAM_END || z.avail_in != 0) throw refhost::WireError("a stored group cannot be unpacked");
    return output;
}

}  // namespace splitrun

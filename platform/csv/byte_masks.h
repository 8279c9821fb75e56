// Where the bytes that give a CSV file its structure lie (the delimiter, the
// quote, CR and LF), found many bytes at a time and given as bit masks: bit
// i of a block's mask is set when the block's byte i is one of the bytes
// looked for. A reader then goes from one such byte to the next by the
// lowest set bit instead of looking at the bytes between them.
//
// A block is 64 bytes, classified with 32-byte compares where the processor
// has AVX2 (checked at run time), with 16-byte compares (SSE2, which every
// x86-64 has) otherwise, and a byte at a time on other processors. Every
// kind gives the same masks; the scalar kind is built everywhere, so that
// it is tested on this machine as well.
#ifndef SPLITRUN_BYTE_MASKS_H
#define SPLITRUN_BYTE_MASKS_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace splitrun::csvscan {

// How a block is classified: a byte at a time, or with 16- or 32-byte compares.
enum class Vectors { Scalar, Sse2, Avx2 };

// The widest kind this processor runs; decided once.
Vectors widestVectors();
// Whether this processor runs `kind`.
bool runs(Vectors kind);

// Finds up to four wanted bytes, a block at a time.
class ByteMasks {
public:
    // One to four bytes (a byte given twice counts once). A kind this
    // processor does not run gives way to the byte loop.
    ByteMasks(std::initializer_list<char> wanted, Vectors kind = widestVectors());

    // The mask of the 64 bytes at p, all of which must be readable.
    std::uint64_t block(const char* p) const { return mask_(p, wanted_[0]); }
    // The mask of the `size` bytes at p, fewer than 64: nothing past them is read.
    std::uint64_t partial(const char* p, std::size_t size) const;
    // The mask of [p, stop), of any length up to 64.
    std::uint64_t upTo(const char* p, const char* stop) const
    {
        return stop - p >= 64 ? block(p) : partial(p, static_cast<std::size_t>(stop - p));
    }
    // The first wanted byte in [p, stop), or stop.
    const char* find(const char* p, const char* stop) const
    {
        for (; p != stop; p += 64) {
            const std::uint64_t bits = upTo(p, stop);
            if (bits != 0) return p + __builtin_ctzll(bits);
            if (stop - p <= 64) break;
        }
        return stop;
    }

private:
    using Mask = std::uint64_t (*)(const char* p, const char* wanted);
    char wanted_[4][32];   // each wanted byte 32 times over, the first again where fewer than four
    Mask mask_;
};

// The wanted bytes of [begin, stop) one after the other, their masks made a
// block at a time as the reading moves forward: the next one is the lowest
// bit left in the block's mask, where a search would start afresh each time.
class ByteCursor {
public:
    // A cursor over nothing.
    ByteCursor() = default;
    ByteCursor(const ByteMasks& masks, const char* begin, const char* stop)
        : masks_(&masks), block_(begin), stop_(stop), bits_(begin != stop ? masks.upTo(begin, stop) : 0)
    {
    }

    // The wanted byte after the one returned last (the first: at or after
    // begin), or null when none is left.
    const char* next()
    {
        while (bits_ == 0) {
            if (stop_ - block_ <= 64) return nullptr;
            block_ += 64;
            bits_ = masks_->upTo(block_, stop_);
        }
        const char* const found = block_ + __builtin_ctzll(bits_);
        bits_ &= bits_ - 1;
        return found;
    }

private:
    const ByteMasks* masks_ = nullptr;
    const char* block_ = nullptr;   // the block whose mask bits_ holds (what is left of it): 64 bytes, or up to stop_
    const char* stop_ = nullptr;
    std::uint64_t bits_ = 0;
};

}  // namespace splitrun::csvscan

#endif

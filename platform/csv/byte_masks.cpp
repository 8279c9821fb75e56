#include "byte_masks.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SPLITRUN_X86 1
#endif

namespace splitrun::csvscan {

namespace {

// The masks, one kind each, for N distinct wanted bytes; wanted byte k
// stands 32 times over from wanted + 32 * k, so that a compare loads it
// rather than spreading it across a register on every call.
template <int N>
std::uint64_t scalarMask(const char* p, const char* wanted)
{
    std::uint64_t bits = 0;
    for (int i = 0; i < 64; ++i) {
        bool hit = false;
        for (int k = 0; k < N; ++k) hit |= p[i] == wanted[32 * k];
        bits |= std::uint64_t{hit} << i;
    }
    return bits;
}

#if defined(SPLITRUN_X86) && defined(__SSE2__)
template <int N>
std::uint64_t sse2Mask(const char* p, const char* wanted)
{
    __m128i want[N];
    for (int k = 0; k < N; ++k) want[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wanted + 32 * k));
    const auto part = [&](int at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        __m128i hits = _mm_cmpeq_epi8(bytes, want[0]);
        for (int k = 1; k < N; ++k) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, want[k]));
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits)));
    };
    return part(0) | part(16) << 16 | part(32) << 32 | part(48) << 48;
}

template <int N>
__attribute__((target("avx2"))) std::uint64_t avx2Mask(const char* p, const char* wanted)
{
    __m256i want[N];
    for (int k = 0; k < N; ++k) want[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wanted + 32 * k));
    const auto part = [&](int at) __attribute__((target("avx2"))) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at));
        __m256i hits = _mm256_cmpeq_epi8(bytes, want[0]);
        for (int k = 1; k < N; ++k) hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(bytes, want[k]));
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(hits)));
    };
    return part(0) | part(32) << 32;
}
#endif

using Mask = std::uint64_t (*)(const char*, const char*);

Mask maskFor(Vectors kind, int distinct)
{
#if defined(SPLITRUN_X86) && defined(__SSE2__)
    if (kind == Vectors::Avx2) {
        static constexpr Mask masks[] = {avx2Mask<1>, avx2Mask<2>, avx2Mask<3>, avx2Mask<4>};
        return masks[distinct - 1];
    }
    if (kind == Vectors::Sse2) {
        static constexpr Mask masks[] = {sse2Mask<1>, sse2Mask<2>, sse2Mask<3>, sse2Mask<4>};
        return masks[distinct - 1];
    }
#endif
    (void)kind;
    static constexpr Mask masks[] = {scalarMask<1>, scalarMask<2>, scalarMask<3>, scalarMask<4>};
    return masks[distinct - 1];
}

}  // namespace

bool runs(Vectors kind)
{
    switch (kind) {
    case Vectors::Scalar:
        return true;
#if defined(SPLITRUN_X86) && defined(__SSE2__)
    case Vectors::Sse2:
        return true;
    case Vectors::Avx2:
        return __builtin_cpu_supports("avx2");
#endif
    default:
        return false;
    }
}

Vectors widestVectors()
{
    static const Vectors widest = runs(Vectors::Avx2) ? Vectors::Avx2 : runs(Vectors::Sse2) ? Vectors::Sse2
                                                                                           : Vectors::Scalar;
    return widest;
}

ByteMasks::ByteMasks(std::initializer_list<char> wanted, Vectors kind)
{
    // The distinct bytes first; the rest of the four repeat the first.
    char distinctBytes[4] = {};
    int distinct = 0;
    for (const char c : wanted) {
        if (distinct == 4 || std::memchr(distinctBytes, c, static_cast<std::size_t>(distinct)) != nullptr) continue;
        distinctBytes[distinct++] = c;
    }
    for (int k = 0; k < 4; ++k) std::memset(wanted_[k], distinctBytes[k < distinct ? k : 0], sizeof wanted_[k]);
    mask_ = maskFor(runs(kind) ? kind : Vectors::Scalar, distinct);
}

std::uint64_t ByteMasks::partial(const char* p, std::size_t size) const
{
    // The bytes copied into a block of their own; the bits past them are
    // cleared, whatever the padding.
    char padded[64] = {};
    std::memcpy(padded, p, size);
    return block(padded) & ((std::uint64_t{1} << size) - 1);
}

}  // namespace splitrun::csvscan

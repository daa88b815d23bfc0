#ifndef RUXA_KERNELS_SSE2_BLOCKS_H_
#define RUXA_KERNELS_SSE2_BLOCKS_H_

// SSE2's kernels for the HTML fast path's 64-byte blocks, inline, so that the block walk
// compiled for SSE2 (every x86-64 processor) takes them in rather than calling them per block.
// sse2.cc fills its table from them as well.
#include "kernels/implementations.h"

#if defined(RUXA_X86)
#include <immintrin.h>

#define RUXA_SSE2 __attribute__((target("sse2")))

namespace ruxa::kernels::sse2 {

RUXA_SSE2 inline __m128i Load(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
RUXA_SSE2 inline __m128i Eq(__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }

// The 16 bits of a byte mask, shifted to their place among 64.
RUXA_SSE2 inline std::uint64_t Bits(__m128i m, int part) {
  return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(m))} << (16 * part);
}

// Called rather than inlined: inlined into the walk, it made the walk slower.
TagMasks Tags(const std::uint8_t* block);

// Each quarter's 16 mask bits spread to its bytes (bytes 0 to 7 take the low mask byte, 8 to
// 15 the high one, each keeping its own bit) and the bytes chosen by and-not.
RUXA_SSE2 inline void Blend(std::uint8_t* to, const std::uint8_t* block, const std::uint8_t* bytes,
                            std::uint64_t mask) {
  const __m128i bit = _mm_set1_epi64x(static_cast<long long>(0x8040201008040201u));
  for (int part = 0; part < 4; ++part) {
    const auto quarter = static_cast<std::uint16_t>(mask >> (16 * part));
    __m128i spread = _mm_set1_epi16(static_cast<short>(quarter));  // lo hi lo hi ...
    spread = _mm_unpacklo_epi8(spread, spread);                    // lo lo hi hi ...
    spread = _mm_unpacklo_epi16(spread, spread);                   // lo x4, hi x4, ...
    spread = _mm_unpacklo_epi32(spread, spread);                   // lo x8, hi x8
    const __m128i chosen = _mm_cmpeq_epi8(_mm_and_si128(spread, bit), bit);
    const __m128i kept = _mm_andnot_si128(chosen, Load(block + 16 * part));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16 * part),
                     _mm_or_si128(kept, _mm_and_si128(chosen, Load(bytes + 16 * part))));
  }
}

// 64 bytes a step: plain text runs long.
RUXA_SSE2 inline std::size_t FindMarkup(const std::uint8_t* b, std::size_t i, std::size_t n) {
  for (; i + 64 <= n; i += 64) {
    std::uint64_t mask = 0;
    for (int part = 0; part < 4; ++part) {
      const __m128i v = Load(b + i + 16 * part);
      mask |= Bits(
          _mm_or_si128(_mm_or_si128(Eq(v, '<'), Eq(v, '>')), _mm_or_si128(Eq(v, '&'), Eq(v, 0))),
          part);
    }
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctzll(mask));
  }
  return FindMarkupPortable(b, i, n);
}

/// The block kernels for the walk (see block_walk.h). Compression has no SSE2 form: no byte
/// shuffle.
struct Blocks {
  static constexpr int kMatchFrom = 0;
  static constexpr bool kMatchBreaks = false;  // at 16 bytes a step, the loop costs less
  static TagMasks Tags(const std::uint8_t* block) { return sse2::Tags(block); }
  static std::size_t FindMarkup(const std::uint8_t* b, std::size_t i, std::size_t n) {
    return sse2::FindMarkup(b, i, n);
  }
  static std::size_t Compress(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) {
    return CompressPortable(to, block, keep);
  }
  static void Blend(std::uint8_t* to, const std::uint8_t* block, const std::uint8_t* bytes,
                    std::uint64_t mask) {
    sse2::Blend(to, block, bytes, mask);
  }
};

}  // namespace ruxa::kernels::sse2

#endif  // RUXA_X86

#endif  // RUXA_KERNELS_SSE2_BLOCKS_H_

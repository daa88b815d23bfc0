#ifndef RUXA_SIMD_SSE2_H_
#define RUXA_SIMD_SSE2_H_

// The vector type of SSE2, part of every x86-64 processor: four 16-byte registers. SSE2 has no
// byte shuffle, so Lookup is not offered (kMatchFrom is 0: entities are matched one at a time)
// and Compress slides the kept bytes down by shifts (SlideTable), but packs 16-bit text.
#include "simd/isa.h"

#if defined(RUXA_X86)
#include <immintrin.h>

#include "simd/scalar.h"

RUXA_TARGET_REGION(RUXA_SSE2_TARGET)
namespace ruxa::simd::sse2 {

struct Vec {
  static constexpr int kMatchFrom = 0;        // no byte shuffle
  static constexpr int kMatchBreaksFrom = 4;  // at 16 bytes a step, all at once pays for many
  __m128i p[4];

  static Vec Load(const std::uint8_t* s) {
    const auto* q = reinterpret_cast<const __m128i*>(s);
    return {{_mm_loadu_si128(q), _mm_loadu_si128(q + 1), _mm_loadu_si128(q + 2),
             _mm_loadu_si128(q + 3)}};
  }
  static Vec Splat(std::uint8_t c) {
    const __m128i v = _mm_set1_epi8(static_cast<char>(c));
    return {{v, v, v, v}};
  }
  void Store(std::uint8_t* s) const {
    for (int i = 0; i < 4; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(s) + i, p[i]);
  }
  // Compares give a vector of 0 and 0xFF bytes, which serves as the truth values.
  Vec Eq(const Vec& o) const {
    return {{_mm_cmpeq_epi8(p[0], o.p[0]), _mm_cmpeq_epi8(p[1], o.p[1]),
             _mm_cmpeq_epi8(p[2], o.p[2]), _mm_cmpeq_epi8(p[3], o.p[3])}};
  }
  Vec Eq(std::uint8_t c) const { return Eq(Splat(c)); }
  Vec operator&(const Vec& o) const {
    return {{_mm_and_si128(p[0], o.p[0]), _mm_and_si128(p[1], o.p[1]), _mm_and_si128(p[2], o.p[2]),
             _mm_and_si128(p[3], o.p[3])}};
  }
  Vec operator|(const Vec& o) const {
    return {{_mm_or_si128(p[0], o.p[0]), _mm_or_si128(p[1], o.p[1]), _mm_or_si128(p[2], o.p[2]),
             _mm_or_si128(p[3], o.p[3])}};
  }
  std::uint64_t Mask() const {
    std::uint64_t m = 0;
    for (int i = 0; i < 4; ++i) {
      m |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(p[i]))} << (16 * i);
    }
    return m;
  }
  std::uint64_t NonZero() const { return ~Eq(0).Mask(); }
  // Each quarter's 16 mask bits spread to its bytes (bytes 0 to 7 take the low mask byte, 8 to
  // 15 the high one, each keeping its own bit), and the bytes chosen by and-not.
  static Vec Blend(std::uint64_t mask, const Vec& x, const Vec& y) {
    const __m128i bit = _mm_set1_epi64x(static_cast<long long>(0x8040201008040201u));
    Vec v;
    for (int i = 0; i < 4; ++i) {
      __m128i spread = _mm_set1_epi16(static_cast<short>(mask >> (16 * i)));  // lo hi lo hi ..
      spread = _mm_unpacklo_epi8(spread, spread);                             // lo lo hi hi ..
      spread = _mm_unpacklo_epi16(spread, spread);                            // lo x4, hi x4 ..
      spread = _mm_unpacklo_epi32(spread, spread);                            // lo x8, hi x8
      const __m128i chosen = _mm_cmpeq_epi8(_mm_and_si128(spread, bit), bit);
      v.p[i] = _mm_or_si128(_mm_andnot_si128(chosen, x.p[i]), _mm_and_si128(chosen, y.p[i]));
    }
    return v;
  }
  // Every other byte kept (16-bit text: the low or the high byte of each word) packs.
  static __m128i Pack(__m128i x, __m128i y, bool high) {
    if (high) return _mm_packus_epi16(_mm_srli_epi16(x, 8), _mm_srli_epi16(y, 8));
    const __m128i low = _mm_set1_epi16(0xFF);
    return _mm_packus_epi16(_mm_and_si128(x, low), _mm_and_si128(y, low));
  }
  // Step kStep of the slide (see SlideTable) of both eight-byte halves of a register, whose
  // masks are `lo` and `hi`: the places marked take the byte 2^kStep places above them, which
  // for a place the table marks always lies in the same half.
  template <int kStep>
  static __m128i Slide(__m128i q, unsigned lo, unsigned hi) {
    const __m128i moves =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kSlide.to[lo][kStep])),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kSlide.to[hi][kStep])));
    return _mm_or_si128(_mm_andnot_si128(moves, q),
                        _mm_and_si128(moves, _mm_srli_si128(q, 1 << kStep)));
  }
  // The kept bytes of one register, each half's slid to its front and stored, eight bytes,
  // where the kept bytes before it end: half j of a block starts at most 8j bytes in, so every
  // store ends by to + 64, and the next half's overwrites what lies past the kept ones.
  static std::size_t Gather(std::uint8_t* to, std::size_t kept, __m128i q, unsigned mask) {
    const unsigned lo = mask & 0xFF, hi = mask >> 8 & 0xFF;
    q = Slide<2>(Slide<1>(Slide<0>(q, lo, hi), lo, hi), lo, hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + kept), q);
    kept += kSlide.count[lo];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + kept), _mm_unpackhi_epi64(q, q));
    return kept + kSlide.count[hi];
  }
  // Whole, nothing, packed, or slid a register at a time, without a branch on its bytes.
  std::size_t Compress(std::uint8_t* to, std::uint64_t keep) const {
    auto* const out = reinterpret_cast<__m128i*>(to);
    if (keep == ~std::uint64_t{0}) {
      Store(to);
      return 64;
    }
    if (keep == 0) return 0;
    if (keep == 0x5555555555555555u || keep == 0xAAAAAAAAAAAAAAAAu) {
      _mm_storeu_si128(out, Pack(p[0], p[1], keep & 2));
      _mm_storeu_si128(out + 1, Pack(p[2], p[3], keep & 2));
      return 32;
    }
    std::size_t kept = Gather(to, 0, p[0], static_cast<unsigned>(keep));
    kept = Gather(to, kept, p[1], static_cast<unsigned>(keep >> 16));
    kept = Gather(to, kept, p[2], static_cast<unsigned>(keep >> 32));
    return Gather(to, kept, p[3], static_cast<unsigned>(keep >> 48));
  }
};
using Cmp = Vec;

}  // namespace ruxa::simd::sse2
RUXA_TARGET_REGION_END

#endif  // RUXA_X86

#endif  // RUXA_SIMD_SSE2_H_

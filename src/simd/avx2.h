#ifndef RUXA_SIMD_AVX2_H_
#define RUXA_SIMD_AVX2_H_

// The vector type of AVX2: two 32-byte registers. Compress goes through the table of shuffles,
// eight bytes at a time.
#include "simd/isa.h"

#if defined(RUXA_X86)
#include <immintrin.h>

#include "simd/scalar.h"

RUXA_TARGET_REGION(RUXA_AVX2_TARGET)
namespace ruxa::simd::avx2 {

struct Vec {
  static constexpr int kMatchFrom = 2;  // one candidate costs less matched alone
  static constexpr int kMatchBreaksFrom = 1;
  __m256i lo, hi;

  static Vec Load(const std::uint8_t* p) {
    const auto* q = reinterpret_cast<const __m256i*>(p);
    return {_mm256_loadu_si256(q), _mm256_loadu_si256(q + 1)};
  }
  static Vec Splat(std::uint8_t c) {
    const __m256i v = _mm256_set1_epi8(static_cast<char>(c));
    return {v, v};
  }
  void Store(std::uint8_t* p) const {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p) + 1, hi);
  }
  // Compares give a vector of 0 and 0xFF bytes, which serves as the truth values.
  Vec Eq(const Vec& o) const { return {_mm256_cmpeq_epi8(lo, o.lo), _mm256_cmpeq_epi8(hi, o.hi)}; }
  Vec Eq(std::uint8_t c) const { return Eq(Splat(c)); }
  Vec operator|(const Vec& o) const {
    return {_mm256_or_si256(lo, o.lo), _mm256_or_si256(hi, o.hi)};
  }
  std::uint64_t Mask() const {
    return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(lo))} |
           std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))} << 32;
  }
  std::uint64_t NonZero() const { return ~Eq(0).Mask(); }
  Vec operator&(const Vec& o) const {
    return {_mm256_and_si256(lo, o.lo), _mm256_and_si256(hi, o.hi)};
  }
  Vec operator^(const Vec& o) const {
    return {_mm256_xor_si256(lo, o.lo), _mm256_xor_si256(hi, o.hi)};
  }
  Vec Lookup(const std::uint8_t* table) const {
    const __m256i t =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
    return {_mm256_shuffle_epi8(t, lo), _mm256_shuffle_epi8(t, hi)};
  }
  // Each half's 32 mask bits spread to its bytes: byte i takes mask byte i / 8, keeps bit i % 8,
  // and becomes 0xFF if that bit is set.
  static __m256i Spread(std::uint32_t bits) {
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1,  //
                                            2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
    const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201u));
    const __m256i bytes = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(bits)), spread);
    return _mm256_cmpeq_epi8(_mm256_and_si256(bytes, bit), bit);
  }
  static Vec Blend(std::uint64_t mask, const Vec& x, const Vec& y) {
    return {_mm256_blendv_epi8(x.lo, y.lo, Spread(static_cast<std::uint32_t>(mask))),
            _mm256_blendv_epi8(x.hi, y.hi, Spread(static_cast<std::uint32_t>(mask >> 32)))};
  }
  // Each eight bytes through the table of shuffles, stored eight at a time.
  static std::size_t Gather(std::uint8_t* to, __m128i bytes, unsigned mask) {
    const __m128i shuffle =
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGather.shuffle[mask & 0xFF]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(bytes, shuffle));
    return static_cast<std::size_t>(__builtin_popcount(mask & 0xFF));
  }
  std::size_t Compress(std::uint8_t* to, std::uint64_t keep) const {
    if (keep == ~std::uint64_t{0}) {
      Store(to);
      return 64;
    }
    if (keep == 0x5555555555555555u) {  // the low byte of each 16-bit word
      const __m256i low = _mm256_set1_epi16(0xFF);
      // Each lane packs its words; the lanes then come back in order.
      const __m256i packed =
          _mm256_packus_epi16(_mm256_and_si256(lo, low), _mm256_and_si256(hi, low));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_permute4x64_epi64(packed, 0xD8));
      return 32;
    }
    const __m128i quarters[4] = {_mm256_castsi256_si128(lo), _mm256_extracti128_si256(lo, 1),
                                 _mm256_castsi256_si128(hi), _mm256_extracti128_si256(hi, 1)};
    std::size_t kept = 0;
    for (int i = 0; i < 4; ++i) {
      const auto bits = static_cast<unsigned>(keep >> (16 * i));
      kept += Gather(to + kept, quarters[i], bits);
      kept += Gather(to + kept, _mm_srli_si128(quarters[i], 8), bits >> 8);
    }
    return kept;
  }
};
using Cmp = Vec;

}  // namespace ruxa::simd::avx2
RUXA_TARGET_REGION_END

#endif  // RUXA_X86

#endif  // RUXA_SIMD_AVX2_H_

#ifndef RUXA_SIMD_AVX512_H_
#define RUXA_SIMD_AVX512_H_

// The vector type of AVX-512 (F, BW and VBMI2): one register, compares give their mask directly,
// and bytes are compressed by a mask in one instruction. A processor with AVX-512 but without
// VBMI2 (the first generations) runs the AVX2 type instead.
#include "simd/isa.h"

#if defined(RUXA_X86)
#include <immintrin.h>

#include "simd/scalar.h"

RUXA_TARGET_REGION(RUXA_AVX512_TARGET)
namespace ruxa::simd::avx512 {

using Cmp = MaskBits;

struct Vec {
  static constexpr int kMatchFrom = 1;
  static constexpr int kMatchBreaksFrom = 1;
  __m512i v;

  static Vec Load(const std::uint8_t* p) { return {_mm512_loadu_si512(p)}; }
  static Vec Splat(std::uint8_t c) { return {_mm512_set1_epi8(static_cast<char>(c))}; }
  void Store(std::uint8_t* p) const { _mm512_storeu_si512(p, v); }
  Cmp Eq(const Vec& o) const { return {_mm512_cmpeq_epi8_mask(v, o.v)}; }
  Cmp Eq(std::uint8_t c) const { return Eq(Splat(c)); }
  std::uint64_t NonZero() const { return _mm512_test_epi8_mask(v, v); }
  Vec operator&(const Vec& o) const { return {_mm512_and_si512(v, o.v)}; }
  Vec operator^(const Vec& o) const { return {_mm512_xor_si512(v, o.v)}; }
  // The table in each quarter of the register (the form with a mask, as GCC 12's unmasked one
  // warns of an uninitialized value inside its header).
  Vec Lookup(const std::uint8_t* table) const {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table));
    return {_mm512_shuffle_epi8(_mm512_maskz_broadcast_i32x4(0xFFFF, row), v)};
  }
  static Vec Blend(std::uint64_t mask, const Vec& x, const Vec& y) {
    return {_mm512_mask_blend_epi8(mask, x.v, y.v)};
  }
  std::size_t Compress(std::uint8_t* to, std::uint64_t keep) const {
    _mm512_storeu_si512(to, _mm512_maskz_compress_epi8(keep, v));
    return static_cast<std::size_t>(__builtin_popcountll(keep));
  }
};

}  // namespace ruxa::simd::avx512
RUXA_TARGET_REGION_END

#endif  // RUXA_X86

#endif  // RUXA_SIMD_AVX512_H_

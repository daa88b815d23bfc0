#ifndef RUXA_SIMD_NEON_H_
#define RUXA_SIMD_NEON_H_

// The vector type of NEON (Advanced SIMD), part of every AArch64 processor: four 16-byte
// registers. NEON has no byte mask instruction: a mask is gathered by weighting each byte with
// its bit and adding neighbours pairwise, which puts bit k at byte k's place on a little-endian
// AArch64, the only kind this file builds for. Compress goes through the table of shuffles.
#include "simd/isa.h"

#if defined(RUXA_NEON)
#include <arm_neon.h>

#include "simd/scalar.h"

namespace ruxa::simd::neon {

struct Vec {
  static constexpr int kMatchFrom = 2;
  static constexpr int kMatchBreaksFrom = 0;
  uint8x16_t p[4];

  static Vec Load(const std::uint8_t* s) {
    return {{vld1q_u8(s), vld1q_u8(s + 16), vld1q_u8(s + 32), vld1q_u8(s + 48)}};
  }
  static Vec Splat(std::uint8_t c) {
    const uint8x16_t v = vdupq_n_u8(c);
    return {{v, v, v, v}};
  }
  void Store(std::uint8_t* s) const {
    for (int i = 0; i < 4; ++i) vst1q_u8(s + 16 * i, p[i]);
  }
  // Compares give a vector of 0 and 0xFF bytes, which serves as the truth values.
  Vec Eq(const Vec& o) const {
    return {{vceqq_u8(p[0], o.p[0]), vceqq_u8(p[1], o.p[1]), vceqq_u8(p[2], o.p[2]),
             vceqq_u8(p[3], o.p[3])}};
  }
  Vec Eq(std::uint8_t c) const { return Eq(Splat(c)); }
  Vec operator|(const Vec& o) const {
    return {{vorrq_u8(p[0], o.p[0]), vorrq_u8(p[1], o.p[1]), vorrq_u8(p[2], o.p[2]),
             vorrq_u8(p[3], o.p[3])}};
  }
  std::uint64_t Mask() const {
    static const std::uint8_t kBit[] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t w = vld1q_u8(kBit);
    uint8x16_t sum = vpaddq_u8(vpaddq_u8(vandq_u8(p[0], w), vandq_u8(p[1], w)),
                               vpaddq_u8(vandq_u8(p[2], w), vandq_u8(p[3], w)));
    sum = vpaddq_u8(sum, sum);
    return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
  }
  std::uint64_t NonZero() const { return ~Eq(0).Mask(); }
  Vec operator&(const Vec& o) const {
    return {{vandq_u8(p[0], o.p[0]), vandq_u8(p[1], o.p[1]), vandq_u8(p[2], o.p[2]),
             vandq_u8(p[3], o.p[3])}};
  }
  Vec operator^(const Vec& o) const {
    return {{veorq_u8(p[0], o.p[0]), veorq_u8(p[1], o.p[1]), veorq_u8(p[2], o.p[2]),
             veorq_u8(p[3], o.p[3])}};
  }
  Vec Lookup(const std::uint8_t* table) const {
    const uint8x16_t t = vld1q_u8(table);
    return {{vqtbl1q_u8(t, p[0]), vqtbl1q_u8(t, p[1]), vqtbl1q_u8(t, p[2]), vqtbl1q_u8(t, p[3])}};
  }
  // Each quarter's 16 mask bits spread to its bytes, each byte testing its own bit.
  static Vec Blend(std::uint64_t mask, const Vec& x, const Vec& y) {
    static const std::uint8_t kBits[] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t bit = vld1q_u8(kBits);
    Vec v;
    for (int i = 0; i < 4; ++i) {
      const auto quarter = static_cast<std::uint16_t>(mask >> (16 * i));
      const uint8x16_t spread = vcombine_u8(vdup_n_u8(static_cast<std::uint8_t>(quarter)),
                                            vdup_n_u8(static_cast<std::uint8_t>(quarter >> 8)));
      v.p[i] = vbslq_u8(vtstq_u8(spread, bit), y.p[i], x.p[i]);
    }
    return v;
  }
  std::size_t Compress(std::uint8_t* to, std::uint64_t keep) const {
    if (keep == ~std::uint64_t{0}) {
      Store(to);
      return 64;
    }
    if (keep == 0x5555555555555555u) {  // the low byte of each 16-bit word
      for (int i = 0; i < 4; ++i) vst1_u8(to + 8 * i, vmovn_u16(vreinterpretq_u16_u8(p[i])));
      return 32;
    }
    std::size_t kept = 0;
    for (int i = 0; i < 8; ++i) {
      const unsigned mask = static_cast<unsigned>(keep >> (8 * i)) & 0xFF;
      const uint8x8_t half = i % 2 == 0 ? vget_low_u8(p[i / 2]) : vget_high_u8(p[i / 2]);
      vst1_u8(to + kept, vtbl1_u8(half, vld1_u8(kGather.shuffle[mask])));
      kept += static_cast<std::size_t>(__builtin_popcount(mask));
    }
    return kept;
  }
};
using Cmp = Vec;

}  // namespace ruxa::simd::neon

#endif  // RUXA_NEON

#endif  // RUXA_SIMD_NEON_H_

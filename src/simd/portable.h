#ifndef RUXA_SIMD_PORTABLE_H_
#define RUXA_SIMD_PORTABLE_H_

// The vector type of plain C++: 64 bytes in an array, a byte at a time, on any processor and in
// either byte order. It takes every path the others take, so the block code is also held
// against the byte-by-byte model by code written plainly.
//
// Every vector type has the same members (see each_isa.h for how the block code is compiled
// once per type):
//   Vec   64 bytes: Load(p), Splat(c), Store(p), Eq(c) and Eq(v) giving a Cmp, NonZero() (a
//         mask), & and ^, Lookup(table) (byte k becomes table[byte k], every byte below 16),
//         Blend(mask, a, b) (b's byte where the mask's bit is set), Compress(to, keep) (the
//         bytes whose bit is set, in order, to `to`, which takes all 64; returns their count)
//   Cmp   64 truth values: & and |, Mask()
//   traits: kMatchFrom, kMatchBreaks (how the HTML block walk matches; see its comments)
// Masks hold one bit per byte: bit k (value 1 << k) for byte k, whatever the byte order.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/scalar.h"

namespace ruxa::simd::portable {

struct Cmp {
  std::uint64_t bits;
  Cmp operator&(Cmp o) const { return {bits & o.bits}; }
  Cmp operator|(Cmp o) const { return {bits | o.bits}; }
  std::uint64_t Mask() const { return bits; }
};

struct Vec {
  static constexpr int kMatchFrom = 1;
  static constexpr bool kMatchBreaks = true;
  std::uint8_t b[64];

  static Vec Load(const std::uint8_t* p) {
    Vec v;
    std::memcpy(v.b, p, 64);
    return v;
  }
  static Vec Splat(std::uint8_t c) {
    Vec v;
    std::memset(v.b, c, 64);
    return v;
  }
  void Store(std::uint8_t* p) const { std::memcpy(p, b, 64); }
  template <class F>
  Vec Map(F f) const {
    Vec v;
    for (int k = 0; k < 64; ++k) v.b[k] = f(k);
    return v;
  }
  Cmp Eq(const Vec& o) const {
    std::uint64_t m = 0;
    for (int k = 0; k < 64; ++k) m |= std::uint64_t{b[k] == o.b[k]} << k;
    return {m};
  }
  Cmp Eq(std::uint8_t c) const { return Eq(Splat(c)); }
  std::uint64_t NonZero() const { return ~Eq(0).bits; }
  Vec operator&(const Vec& o) const { return Map([&](int k) { return b[k] & o.b[k]; }); }
  Vec operator^(const Vec& o) const { return Map([&](int k) { return b[k] ^ o.b[k]; }); }
  Vec Lookup(const std::uint8_t* table) const { return Map([&](int k) { return table[b[k] & 15]; }); }
  static Vec Blend(std::uint64_t mask, const Vec& x, const Vec& y) {
    return x.Map([&](int k) { return mask >> k & 1 ? y.b[k] : x.b[k]; });
  }
  std::size_t Compress(std::uint8_t* to, std::uint64_t keep) const {
    return CompressRuns(to, b, keep);
  }
};

}  // namespace ruxa::simd::portable

#endif  // RUXA_SIMD_PORTABLE_H_

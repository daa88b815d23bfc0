#ifndef RUXA_SIMD_PORTABLE_H_
#define RUXA_SIMD_PORTABLE_H_

// The vector type of plain C++, on any processor and in either byte order: eight bytes to a
// word.
//
// Every vector type has the same members (see each_isa.h for how the block code is compiled
// once per type):
//   Vec   64 bytes: Load(p), Splat(c), Store(p), Eq(c) and Eq(v) giving a Cmp, NonZero() (a
//         mask); where kMatchFrom is not 0, & and ^ and Lookup(table) (byte k becomes
//         table[byte k], every byte below 16);
//         Blend(mask, a, b) (b's byte where the mask's bit is set), Compress(to, keep) (the
//         bytes whose bit is set, in order, to `to`, which takes all 64; returns their count)
//   Cmp   64 truth values: & and |, Mask()
//   traits: kMatchFrom, kMatchBreaksFrom (how the HTML block walk matches; see its comments)
// Masks hold one bit per byte: bit k (value 1 << k) for byte k, whatever the byte order.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/scalar.h"

namespace ruxa::simd::portable {

using Cmp = MaskBits;

// Eight bytes to a 64-bit word, byte k of the word in its bits 8k to 8k + 7 whatever the byte
// order; the byte tests work on all eight at once.
struct Vec {
  static constexpr int kMatchFrom = 0;        // no lookups: entities one at a time
  static constexpr int kMatchBreaksFrom = 0;  // and line-break tags too
  std::uint64_t w[8];

  static std::uint64_t InOrder(std::uint64_t x) {
    return std::endian::native == std::endian::big ? __builtin_bswap64(x) : x;
  }
  static Vec Load(const std::uint8_t* p) {
    Vec v;
    std::memcpy(v.w, p, 64);
    for (std::uint64_t& x : v.w) x = InOrder(x);
    return v;
  }
  static Vec Splat(std::uint8_t c) {
    Vec v;
    for (std::uint64_t& x : v.w) x = 0x0101010101010101u * c;
    return v;
  }
  void Store(std::uint8_t* p) const {
    std::uint64_t out[8];
    for (int i = 0; i < 8; ++i) out[i] = InOrder(w[i]);
    std::memcpy(p, out, 64);
  }
  // The high bit of each byte of x that is zero (exactly: no carry crosses a byte), gathered
  // into eight bits by a multiplication whose partial products never meet.
  static std::uint64_t ZeroBytes(std::uint64_t x) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
    const std::uint64_t high = ~(((x & kLow7) + kLow7) | x | kLow7);
    return (high >> 7) * 0x0102040810204080u >> 56;
  }
  Cmp Eq(const Vec& o) const {
    std::uint64_t m = 0;
    for (int i = 0; i < 8; ++i) m |= ZeroBytes(w[i] ^ o.w[i]) << (8 * i);
    return {m};
  }
  Cmp Eq(std::uint8_t c) const { return Eq(Splat(c)); }
  std::uint64_t NonZero() const { return ~Eq(0).bits; }
  static Vec Blend(std::uint64_t mask, const Vec& x, const Vec& y) {
    Vec v = x;
    for (; mask != 0; mask &= mask - 1) {
      const int k = __builtin_ctzll(mask);
      const std::uint64_t byte = std::uint64_t{0xFF} << (8 * (k % 8));
      v.w[k / 8] = (v.w[k / 8] & ~byte) | (y.w[k / 8] & byte);
    }
    return v;
  }
  // Each word's kept bytes slide to its front (see SlideTable): toward byte 0 is toward the low
  // bits. Eight bytes are stored each time, all before to + 64.
  std::size_t Compress(std::uint8_t* to, std::uint64_t keep) const {
    if (keep == ~std::uint64_t{0}) {
      Store(to);
      return 64;
    }
    if (keep == 0) return 0;
    std::size_t kept = 0;
    for (int i = 0; i < 8; ++i) {
      const auto m = static_cast<std::uint8_t>(keep >> (8 * i));
      std::uint64_t x = w[i];
      for (int step = 0; step < 3; ++step) {
        std::uint64_t moves;
        std::memcpy(&moves, kSlide.to[m][step], 8);
        moves = InOrder(moves);
        x = (x & ~moves) | ((x >> (8 << step)) & moves);
      }
      x = InOrder(x);
      std::memcpy(to + kept, &x, 8);
      kept += kSlide.count[m];
    }
    return kept;
  }
};

}  // namespace ruxa::simd::portable

#endif  // RUXA_SIMD_PORTABLE_H_

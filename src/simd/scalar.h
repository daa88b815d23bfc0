#ifndef RUXA_SIMD_SCALAR_H_
#define RUXA_SIMD_SCALAR_H_

// Byte work in plain C++ that the vector types share: the tables that compression works from.
#include <cstddef>
#include <cstdint>

namespace ruxa::simd {

/// The truth values of 64 bytes as a mask, for vector types whose compares give one (AVX-512)
/// or whose bytes are tested a word at a time (plain C++).
struct MaskBits {
  std::uint64_t bits;
  MaskBits operator&(MaskBits o) const { return {bits & o.bits}; }
  MaskBits operator|(MaskBits o) const { return {bits | o.bits}; }
  std::uint64_t Mask() const { return bits; }
};

// For each mask of eight bytes, the shuffle that gathers the bytes it keeps at the front (an
// index with its high bit set gives a zero byte), for vector types that shuffle bytes by a table
// but cannot compress them by a mask.
struct GatherTable {
  std::uint8_t shuffle[256][8];
  constexpr GatherTable() : shuffle() {
    for (int mask = 0; mask < 256; ++mask) {
      int kept = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (mask >> bit & 1) shuffle[mask][kept++] = static_cast<std::uint8_t>(bit);
      }
      while (kept < 8) shuffle[mask][kept++] = 0x80;
    }
  }
};
inline constexpr GatherTable kGather;

// For each mask of eight bytes, how the bytes it keeps slide to the front in three steps, for
// vector types that shift bytes but cannot shuffle them: at step s every kept byte whose count
// of dropped bytes before it has bit s set moves 2^s places down, and `to[mask][s]` marks (0xFF)
// the places that take the byte 2^s places above them. Two kept bytes never meet: one step
// closes at most the gap the dropped bytes between them opened, so their order holds throughout.
// A place left by a byte and taken by none keeps a stale copy, which no later step moves.
struct SlideTable {
  std::uint8_t to[256][3][8];
  std::uint8_t count[256];
  constexpr SlideTable() : to(), count() {
    for (int mask = 0; mask < 256; ++mask) {
      int at[8] = {}, shift[8] = {}, kept = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (mask >> bit & 1) {
          at[kept] = bit;
          shift[kept] = bit - kept;  // the bytes dropped before it
          ++kept;
        }
      }
      count[mask] = static_cast<std::uint8_t>(kept);
      for (int step = 0; step < 3; ++step) {
        for (int k = 0; k < kept; ++k) {
          if (shift[k] >> step & 1) to[mask][step][at[k] -= 1 << step] = 0xFF;
        }
      }
    }
  }
};
inline constexpr SlideTable kSlide;

}  // namespace ruxa::simd

#endif  // RUXA_SIMD_SCALAR_H_

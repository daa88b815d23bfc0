#ifndef RUXA_SIMD_SCALAR_H_
#define RUXA_SIMD_SCALAR_H_

// Byte work in plain C++ that the vector types share: compression without a byte shuffle.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ruxa::simd {

/// The truth values of 64 bytes as a mask, for vector types whose compares give one (AVX-512)
/// or whose bytes are tested a word at a time (plain C++).
struct MaskBits {
  std::uint64_t bits;
  MaskBits operator&(MaskBits o) const { return {bits & o.bits}; }
  MaskBits operator|(MaskBits o) const { return {bits | o.bits}; }
  std::uint64_t Mask() const { return bits; }
};

/// Copies the bytes of the 64 at `in` whose bit is set in `keep` to `to`, in order, and returns
/// their count; writes all 64 bytes from `to`. `in` holds 32 more readable bytes after the 64
/// (their values do not matter). A run of kept bytes at a time, by copies of fixed length (32
/// bytes, then 16 at a time for a longer run), gathered aside so that a copy may run past its
/// run's end.
inline std::size_t CompressRuns(std::uint8_t* to, const std::uint8_t* in, std::uint64_t keep) {
  std::uint8_t out[64 + 32];
  std::size_t kept = 0;
  while (keep != 0) {
    const int start = __builtin_ctzll(keep);
    // Not every bit is set, and the shift brings in zeros: the run ends before bit 64 of this.
    const int length = __builtin_ctzll(~(keep >> start));
    std::memcpy(out + kept, in + start, 32);  // most runs are shorter
    for (int i = 32; i < length; i += 16) std::memcpy(out + kept + i, in + start + i, 16);
    kept += static_cast<std::size_t>(length);
    keep &= keep + (keep & (0 - keep));  // the carry clears the run
  }
  std::memcpy(to, out, 64);
  return kept;
}

/// Copies the bytes of the `count` (at most 64) at `from` whose bit is set in `keep` to `to`, in
/// order, and returns their count; writes up to `count` bytes from `to`, which may overlap
/// `from` only by lying at or before it. Branch-free: every byte is stored, only those kept
/// advance.
inline std::size_t CompressEach(std::uint8_t* to, const std::uint8_t* from, std::uint64_t keep,
                                int count) {
  std::size_t kept = 0;
  for (int k = 0; k < count; ++k, keep >>= 1) {
    to[kept] = from[k];
    kept += keep & 1;
  }
  return kept;
}

/// The number of bits set, by halves, nibbles and bytes: without POPCNT, which SSE2 processors
/// may lack, the builtin is a call.
inline int CountBits(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<int>((x * 0x0101010101010101u) >> 56);
}

/// Whether a mask is better compressed a run at a time than by pieces: eight runs or fewer.
inline bool FewRuns(std::uint64_t keep) { return CountBits(keep & ~(keep << 1)) <= 8; }

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

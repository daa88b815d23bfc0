#ifndef RUXA_SIMD_SCALAR_H_
#define RUXA_SIMD_SCALAR_H_

// Byte work in plain C++ that the vector types share: compression without a byte shuffle.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ruxa::simd {

/// Copies the bytes of the 64 at `block` whose bit is set in `keep` to `to`, in order, and
/// returns their count; writes all 64 bytes from `to`, which may overlap `block` only by lying
/// at or before it. A run of kept bytes at a time, by copies of fixed length (32 bytes, then 16
/// at a time for a longer run): the block is copied aside and the kept bytes gathered aside, so
/// a copy may run past its run's end at both ends.
inline std::size_t CompressRuns(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) {
  if (keep == ~std::uint64_t{0}) {
    std::memmove(to, block, 64);
    return 64;
  }
  std::uint8_t in[64 + 32], out[64 + 32];
  std::memcpy(in, block, 64);
  std::memset(in + 64, 0, 32);
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

/// As CompressRuns, choosing the way by the number of runs: many (16-bit text, every other byte
/// kept) go a byte at a time, branch-free: every byte is stored, only those kept advance.
inline std::size_t CompressBytes(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) {
  if (__builtin_popcountll(keep & ~(keep << 1)) <= 8) return CompressRuns(to, block, keep);
  std::uint8_t bytes[64];
  std::memcpy(bytes, block, 64);
  std::size_t kept = 0;
  for (int k = 0; k < 64; ++k) {
    to[kept] = bytes[k];
    kept += keep >> k & 1;
  }
  return kept;
}

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

}  // namespace ruxa::simd

#endif  // RUXA_SIMD_SCALAR_H_

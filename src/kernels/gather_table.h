#ifndef RUXA_KERNELS_GATHER_TABLE_H_
#define RUXA_KERNELS_GATHER_TABLE_H_

// The byte shuffles that compress eight bytes by an eight-bit mask, for kernels whose
// processors shuffle bytes by a table but cannot compress them by a mask.
#include <cstdint>

namespace ruxa::kernels {

// For each mask of eight bytes, the shuffle that gathers the bytes it keeps at the front.
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

}  // namespace ruxa::kernels

#endif  // RUXA_KERNELS_GATHER_TABLE_H_

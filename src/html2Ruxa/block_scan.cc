#include "html2Ruxa/block_scan.h"

namespace ruxa {

std::size_t FindBodyStart(const Kernels& kernels, const std::uint8_t* b, std::size_t i,
                          std::size_t end) {
  for (; i + 64 <= end; i += 64) {
    if (const std::uint64_t m = kernels.body(b + i)) {
      return i + static_cast<std::size_t>(__builtin_ctzll(m));
    }
  }
  for (; i < end; ++i) {
    if (b[i] == '<' && b[i + 1] == 'b' && b[i + 2] == 'o') return i;
  }
  return end;
}

void BlockCursor::Load(std::size_t base) {
  base_ = base;
  masks_ = base + 64 <= n_ ? scan_(b_ + base) : ScanPartialBlock(b_ + base, n_ - base);
}

}  // namespace ruxa

#include "html2Ruxa/block_scan.h"

#include "html2Ruxa/block_walk.h"

namespace ruxa {

void BlockCursor::Load(std::size_t base) {
  base_ = base;
  masks_ = base + 64 <= n_ ? scan_(b_ + base) : ScanPartialBlock(b_ + base, n_ - base);
}

}  // namespace ruxa

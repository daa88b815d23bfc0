// The HTML block code, one copy per instruction set.
#include "html2Ruxa/block_walk.h"

#include <algorithm>

#define RUXA_SIMD_SPACE ruxa::html_blocks
#define RUXA_SIMD_BODY "html2Ruxa/block_walk.inc"
#include "simd/each_isa.h"

namespace ruxa {

const HtmlBlocks& HtmlBlocksFor(VectorKernel kind) { return html_blocks::ForKernel(kind); }

BlockMasks ScanPartialBlock(const std::uint8_t* block, std::size_t size) {
  BlockMasks m;
  for (std::size_t k = 0; k < size; ++k) {
    const std::uint8_t c = block[k];
    const std::uint64_t bit = std::uint64_t{1} << k;
    if (c == '<' || c == '>' || c == '&' || c == 0) m.special |= bit;
    if (c == '>') m.close |= bit;
  }
  return m;
}

}  // namespace ruxa

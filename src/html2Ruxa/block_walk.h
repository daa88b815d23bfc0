#ifndef RUXA_HTML2RUXA_BLOCK_WALK_H_
#define RUXA_HTML2RUXA_BLOCK_WALK_H_

// The HTML text pass's block code: the searches it makes many bytes at a time, and the block
// walk, written once (block_walk.inc) and compiled once per instruction set.
#include <cstddef>
#include <cstdint>

#include "html2Ruxa/html_rules.h"
#include "html2Ruxa/text_sinks.h"
#include "kernels/kernels.h"

namespace ruxa {

/// What the block walk works on: the page b[0, n), whose blocks it takes whole while they and
/// the `kBlockReach` bytes after them lie before `reach`, where the text goes, whether the
/// page's head has been erased (a later "<he" tag is a tag like any other, and only says
/// "removing the head" on the console), and whether line-break tags become the escape (batch
/// mode).
struct BlockWalk {
  std::uint8_t* b;
  std::size_t n;
  std::size_t reach;
  CompactSink& sink;
  bool head_erased;
  bool breaks;
};

/// The block code of one instruction set.
struct HtmlBlocks {
  /// The masks of the 64 bytes at `block`.
  BlockMasks (*scan)(const std::uint8_t* block);
  /// The colour pass's search (see ColourScanner::Find).
  ColourScanner::Find find_colours;
  /// Position of the first '<', '>', '&' or zero byte in [i, n), or n.
  std::size_t (*find_markup)(const std::uint8_t* b, std::size_t i, std::size_t n);
  /// The masks of the 64 bytes at `block`, reading the three bytes before and after it too.
  TagMasks (*tags)(const std::uint8_t* block);
  /// The walk from `from`, whose bytes before it in its block are handled already: whole
  /// blocks, each classified at once and compacted by its mask of the bytes kept, for as long
  /// as the masks settle them. Returns where it stopped, and whether that is
  /// inside a tag; the byte-at-a-time rules go on from there.
  std::size_t (*walk)(const BlockWalk& page, std::size_t from, bool& in_tag);
};

/// The block code of an instruction set.
const HtmlBlocks& HtmlBlocksFor(VectorKernel kind);

/// The masks of the first `size` bytes (at most 64) at `block`, for a block cut by the end of
/// the data.
BlockMasks ScanPartialBlock(const std::uint8_t* block, std::size_t size);

}  // namespace ruxa

#endif  // RUXA_HTML2RUXA_BLOCK_WALK_H_

#ifndef RUXA_HTML2RUXA_BLOCK_SCAN_H_
#define RUXA_HTML2RUXA_BLOCK_SCAN_H_

#include <cstddef>
#include <cstdint>

#include "driver/vector_kernel.h"

namespace ruxa {

/// The bytes of one 64-byte block that the HTML text pass stops at, one bit per byte (bit k for
/// byte k): every '<', '>', '&' and zero byte in `special`, the '>' alone in `close`.
struct BlockMasks {
  std::uint64_t special = 0;
  std::uint64_t close = 0;
};

/// The masks of the 64 bytes at `block`, through the active vector kernel.
BlockMasks ScanBlock(const std::uint8_t* block);

/// Position of the first "<bo" (a body start tag) that starts in [i, end), or `end`; reads up to
/// two bytes past `end`, which must lie inside the buffer.
std::size_t FindBodyStart(const std::uint8_t* b, std::size_t i, std::size_t end);

/// What the fast path of the batch-mode text pass needs to know of one 64-byte block, one bit
/// per byte: where tags open and close, zero bytes and ampersands, and the bytes that call for
/// the full rules: a '<' followed by "br", "/b" or "he", and a '>' after 'r' or '/'.
struct TagMasks {
  std::uint64_t open = 0;
  std::uint64_t close = 0;
  std::uint64_t zero = 0;
  std::uint64_t amp = 0;
  std::uint64_t unusual = 0;
};

/// Whether `ScanTags` and `CompressBlock` have a vector kernel here; without one the fast path
/// is not worth taking.
bool HasTagKernel();
/// The masks of the 64 bytes at `block`; reads block[-1], block[64] and block[65] too.
TagMasks ScanTags(const std::uint8_t* block);
/// Copies the bytes of the 64 at `block` whose bit is set in `keep` to `to`, in order, and
/// returns their count. `to` may overlap the block but not lie past its first kept byte; when it
/// lies at or before `block`, all 64 bytes from `to` may be written.
std::size_t CompressBlock(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep);

/// Walks a buffer block by block, keeping the masks of the current block, so that finding the
/// next byte of interest costs a few instructions rather than a fresh search.
class BlockCursor {
 public:
  BlockCursor(const std::uint8_t* b, std::size_t n) : b_(b), n_(n) {}

  /// The first position in [i, limit) whose bit is set in the masks' `special` (or, with
  /// `close_only`, `close`), or `limit`. Reads whole blocks up to 64 bytes past `limit`, never
  /// past n. Bytes before i may change between calls; bytes from i on may not.
  std::size_t Next(std::size_t i, std::size_t limit, bool close_only) {
    while (i < limit) {
      const std::size_t base = i & ~std::size_t{63};
      if (base != base_) Load(base);
      const std::uint64_t bits = (close_only ? masks_.close : masks_.special) >> (i - base);
      if (bits != 0) {
        const std::size_t hit = i + static_cast<std::size_t>(__builtin_ctzll(bits));
        return hit < limit ? hit : limit;
      }
      i = base + 64;
    }
    return limit;
  }

 private:
  void Load(std::size_t base);

  const std::uint8_t* const b_;
  const std::size_t n_;
  std::size_t base_ = SIZE_MAX;
  BlockMasks masks_;
};

}  // namespace ruxa

#endif  // RUXA_HTML2RUXA_BLOCK_SCAN_H_

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

/// What the fast path of the batch-mode text pass needs to know of one 64-byte block, one bit
/// per byte: where tags open and close, zero bytes and ampersands, and the bytes that call for
/// a closer look: at least every '<' followed by "br", "/br" or "he", and every '>' after "r",
/// "r/" or "r /" (a kernel may flag more; each flagged byte is then looked at exactly).
struct TagMasks {
  std::uint64_t open = 0;
  std::uint64_t close = 0;
  std::uint64_t zero = 0;
  std::uint64_t amp = 0;
  std::uint64_t unusual = 0;
};

/// The block functions of one vector kernel. A converter fetches them once per page.
struct BlockKernels {
  /// The masks of the 64 bytes at `block`.
  BlockMasks (*scan)(const std::uint8_t* block);
  /// Bit k: a "<bo" starts at block[k]; reads 66 bytes.
  std::uint64_t (*body)(const std::uint8_t* block);
  /// The masks of the 64 bytes at `block`, reading the three bytes before and after it too;
  /// null where no vector kernel makes the fast path worth taking.
  TagMasks (*tags)(const std::uint8_t* block);
  /// Copies the bytes of the 64 at `block` whose bit is set in `keep` to `to`, in order, and
  /// returns their count. `to` lies at or before `block`; all 64 bytes from `to` may be written.
  std::size_t (*compress)(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep);
};

/// The block functions of the active vector kernel.
BlockKernels ActiveBlockKernels();

/// Position of the first "<bo" (a body start tag) that starts in [i, end), or `end`; reads up to
/// two bytes past `end`, which must lie inside the buffer.
std::size_t FindBodyStart(const BlockKernels& kernels, const std::uint8_t* b, std::size_t i,
                          std::size_t end);

/// Walks a buffer block by block, keeping the masks of the current block, so that finding the
/// next byte of interest costs a few instructions rather than a fresh search.
class BlockCursor {
 public:
  BlockCursor(const BlockKernels& kernels, const std::uint8_t* b, std::size_t n)
      : scan_(kernels.scan), b_(b), n_(n) {}

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

  BlockMasks (*const scan_)(const std::uint8_t*);
  const std::uint8_t* const b_;
  const std::size_t n_;
  std::size_t base_ = SIZE_MAX;
  BlockMasks masks_;
};

}  // namespace ruxa

#endif  // RUXA_HTML2RUXA_BLOCK_SCAN_H_

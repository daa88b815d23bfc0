#ifndef RUXA_HTML2RUXA_BLOCK_SCAN_H_
#define RUXA_HTML2RUXA_BLOCK_SCAN_H_

#include <cstddef>
#include <cstdint>

#include "html2Ruxa/html_rules.h"

namespace ruxa {

/// Walks a buffer block by block, keeping the masks of the current block, so that finding the
/// next byte of interest costs a few instructions rather than a fresh search.
class BlockCursor {
 public:
  BlockCursor(BlockMasks (*scan)(const std::uint8_t* block), const std::uint8_t* b, std::size_t n)
      : scan_(scan), b_(b), n_(n) {}

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

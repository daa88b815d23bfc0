// The kernels in plain C++: one byte at a time, on any processor and in either byte order. Slow
// in places, but they take every path the vector kernels take, so those paths are also held
// against the byte-by-byte model with code written plainly.
#include <cstring>

#include "kernels/implementations.h"

namespace ruxa {

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

namespace kernels {

namespace {

BlockMasks Scan(const std::uint8_t* block) { return ScanPartialBlock(block, 64); }

TagMasks Tags(const std::uint8_t* block) {
  TagMasks m;
  for (std::ptrdiff_t k = 0; k < 64; ++k) {
    const std::uint8_t c = block[k];
    const std::uint64_t bit = std::uint64_t{1} << k;
    const std::uint8_t n1 = block[k + 1], n2 = block[k + 2], n3 = block[k + 3];
    const std::uint8_t b1 = block[k - 1], b2 = block[k - 2], b3 = block[k - 3];
    if (c == '<') {
      m.open |= bit;
      if ((n1 == 'b' && n2 == 'r') || (n1 == '/' && n2 == 'b' && n3 == 'r') ||
          (n1 == 'h' && n2 == 'e')) {
        m.unusual |= bit;
      }
    }
    if (c == '>') {
      m.close |= bit;
      if (b1 == 'r' || (b1 == '/' && (b2 == 'r' || (b2 == ' ' && b3 == 'r')))) m.unusual |= bit;
    }
    if (c == 0) m.zero |= bit;
    if (c == '&') m.amp |= bit;
  }
  return m;
}

// Few bytes are chosen: the block is copied aside and they are written over it there.
void Blend(std::uint8_t* to, const std::uint8_t* block, const std::uint8_t* bytes,
           std::uint64_t mask) {
  std::uint8_t out[64];
  std::memcpy(out, block, 64);
  for (; mask != 0; mask &= mask - 1) {
    const int k = __builtin_ctzll(mask);
    out[k] = bytes[k];
  }
  std::memcpy(to, out, 64);
}

}  // namespace

// A run of kept bytes at a time, by copies of fixed length: 32 bytes, then 16 at a time for a
// longer run. The block is copied aside first and the kept bytes are gathered aside too, so that
// a copy may run past its run's end at both ends without touching a byte of the block not yet
// read; the 64 bytes gathered then go to `to`.
std::size_t CompressPortable(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) {
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

std::size_t FindBodyPortable(const std::uint8_t* b, std::size_t i, std::size_t end) {
  for (; i < end; ++i) {
    if (b[i] == '<' && b[i + 1] == 'b' && b[i + 2] == 'o') return i;
  }
  return end;
}

std::size_t FindMarkupPortable(const std::uint8_t* b, std::size_t i, std::size_t n) {
  while (i < n && b[i] != '<' && b[i] != '>' && b[i] != '&' && b[i] != 0) ++i;
  return i;
}

std::size_t FindEitherPortable(const std::uint8_t* b, std::size_t i, std::size_t n, std::uint8_t x,
                               std::uint8_t y) {
  while (i < n && b[i] != x && b[i] != y) ++i;
  return i;
}

std::size_t SkipZerosPortable(const std::uint8_t* b, std::size_t i, std::size_t n) {
  while (i < n && b[i] == 0) ++i;
  return i;
}

// Branch-free: every byte is stored, only non-zero ones advance the cursor.
std::size_t CompactNonZeroPortable(std::uint8_t* to, const std::uint8_t* from, std::size_t size) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t byte = from[i];
    to[kept] = byte;
    kept += byte != 0;
  }
  return kept;
}

const Kernels kPortable = {
    .kind = VectorKernel::Portable,
    .scan = Scan,
    .find_body = FindBodyPortable,
    .tags = Tags,
    .blend = Blend,
    .compress = CompressPortable,
    .find_markup = FindMarkupPortable,
    .find_either = FindEitherPortable,
    .skip_zeros = SkipZerosPortable,
    .compact_nonzero = CompactNonZeroPortable,
};

}  // namespace kernels
}  // namespace ruxa

// The kernels with NEON (Advanced SIMD), part of every AArch64 processor: 16 bytes per
// instruction, four registers to a 64-byte block. NEON has no byte mask instruction; a block's
// mask is gathered by weighting each byte with its bit and adding neighbours pairwise, which
// puts bit k at byte k's place on a little-endian AArch64, the only kind this file builds for.
#include "kernels/implementations.h"

#if defined(RUXA_NEON)
#include <arm_neon.h>

#include "kernels/gather_table.h"

namespace ruxa::kernels {

namespace {

inline uint8x16_t Load(const std::uint8_t* p) { return vld1q_u8(p); }
inline uint8x16_t Eq(uint8x16_t v, std::uint8_t c) { return vceqq_u8(v, vdupq_n_u8(c)); }

// Bit k of the result: byte k % 16 of part k / 16 is 0xFF (each byte of a compare is 0 or 0xFF).
inline std::uint64_t Mask(uint8x16_t p0, uint8x16_t p1, uint8x16_t p2, uint8x16_t p3) {
  static const uint8_t kWeights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t weights = vld1q_u8(kWeights);
  uint8x16_t sum = vpaddq_u8(vpaddq_u8(vandq_u8(p0, weights), vandq_u8(p1, weights)),
                             vpaddq_u8(vandq_u8(p2, weights), vandq_u8(p3, weights)));
  sum = vpaddq_u8(sum, sum);
  return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
}

// Four bits per byte of a compare, for finding the first byte of one register: the position is
// the count of trailing zeros divided by four.
inline std::uint64_t Nibbles(uint8x16_t m) {
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(m), 4)), 0);
}

struct Block {
  uint8x16_t part[4];
  explicit Block(const std::uint8_t* p) : part{Load(p), Load(p + 16), Load(p + 32), Load(p + 48)} {}
};

template <class F>
inline std::uint64_t MaskOf(const Block& b, F f) {
  return Mask(f(b.part[0]), f(b.part[1]), f(b.part[2]), f(b.part[3]));
}

BlockMasks Scan(const std::uint8_t* block) {
  const Block b(block);
  BlockMasks m;
  m.close = MaskOf(b, [](uint8x16_t v) { return Eq(v, '>'); });
  m.special = MaskOf(b, [](uint8x16_t v) {
    return vorrq_u8(vorrq_u8(Eq(v, '<'), Eq(v, '>')), vorrq_u8(Eq(v, '&'), Eq(v, 0)));
  });
  return m;
}

std::size_t FindBody(const std::uint8_t* b, std::size_t i, std::size_t end) {
  for (; i + 64 <= end; i += 64) {
    uint8x16_t hit[4];
    for (int part = 0; part < 4; ++part) {
      const std::uint8_t* p = b + i + 16 * part;
      hit[part] = vandq_u8(Eq(Load(p), '<'), vandq_u8(Eq(Load(p + 1), 'b'), Eq(Load(p + 2), 'o')));
    }
    const std::uint64_t m = Mask(hit[0], hit[1], hit[2], hit[3]);
    if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
  }
  return FindBodyPortable(b, i, end);
}

// As with AVX2: the bytes around the '<' and '>' only in blocks that hold any.
TagMasks Tags(const std::uint8_t* block) {
  const Block v(block);
  TagMasks m;
  m.open = MaskOf(v, [](uint8x16_t x) { return Eq(x, '<'); });
  m.close = MaskOf(v, [](uint8x16_t x) { return Eq(x, '>'); });
  m.zero = MaskOf(v, [](uint8x16_t x) { return Eq(x, 0); });
  m.amp = MaskOf(v, [](uint8x16_t x) { return Eq(x, '&'); });
  if ((m.open | m.close) == 0) return m;
  uint8x16_t unusual[4];
  for (int part = 0; part < 4; ++part) {
    const std::uint8_t* p = block + 16 * part;
    const uint8x16_t n1 = Load(p + 1), n2 = Load(p + 2), n3 = Load(p + 3);
    const uint8x16_t b1 = Load(p - 1), b2 = Load(p - 2), b3 = Load(p - 3);
    const uint8x16_t follows =
        vorrq_u8(vorrq_u8(vandq_u8(Eq(n1, 'b'), Eq(n2, 'r')),
                          vandq_u8(Eq(n1, '/'), vandq_u8(Eq(n2, 'b'), Eq(n3, 'r')))),
                 vandq_u8(Eq(n1, 'h'), Eq(n2, 'e')));
    const uint8x16_t after_r =
        vorrq_u8(Eq(b1, 'r'),
                 vandq_u8(Eq(b1, '/'), vorrq_u8(Eq(b2, 'r'), vandq_u8(Eq(b2, ' '), Eq(b3, 'r')))));
    unusual[part] = vorrq_u8(vandq_u8(Eq(v.part[part], '<'), follows),
                             vandq_u8(Eq(v.part[part], '>'), after_r));
  }
  m.unusual = Mask(unusual[0], unusual[1], unusual[2], unusual[3]);
  return m;
}

// Each quarter's 16 mask bits spread to its bytes, each byte testing its own bit.
void Blend(std::uint8_t* to, const std::uint8_t* block, const std::uint8_t* bytes,
           std::uint64_t mask) {
  static const uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t bit = vld1q_u8(kBits);
  for (int part = 0; part < 4; ++part) {
    const auto quarter = static_cast<std::uint16_t>(mask >> (16 * part));
    const uint8x16_t spread = vcombine_u8(vdup_n_u8(static_cast<std::uint8_t>(quarter)),
                                          vdup_n_u8(static_cast<std::uint8_t>(quarter >> 8)));
    vst1q_u8(to + 16 * part,
             vbslq_u8(vtstq_u8(spread, bit), Load(bytes + 16 * part), Load(block + 16 * part)));
  }
}

// Eight bytes at a time through the table of shuffles. Each group of eight is loaded before its
// eight-byte store, which never reaches the next group, since to <= from and kept <= 8 * group.
inline std::size_t CompressGroups(std::uint8_t* to, const std::uint8_t* from, std::uint64_t keep,
                                  int groups) {
  std::size_t kept = 0;
  for (int group = 0; group < groups; ++group) {
    const unsigned mask = static_cast<unsigned>(keep >> (8 * group)) & 0xFF;
    vst1_u8(to + kept, vtbl1_u8(vld1_u8(from + 8 * group), vld1_u8(kGather.shuffle[mask])));
    kept += static_cast<std::size_t>(__builtin_popcount(mask));
  }
  return kept;
}

std::size_t Compress(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) {
  if (keep == ~std::uint64_t{0}) {  // plain text: the whole block loaded before it is stored
    const Block b(block);
    for (int part = 0; part < 4; ++part) vst1q_u8(to + 16 * part, b.part[part]);
    return 64;
  }
  return CompressGroups(to, block, keep, 8);
}

// 64 bytes a step: plain text runs long.
std::size_t FindMarkup(const std::uint8_t* b, std::size_t i, std::size_t n) {
  for (; i + 64 <= n; i += 64) {
    const std::uint64_t mask = MaskOf(Block(b + i), [](uint8x16_t v) {
      return vorrq_u8(vorrq_u8(Eq(v, '<'), Eq(v, '>')), vorrq_u8(Eq(v, '&'), Eq(v, 0)));
    });
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctzll(mask));
  }
  return FindMarkupPortable(b, i, n);
}

std::size_t FindEither(const std::uint8_t* b, std::size_t i, std::size_t n, std::uint8_t x,
                       std::uint8_t y) {
  for (; i + 16 <= n; i += 16) {
    const uint8x16_t v = Load(b + i);
    const std::uint64_t hits = Nibbles(vorrq_u8(Eq(v, x), Eq(v, y)));
    if (hits != 0) return i + static_cast<std::size_t>(__builtin_ctzll(hits)) / 4;
  }
  return FindEitherPortable(b, i, n, x, y);
}

std::size_t SkipZeros(const std::uint8_t* b, std::size_t i, std::size_t n) {
  for (; i + 16 <= n; i += 16) {
    const std::uint64_t nonzero = Nibbles(vtstq_u8(Load(b + i), Load(b + i)));
    if (nonzero != 0) return i + static_cast<std::size_t>(__builtin_ctzll(nonzero)) / 4;
  }
  return SkipZerosPortable(b, i, n);
}

// Fast paths for blocks without zeros, all zeros, and 16-bit text (every odd byte zero); the
// rest go through the shuffle table. Each block is loaded before anything is stored, and no
// store reaches past to + i + 16 <= to + size.
std::size_t CompactNonZero(std::uint8_t* to, const std::uint8_t* from, std::size_t size) {
  static const uint8_t kOddBytes[16] = {0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF,
                                        0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF};
  const uint8x16_t odd = vld1q_u8(kOddBytes);
  std::size_t kept = 0, i = 0;
  for (; i + 16 <= size; i += 16) {
    const uint8x16_t v = Load(from + i);
    const uint8x16_t zeros = Eq(v, 0);
    if (vmaxvq_u8(zeros) == 0) {
      vst1q_u8(to + kept, v);
      kept += 16;
    } else if (vminvq_u8(vceqq_u8(zeros, odd)) == 0xFF) {
      vst1_u8(to + kept, vmovn_u16(vreinterpretq_u16_u8(v)));  // the low byte of each word
      kept += 8;
    } else if (vminvq_u8(zeros) == 0) {
      const uint8x16_t none = vdupq_n_u8(0);
      kept += CompressGroups(to + kept, from + i, Mask(vmvnq_u8(zeros), none, none, none), 2);
    }
  }
  return kept + CompactNonZeroPortable(to + kept, from + i, size - i);
}

}  // namespace

const Kernels kNeon = {
    .kind = VectorKernel::Neon,
    .scan = Scan,
    .find_body = FindBody,
    .tags = Tags,
    .blend = Blend,
    .compress = Compress,
    .find_markup = FindMarkup,
    .find_either = FindEither,
    .skip_zeros = SkipZeros,
    .compact_nonzero = CompactNonZero,
};

}  // namespace ruxa::kernels

#endif  // RUXA_NEON

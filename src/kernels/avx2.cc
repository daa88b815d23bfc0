// The kernels with AVX2: 32 bytes per instruction. Each mask is worked out in vector registers
// and moved out once per 32 bytes.
#include "kernels/avx2_blocks.h"

#if defined(RUXA_X86)

namespace ruxa::kernels {

namespace avx2 {
namespace {

RUXA_AVX2 BlockMasks Scan(const std::uint8_t* block) {
  BlockMasks m;
  for (int part = 0; part < 2; ++part) {
    const __m256i v = Load(block + 32 * part);
    const __m256i close = Eq(v, '>');
    m.special |= Bits(Or(Or(close, Eq(v, '<')), Or(Eq(v, '&'), Eq(v, 0))), part);
    m.close |= Bits(close, part);
  }
  return m;
}

RUXA_AVX2 std::size_t FindBody(const std::uint8_t* b, std::size_t i, std::size_t end) {
  for (; i + 64 <= end; i += 64) {
    std::uint64_t m = 0;
    for (int part = 0; part < 2; ++part) {
      const std::uint8_t* p = b + i + 32 * part;
      m |= Bits(And(Eq(Load(p), '<'), And(Eq(Load(p + 1), 'b'), Eq(Load(p + 2), 'o'))), part);
    }
    if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
  }
  return FindBodyPortable(b, i, end);
}

RUXA_AVX2 std::size_t FindEither(const std::uint8_t* b, std::size_t i, std::size_t n,
                                 std::uint8_t x, std::uint8_t y) {
  for (; i + 32 <= n; i += 32) {
    const __m256i v = Load(b + i);
    const std::uint64_t mask =
        Bits(Or(Eq(v, static_cast<char>(x)), Eq(v, static_cast<char>(y))), 0);
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctzll(mask));
  }
  return FindEitherPortable(b, i, n, x, y);
}

RUXA_AVX2 std::size_t SkipZeros(const std::uint8_t* b, std::size_t i, std::size_t n) {
  for (; i + 32 <= n; i += 32) {
    const std::uint64_t mask = Bits(Eq(Load(b + i), 0), 0) ^ 0xFFFFFFFFu;
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctzll(mask));
  }
  return SkipZerosPortable(b, i, n);
}

}  // namespace

// Most blocks of a page are plain text: their masks are found first, and the bytes around the
// '<' and '>' are looked at only in blocks that hold any.
RUXA_AVX2 TagMasks Tags(const std::uint8_t* block) {
  TagMasks m;
  __m256i open[2], close[2];
  for (int part = 0; part < 2; ++part) {
    const __m256i v = Load(block + 32 * part);
    open[part] = Eq(v, '<');
    close[part] = Eq(v, '>');
    m.open |= Bits(open[part], part);
    m.close |= Bits(close[part], part);
    m.zero |= Bits(Eq(v, 0), part);
    m.amp |= Bits(Eq(v, '&'), part);
  }
  if ((m.open | m.close) == 0) return m;
  for (int part = 0; part < 2; ++part) {
    const std::uint8_t* p = block + 32 * part;
    const __m256i n1 = Load(p + 1), n2 = Load(p + 2), n3 = Load(p + 3);
    const __m256i b1 = Load(p - 1), b2 = Load(p - 2), b3 = Load(p - 3);
    const __m256i follows =
        Or(Or(And(Eq(n1, 'b'), Eq(n2, 'r')), And(Eq(n1, '/'), And(Eq(n2, 'b'), Eq(n3, 'r')))),
           And(Eq(n1, 'h'), Eq(n2, 'e')));
    const __m256i after_r =
        Or(Eq(b1, 'r'), And(Eq(b1, '/'), Or(Eq(b2, 'r'), And(Eq(b2, ' '), Eq(b3, 'r')))));
    m.unusual |= Bits(Or(And(open[part], follows), And(close[part], after_r)), part);
  }
  return m;
}

}  // namespace avx2

using avx2::Bits, avx2::CompressGroups, avx2::Eq, avx2::Load;

// As the 16-byte form, 32 bytes at a time: blocks without zeros, of 16-bit text, or of zeros
// alone take one step; the rest go through the shuffle table.
RUXA_AVX2 std::size_t CompactNonZeroAvx2(std::uint8_t* to, const std::uint8_t* from,
                                         std::size_t size) {
  std::size_t kept = 0, i = 0;
  for (; i + 32 <= size; i += 32) {
    const __m256i v = Load(from + i);
    const std::uint32_t zeros = static_cast<std::uint32_t>(_mm256_movemask_epi8(Eq(v, 0)));
    if (zeros == 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + kept), v);
      kept += 32;
    } else if (zeros == 0xAAAAAAAAu) {
      // Each lane packs its eight words into its low eight bytes; the two halves then meet.
      const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + kept), _mm256_castsi256_si128(packed));
      kept += 16;
    } else if (zeros != 0xFFFFFFFFu) {
      kept += CompressGroups(to + kept, from + i, ~std::uint64_t{zeros}, 4);
    }
  }
  return kept + CompactNonZeroPortable(to + kept, from + i, size - i);
}

RUXA_AVX2 std::size_t CompressAvx2(std::uint8_t* to, const std::uint8_t* block,
                                   std::uint64_t keep) {
  return avx2::Compress(to, block, keep);
}

const Kernels kAvx2 = {
    .kind = VectorKernel::Avx2,
    .scan = avx2::Scan,
    .find_body = avx2::FindBody,
    .tags = avx2::Tags,
    .blend = avx2::Blend,
    .compress = CompressAvx2,
    .find_markup = avx2::FindMarkup,
    .find_either = avx2::FindEither,
    .skip_zeros = avx2::SkipZeros,
    .compact_nonzero = CompactNonZeroAvx2,
};

}  // namespace ruxa::kernels

#endif  // RUXA_X86

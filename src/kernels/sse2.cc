// The kernels with SSE2: 16 bytes per instruction, on every x86-64 processor. SSE2 has no byte
// shuffle, so bytes are compressed a run at a time, as in plain C++.
#include "kernels/sse2_blocks.h"

#if defined(RUXA_X86)

namespace ruxa::kernels {

namespace sse2 {
namespace {

RUXA_SSE2 BlockMasks Scan(const std::uint8_t* block) {
  BlockMasks m;
  for (int part = 0; part < 4; ++part) {
    const __m128i v = Load(block + 16 * part);
    const __m128i close = Eq(v, '>');
    m.special |= Bits(
        _mm_or_si128(_mm_or_si128(close, Eq(v, '<')), _mm_or_si128(Eq(v, '&'), Eq(v, 0))), part);
    m.close |= Bits(close, part);
  }
  return m;
}

RUXA_SSE2 std::size_t FindBody(const std::uint8_t* b, std::size_t i, std::size_t end) {
  for (; i + 64 <= end; i += 64) {
    std::uint64_t m = 0;
    for (int part = 0; part < 4; ++part) {
      const std::uint8_t* p = b + i + 16 * part;
      m |= Bits(_mm_and_si128(Eq(Load(p), '<'),
                              _mm_and_si128(Eq(Load(p + 1), 'b'), Eq(Load(p + 2), 'o'))),
                part);
    }
    if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
  }
  return FindBodyPortable(b, i, end);
}

RUXA_SSE2 std::size_t FindEither(const std::uint8_t* b, std::size_t i, std::size_t n,
                                 std::uint8_t x, std::uint8_t y) {
  for (; i + 16 <= n; i += 16) {
    const __m128i v = Load(b + i);
    const int mask =
        _mm_movemask_epi8(_mm_or_si128(Eq(v, static_cast<char>(x)), Eq(v, static_cast<char>(y))));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
  return FindEitherPortable(b, i, n, x, y);
}

RUXA_SSE2 std::size_t SkipZeros(const std::uint8_t* b, std::size_t i, std::size_t n) {
  for (; i + 16 <= n; i += 16) {
    const int mask = _mm_movemask_epi8(Eq(Load(b + i), 0)) ^ 0xFFFF;
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
  return SkipZerosPortable(b, i, n);
}

// Fast paths for blocks without zeros, all zeros, and 16-bit text (every odd byte zero), which
// is what documents are mostly made of. Each block is loaded before anything is stored, and no
// store reaches past to + i + 16 <= to + size, since kept <= i: in place, a store never touches
// a byte not yet loaded.
RUXA_SSE2 std::size_t CompactNonZero(std::uint8_t* to, const std::uint8_t* from, std::size_t size) {
  std::size_t kept = 0, i = 0;
  for (; i + 16 <= size; i += 16) {
    const __m128i v = Load(from + i);
    const int zeros = _mm_movemask_epi8(Eq(v, 0));
    if (zeros == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + kept), v);
      kept += 16;
    } else if (zeros == 0xAAAA) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to + kept), _mm_packus_epi16(v, v));
      kept += 8;
    } else if (zeros != 0xFFFF) {
      kept += CompactNonZeroPortable(to + kept, from + i, 16);
    }
  }
  return kept + CompactNonZeroPortable(to + kept, from + i, size - i);
}

}  // namespace

// As with AVX2: the bytes around the '<' and '>' only in blocks that hold any.
RUXA_SSE2 TagMasks Tags(const std::uint8_t* block) {
  TagMasks m;
  __m128i open[4], close[4];
  for (int part = 0; part < 4; ++part) {
    const __m128i v = Load(block + 16 * part);
    open[part] = Eq(v, '<');
    close[part] = Eq(v, '>');
    m.open |= Bits(open[part], part);
    m.close |= Bits(close[part], part);
    m.zero |= Bits(Eq(v, 0), part);
    m.amp |= Bits(Eq(v, '&'), part);
  }
  if ((m.open | m.close) == 0) return m;
  for (int part = 0; part < 4; ++part) {
    const std::uint8_t* p = block + 16 * part;
    const __m128i n1 = Load(p + 1), n2 = Load(p + 2), n3 = Load(p + 3);
    const __m128i b1 = Load(p - 1), b2 = Load(p - 2), b3 = Load(p - 3);
    const __m128i follows = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(Eq(n1, 'b'), Eq(n2, 'r')),
                     _mm_and_si128(Eq(n1, '/'), _mm_and_si128(Eq(n2, 'b'), Eq(n3, 'r')))),
        _mm_and_si128(Eq(n1, 'h'), Eq(n2, 'e')));
    const __m128i after_r = _mm_or_si128(
        Eq(b1, 'r'),
        _mm_and_si128(Eq(b1, '/'),
                      _mm_or_si128(Eq(b2, 'r'), _mm_and_si128(Eq(b2, ' '), Eq(b3, 'r')))));
    m.unusual |=
        Bits(_mm_or_si128(_mm_and_si128(open[part], follows), _mm_and_si128(close[part], after_r)),
             part);
  }
  return m;
}

}  // namespace sse2

const Kernels kSse2 = {
    .kind = VectorKernel::Sse2,
    .scan = sse2::Scan,
    .find_body = sse2::FindBody,
    .tags = sse2::Tags,
    .blend = sse2::Blend,
    .compress = CompressPortable,
    .find_markup = sse2::FindMarkup,
    .find_either = sse2::FindEither,
    .skip_zeros = sse2::SkipZeros,
    .compact_nonzero = sse2::CompactNonZero,
};

}  // namespace ruxa::kernels

#endif  // RUXA_X86

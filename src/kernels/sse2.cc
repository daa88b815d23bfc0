// The kernels with SSE2: 16 bytes per instruction, on every x86-64 processor. SSE2 has no byte
// shuffle, so bytes are compressed a run at a time, as in plain C++.
#include "kernels/implementations.h"

#if defined(RUXA_X86)
#include <immintrin.h>

#define RUXA_SSE2 __attribute__((target("sse2")))

namespace ruxa::kernels {

namespace {

RUXA_SSE2 inline __m128i Load(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
RUXA_SSE2 inline __m128i Eq(__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }
// The 16 bits of a byte mask, shifted to their place among 64.
RUXA_SSE2 inline std::uint64_t Bits(__m128i m, int part) {
  return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(m))} << (16 * part);
}

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

// 64 bytes a step: plain text runs long.
RUXA_SSE2 std::size_t FindMarkup(const std::uint8_t* b, std::size_t i, std::size_t n) {
  for (; i + 64 <= n; i += 64) {
    std::uint64_t mask = 0;
    for (int part = 0; part < 4; ++part) {
      const __m128i v = Load(b + i + 16 * part);
      mask |= Bits(
          _mm_or_si128(_mm_or_si128(Eq(v, '<'), Eq(v, '>')), _mm_or_si128(Eq(v, '&'), Eq(v, 0))),
          part);
    }
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctzll(mask));
  }
  return FindMarkupPortable(b, i, n);
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

// Each quarter's 16 mask bits spread to its bytes (bytes 0 to 7 take the low mask byte, 8 to
// 15 the high one, each keeping its own bit) and the bytes chosen by and-not.
RUXA_SSE2 void Put(std::uint8_t* block, const std::uint8_t* bytes, std::uint64_t mask) {
  const __m128i bit = _mm_set1_epi64x(static_cast<long long>(0x8040201008040201u));
  for (int part = 0; part < 4; ++part) {
    const auto quarter = static_cast<std::uint16_t>(mask >> (16 * part));
    __m128i spread = _mm_set1_epi16(static_cast<short>(quarter));  // lo hi lo hi ...
    spread = _mm_unpacklo_epi8(spread, spread);                    // lo lo hi hi ...
    spread = _mm_unpacklo_epi16(spread, spread);                   // lo x4, hi x4, ...
    spread = _mm_unpacklo_epi32(spread, spread);                   // lo x8, hi x8
    const __m128i chosen = _mm_cmpeq_epi8(_mm_and_si128(spread, bit), bit);
    std::uint8_t* const at = block + 16 * part;
    const __m128i kept = _mm_andnot_si128(chosen, Load(at));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                     _mm_or_si128(kept, _mm_and_si128(chosen, Load(bytes + 16 * part))));
  }
}

}  // namespace

const Kernels kSse2 = {
    .kind = VectorKernel::Sse2,
    .scan = Scan,
    .find_body = FindBody,
    .tags = Tags,
    .put = Put,
    .compress = CompressPortable,
    .find_markup = FindMarkup,
    .find_either = FindEither,
    .skip_zeros = SkipZeros,
    .compact_nonzero = CompactNonZero,
};

}  // namespace ruxa::kernels

#endif  // RUXA_X86

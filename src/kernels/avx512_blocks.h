#ifndef RUXA_KERNELS_AVX512_BLOCKS_H_
#define RUXA_KERNELS_AVX512_BLOCKS_H_

// AVX-512's kernels for the HTML fast path's 64-byte blocks, inline, so that the block walk
// compiled for AVX-512 takes them in rather than calling them per block. avx512.cc fills its
// tables from them as well.
#include "kernels/implementations.h"

#if defined(RUXA_X86)
#include <immintrin.h>

#define RUXA_AVX512 __attribute__((target("avx512f,avx512bw,bmi,popcnt")))

namespace ruxa::kernels::avx512 {

RUXA_AVX512 inline __m512i Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
RUXA_AVX512 inline std::uint64_t Eq(__m512i v, char c) {
  return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(c));
}

// Flags '<' before "/b" without looking for the 'r': the exact test settles it.
RUXA_AVX512 inline TagMasks Tags(const std::uint8_t* block) {
  const __m512i v = Load(block), next1 = Load(block + 1), next2 = Load(block + 2);
  const __m512i before = Load(block - 1);
  TagMasks m;
  m.open = Eq(v, '<');
  m.close = Eq(v, '>');
  m.zero = Eq(v, 0);
  m.amp = Eq(v, '&');
  const std::uint64_t follows = (Eq(next1, 'b') & Eq(next2, 'r')) |
                                (Eq(next1, '/') & Eq(next2, 'b')) |
                                (Eq(next1, 'h') & Eq(next2, 'e'));
  m.unusual = (m.open & follows) | (m.close & (Eq(before, 'r') | Eq(before, '/')));
  return m;
}

RUXA_AVX512 inline void Blend(std::uint8_t* to, const std::uint8_t* block,
                              const std::uint8_t* bytes, std::uint64_t mask) {
  _mm512_storeu_si512(to, _mm512_mask_blend_epi8(mask, Load(block), Load(bytes)));
}

RUXA_AVX512 inline std::size_t FindMarkup(const std::uint8_t* b, std::size_t i, std::size_t n) {
  for (; i + 64 <= n; i += 64) {
    const __m512i v = Load(b + i);
    const std::uint64_t mask = Eq(v, '<') | Eq(v, '>') | Eq(v, '&') | Eq(v, 0);
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctzll(mask));
  }
  return FindMarkupPortable(b, i, n);
}

// 16 bytes, in each quarter of a vector: a table for byte shuffles. (The form with a mask, as
// GCC 12's unmasked one warns of an uninitialized value inside its header.)
RUXA_AVX512 inline __m512i Row(const std::uint8_t* bytes) {
  const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  return _mm512_maskz_broadcast_i32x4(0xFFFF, row);
}

// Every candidate is compared with the pattern its slot holds, all 64 at once: the slot of each
// byte is a 16-entry lookup, and so is each byte of its pattern. A candidate matches when its
// bytes agree with the pattern's up to the pattern's `end`.
RUXA_AVX512 inline PatternMatches MatchPatterns(const std::uint8_t* block, std::uint64_t candidates,
                                                const PatternTable& t, std::uint8_t* put) {
  const __m512i low = _mm512_set1_epi8(15), end = _mm512_set1_epi8(static_cast<char>(t.end));
  const __m512i v7 = Load(block + 7);
  const __m512i slot = _mm512_xor_si512(
      _mm512_shuffle_epi8(Row(t.first), _mm512_and_si512(Load(block + 1), low)),
      _mm512_and_si512(Load(block + 2), low));
  std::uint64_t match = candidates;
  __m512i want = _mm512_setzero_si512();
  for (int j = 1; j < 8; ++j) {
    const __m512i before = want;  // byte j - 1 of the pattern
    want = _mm512_shuffle_epi8(Row(t.bytes[j]), slot);
    std::uint64_t agree = _mm512_cmpeq_epi8_mask(j == 7 ? v7 : Load(block + j), want);
    if (j >= 4) agree |= _mm512_cmpeq_epi8_mask(before, end);  // past the pattern's end
    match &= agree;
  }
  _mm512_mask_storeu_epi8(put, candidates, _mm512_shuffle_epi8(Row(t.put), slot));
  // The `end` bytes of the block, and of the seven after it (the last seven from byte 7).
  return MatchesUpToEnd(match, _mm512_cmpeq_epi8_mask(Load(block), end),
                        _mm512_cmpeq_epi8_mask(v7, end) >> 57);
}

// As AVX2's, all 64 bytes at once; the escape is stored at the candidates only.
RUXA_AVX512 inline BreakMatches MatchBreaks(const std::uint8_t* block, std::uint64_t candidates,
                                            std::uint64_t closes, const char* escape,
                                            std::uint8_t* put) {
  const __m512i n1 = Load(block + 1), n2 = Load(block + 2), n3 = Load(block + 3);
  const __m512i n4 = Load(block + 4), n5 = Load(block + 5);
  const std::uint64_t end4 = Eq(n4, '>'), end5 = Eq(n5, '>');
  const std::uint64_t br_end =
      Eq(n3, '>') | (Eq(n3, '/') & end4) | (Eq(n3, ' ') & Eq(n4, '/') & end5);
  const std::uint64_t tags = (Eq(n1, 'b') & Eq(n2, 'r') & br_end) |
                             (Eq(n1, '/') & Eq(n2, 'b') & Eq(n3, 'r') & end4);
  _mm512_mask_storeu_epi8(put, candidates, _mm512_set1_epi8(escape[0]));
  _mm512_mask_storeu_epi8(put + 1, candidates, _mm512_set1_epi8(escape[1]));
  // The '>' bytes of the five after the block: the last five from byte 5.
  return {MatchesUpToEnd(tags & candidates, closes, end5 >> 59),
          Eq(n1, 'h') & Eq(n2, 'e') & candidates};
}

/// The block kernels for the walk (see block_walk.h). Compression goes through the table: in
/// one instruction where the processor has VBMI2, else by AVX2's shuffle table.
struct Blocks {
  static constexpr int kMatchFrom = 1;
  const Kernels& table;
  static TagMasks Tags(const std::uint8_t* block) { return avx512::Tags(block); }
  static std::size_t FindMarkup(const std::uint8_t* b, std::size_t i, std::size_t n) {
    return avx512::FindMarkup(b, i, n);
  }
  std::size_t Compress(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) const {
    return table.compress(to, block, keep);
  }
  static void Blend(std::uint8_t* to, const std::uint8_t* block, const std::uint8_t* bytes,
                    std::uint64_t mask) {
    avx512::Blend(to, block, bytes, mask);
  }
  static PatternMatches MatchPatterns(const std::uint8_t* block, std::uint64_t candidates,
                                      const PatternTable& table, std::uint8_t* put) {
    return avx512::MatchPatterns(block, candidates, table, put);
  }
  static constexpr bool kMatchBreaks = true;
  static BreakMatches MatchBreaks(const std::uint8_t* block, std::uint64_t candidates,
                                  std::uint64_t closes, const char* escape, std::uint8_t* put) {
    return avx512::MatchBreaks(block, candidates, closes, escape, put);
  }
};

/// Calls `body(Blocks{table})` compiled for AVX-512 (with BMI1 and BMI2, which every AVX-512
/// processor has) with everything it calls inlined into it, the block kernels among them.
template <class Body>
__attribute__((target("avx512f,avx512bw,bmi,bmi2,popcnt"), flatten)) void Run(
    const Body& body, const Kernels& table) {
  body(Blocks{table});
}

}  // namespace ruxa::kernels::avx512

#endif  // RUXA_X86

#endif  // RUXA_KERNELS_AVX512_BLOCKS_H_

#ifndef RUXA_KERNELS_AVX2_BLOCKS_H_
#define RUXA_KERNELS_AVX2_BLOCKS_H_

// AVX2's kernels for the HTML fast path's 64-byte blocks, inline, so that the block walk
// compiled for AVX2 takes them in rather than calling them per block. avx2.cc fills its table
// from them as well.
#include "kernels/gather_table.h"
#include "kernels/implementations.h"

#if defined(RUXA_X86)
#include <immintrin.h>

#define RUXA_AVX2 __attribute__((target("avx2,bmi,popcnt")))

namespace ruxa::kernels::avx2 {

RUXA_AVX2 inline __m256i Load(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
RUXA_AVX2 inline __m256i Eq(__m256i v, char c) { return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(c)); }
RUXA_AVX2 inline __m256i And(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
RUXA_AVX2 inline __m256i Or(__m256i a, __m256i b) { return _mm256_or_si256(a, b); }
// The 32 bits of a byte mask, shifted to their place among 64.
RUXA_AVX2 inline std::uint64_t Bits(__m256i m, int part) {
  return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(m))} << (32 * part);
}

// Called rather than inlined: inlined into the walk, it made the walk slower.
TagMasks Tags(const std::uint8_t* block);

// Each half's 32 mask bits spread to its bytes: byte i takes mask byte i / 8, keeps bit i % 8,
// and becomes 0xFF if that bit is set.
RUXA_AVX2 inline void Blend(std::uint8_t* to, const std::uint8_t* block, const std::uint8_t* bytes,
                            std::uint64_t mask) {
  const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1,  //
                                          2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
  const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201u));
  for (int part = 0; part < 2; ++part) {
    const auto half = static_cast<std::uint32_t>(mask >> (32 * part));
    const __m256i chosen = _mm256_cmpeq_epi8(
        And(_mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(half)), spread), bit), bit);
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(to + 32 * part),
        _mm256_blendv_epi8(Load(block + 32 * part), Load(bytes + 32 * part), chosen));
  }
}

// Eight bytes at a time through the table of shuffles. Each group of eight is loaded before its
// eight-byte store, which never reaches the next group, since to <= from and kept <= 8 * group
// (or the two do not overlap).
RUXA_AVX2 inline std::size_t CompressGroups(std::uint8_t* to, const std::uint8_t* from,
                                            std::uint64_t keep, int groups) {
  std::size_t kept = 0;
  for (int group = 0; group < groups; ++group) {
    const unsigned mask = static_cast<unsigned>(keep >> (8 * group)) & 0xFF;
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + 8 * group));
    const __m128i shuffle =
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGather.shuffle[mask]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + kept), _mm_shuffle_epi8(bytes, shuffle));
    kept += static_cast<std::size_t>(__builtin_popcount(mask));
  }
  return kept;
}

RUXA_AVX2 inline __m256i Markup(__m256i v) {
  return Or(Or(Eq(v, '<'), Eq(v, '>')), Or(Eq(v, '&'), Eq(v, 0)));
}
// 64 bytes a step: plain text runs long.
RUXA_AVX2 inline std::size_t FindMarkup(const std::uint8_t* b, std::size_t i, std::size_t n) {
  for (; i + 64 <= n; i += 64) {
    const std::uint64_t mask = Bits(Markup(Load(b + i)), 0) | Bits(Markup(Load(b + i + 32)), 1);
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctzll(mask));
  }
  return FindMarkupPortable(b, i, n);
}

RUXA_AVX2 inline std::size_t Compress(std::uint8_t* to, const std::uint8_t* block,
                                      std::uint64_t keep) {
  if (keep == ~std::uint64_t{0}) {  // plain text: both halves loaded before either is stored
    const __m256i low = Load(block), high = Load(block + 32);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), low);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 32), high);
    return 64;
  }
  return CompressGroups(to, block, keep, 8);
}

// 16 bytes, in each half of a vector: a table for byte shuffles.
RUXA_AVX2 inline __m256i Row(const std::uint8_t* bytes) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}

// As AVX-512's, 32 candidates at a time. What a match becomes is blended into `put` at every
// `start` byte of the block, candidate or not.
RUXA_AVX2 inline PatternMatches MatchPatterns(const std::uint8_t* block, std::uint64_t candidates,
                                              const PatternTable& t, std::uint8_t* put) {
  const __m256i low = _mm256_set1_epi8(15), end = _mm256_set1_epi8(static_cast<char>(t.end));
  std::uint64_t match = candidates, ends = 0;
  for (int part = 0; part < 2; ++part) {
    const std::uint8_t* const p = block + 32 * part;
    const __m256i v = Load(p);
    const __m256i slot = _mm256_xor_si256(
        _mm256_shuffle_epi8(Row(t.first), And(Load(p + 1), low)), And(Load(p + 2), low));
    __m256i agree = _mm256_set1_epi8(-1), want = _mm256_setzero_si256();
    for (int j = 1; j < 8; ++j) {
      const __m256i before = want;  // byte j - 1 of the pattern
      want = _mm256_shuffle_epi8(Row(t.bytes[j]), slot);
      __m256i same = _mm256_cmpeq_epi8(Load(p + j), want);
      if (j >= 4) same = Or(same, _mm256_cmpeq_epi8(before, end));  // past the pattern's end
      agree = And(agree, same);
    }
    match &= Bits(agree, part) | ~(std::uint64_t{0xFFFFFFFFu} << (32 * part));
    ends |= Bits(_mm256_cmpeq_epi8(v, end), part);
    const __m256i becomes = _mm256_shuffle_epi8(Row(t.put), slot);
    const __m256i starts = Eq(v, static_cast<char>(t.start));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(put + 32 * part),
                        _mm256_blendv_epi8(Load(put + 32 * part), becomes, starts));
  }
  // The `end` bytes of the seven bytes after the block: the last seven of the 32 from byte 39.
  const auto after = static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(Load(block + 39), end)));
  const std::uint64_t ends_after = after >> 25;
  return MatchesUpToEnd(match, ends, ends_after);
}

// The line-break tags among the candidates (see `BreakMatches`), told by the five bytes after
// each: "br" then ">", "/>" or " />", or "/br>". `closes` are the block's '>' bytes. The escape
// a tag becomes is written to `put`: its first byte at every '<' of the block, its second after.
RUXA_AVX2 inline BreakMatches MatchBreaks(const std::uint8_t* block, std::uint64_t candidates,
                                          std::uint64_t closes, const char* escape,
                                          std::uint8_t* put) {
  std::uint64_t tags = 0, heads = 0, ends_after = 0;
  for (int part = 0; part < 2; ++part) {
    const std::uint8_t* const p = block + 32 * part;
    const __m256i n1 = Load(p + 1), n2 = Load(p + 2), n3 = Load(p + 3);
    const __m256i n4 = Load(p + 4), n5 = Load(p + 5);
    const __m256i end4 = Eq(n4, '>'), end5 = Eq(n5, '>');
    const __m256i br_end =
        Or(Eq(n3, '>'), Or(And(Eq(n3, '/'), end4), And(Eq(n3, ' '), And(Eq(n4, '/'), end5))));
    const __m256i tag = Or(And(And(Eq(n1, 'b'), Eq(n2, 'r')), br_end),
                           And(And(Eq(n1, '/'), Eq(n2, 'b')), And(Eq(n3, 'r'), end4)));
    tags |= Bits(tag, part);
    heads |= Bits(And(Eq(n1, 'h'), Eq(n2, 'e')), part);
    // The '>' bytes of the five after the block, where a tag on its last bytes ends: the last
    // five of the 32 from byte 37.
    if (part == 1) ends_after = static_cast<std::uint32_t>(_mm256_movemask_epi8(end5)) >> 27;
    __m256i bytes = _mm256_blendv_epi8(Load(put + 32 * part), _mm256_set1_epi8(escape[1]),
                                       Eq(Load(p - 1), '<'));
    bytes = _mm256_blendv_epi8(bytes, _mm256_set1_epi8(escape[0]), Eq(Load(p), '<'));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(put + 32 * part), bytes);
  }
  return {MatchesUpToEnd(tags & candidates, closes, ends_after), heads & candidates};
}

/// The block kernels for the walk (see block_walk.h).
struct Blocks {
  // One candidate costs less matched alone, by the walk.
  static constexpr int kMatchFrom = 2;
  static TagMasks Tags(const std::uint8_t* block) { return avx2::Tags(block); }
  static std::size_t FindMarkup(const std::uint8_t* b, std::size_t i, std::size_t n) {
    return avx2::FindMarkup(b, i, n);
  }
  static std::size_t Compress(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) {
    return avx2::Compress(to, block, keep);
  }
  static void Blend(std::uint8_t* to, const std::uint8_t* block, const std::uint8_t* bytes,
                    std::uint64_t mask) {
    avx2::Blend(to, block, bytes, mask);
  }
  static PatternMatches MatchPatterns(const std::uint8_t* block, std::uint64_t candidates,
                                      const PatternTable& table, std::uint8_t* put) {
    return avx2::MatchPatterns(block, candidates, table, put);
  }
  static constexpr bool kMatchBreaks = true;
  static BreakMatches MatchBreaks(const std::uint8_t* block, std::uint64_t candidates,
                                  std::uint64_t closes, const char* escape, std::uint8_t* put) {
    return avx2::MatchBreaks(block, candidates, closes, escape, put);
  }
};

/// Calls `body(Blocks{})` compiled for AVX2 with everything it calls inlined into it, the block
/// kernels among them. With BMI1 and BMI2 as well, which every AVX2 processor has: the walk's
/// shifts by a variable count and its bit scans then take one instruction each.
template <class Body>
__attribute__((target("avx2,bmi,bmi2,popcnt"), flatten)) void Run(const Body& body) {
  body(Blocks{});
}

}  // namespace ruxa::kernels::avx2

#endif  // RUXA_X86

#endif  // RUXA_KERNELS_AVX2_BLOCKS_H_

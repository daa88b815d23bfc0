#include "html2Ruxa/block_scan.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define RUXA_X86 1
#endif

namespace ruxa {

namespace {

BlockMasks ScanPortable(const std::uint8_t* block, std::size_t size) {
  BlockMasks m;
  for (std::size_t k = 0; k < size; ++k) {
    const std::uint8_t c = block[k];
    const std::uint64_t bit = std::uint64_t{1} << k;
    if (c == '<' || c == '>' || c == '&' || c == 0) m.special |= bit;
    if (c == '>') m.close |= bit;
  }
  return m;
}

BlockMasks ScanPortable64(const std::uint8_t* block) { return ScanPortable(block, 64); }

// Bit k: a "<bo" starts at block[k]. Reads 66 bytes.
std::uint64_t BodyPortable(const std::uint8_t* block) {
  std::uint64_t m = 0;
  for (std::size_t k = 0; k < 64; ++k) {
    if (block[k] == '<' && block[k + 1] == 'b' && block[k + 2] == 'o') m |= std::uint64_t{1} << k;
  }
  return m;
}

#if defined(RUXA_X86)
BlockMasks ScanSse2(const std::uint8_t* block) {
  BlockMasks m;
  for (int part = 0; part < 4; ++part) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
    const __m128i close = _mm_cmpeq_epi8(v, _mm_set1_epi8('>'));
    const __m128i special = _mm_or_si128(_mm_or_si128(close, _mm_cmpeq_epi8(v, _mm_set1_epi8('<'))),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')),
                                                      _mm_cmpeq_epi8(v, _mm_setzero_si128())));
    m.special |= std::uint64_t(static_cast<std::uint16_t>(_mm_movemask_epi8(special)))
                 << (16 * part);
    m.close |= std::uint64_t(static_cast<std::uint16_t>(_mm_movemask_epi8(close))) << (16 * part);
  }
  return m;
}

std::uint64_t BodySse2(const std::uint8_t* block) {
  std::uint64_t m = 0;
  for (int part = 0; part < 4; ++part) {
    const auto at = [&](int k, char c) {
      return _mm_cmpeq_epi8(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part + k)),
          _mm_set1_epi8(c));
    };
    const __m128i hit = _mm_and_si128(at(0, '<'), _mm_and_si128(at(1, 'b'), at(2, 'o')));
    m |= std::uint64_t(static_cast<std::uint16_t>(_mm_movemask_epi8(hit))) << (16 * part);
  }
  return m;
}

__attribute__((target("avx2"))) std::uint64_t BodyAvx2(const std::uint8_t* block) {
  std::uint64_t m = 0;
  for (int part = 0; part < 2; ++part) {
    const std::uint8_t* p = block + 32 * part;
    const __m256i lt = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                                         _mm256_set1_epi8('<'));
    const __m256i b = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1)),
                                        _mm256_set1_epi8('b'));
    const __m256i o = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2)),
                                        _mm256_set1_epi8('o'));
    const __m256i hit = _mm256_and_si256(lt, _mm256_and_si256(b, o));
    m |= std::uint64_t(static_cast<std::uint32_t>(_mm256_movemask_epi8(hit))) << (32 * part);
  }
  return m;
}

__attribute__((target("avx512f,avx512bw"))) std::uint64_t BodyAvx512(const std::uint8_t* block) {
  return _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(block), _mm512_set1_epi8('<')) &
         _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(block + 1), _mm512_set1_epi8('b')) &
         _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(block + 2), _mm512_set1_epi8('o'));
}

__attribute__((target("avx2"))) BlockMasks ScanAvx2(const std::uint8_t* block) {
  BlockMasks m;
  for (int part = 0; part < 2; ++part) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32 * part));
    const __m256i close = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('>'));
    const __m256i special =
        _mm256_or_si256(_mm256_or_si256(close, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('<'))),
                        _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('&')),
                                        _mm256_cmpeq_epi8(v, _mm256_setzero_si256())));
    m.special |= std::uint64_t(static_cast<std::uint32_t>(_mm256_movemask_epi8(special)))
                 << (32 * part);
    m.close |= std::uint64_t(static_cast<std::uint32_t>(_mm256_movemask_epi8(close)))
               << (32 * part);
  }
  return m;
}

__attribute__((target("avx512f,avx512bw"))) BlockMasks ScanAvx512(const std::uint8_t* block) {
  const __m512i v = _mm512_loadu_si512(block);
  BlockMasks m;
  m.close = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('>'));
  m.special = m.close | _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('<')) |
              _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('&')) |
              _mm512_cmpeq_epi8_mask(v, _mm512_setzero_si512());
  return m;
}
#endif

TagMasks TagsPortable(const std::uint8_t* block) {
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

std::size_t CompressPortable(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) {
  std::size_t kept = 0;
  while (keep != 0) {
    const int start = __builtin_ctzll(keep);
    const std::uint64_t rest = ~(keep >> start);
    const int length = rest == 0 ? 64 - start : __builtin_ctzll(rest);
    std::memmove(to + kept, block + start, static_cast<std::size_t>(length));
    kept += static_cast<std::size_t>(length);
    keep = length + start >= 64 ? 0 : keep & (~std::uint64_t{0} << (start + length));
  }
  return kept;
}

#if defined(RUXA_X86)
__attribute__((target("avx512f,avx512bw"))) TagMasks TagsAvx512(const std::uint8_t* block) {
  const __m512i v = _mm512_loadu_si512(block);
  const __m512i next1 = _mm512_loadu_si512(block + 1);
  const __m512i next2 = _mm512_loadu_si512(block + 2);
  const __m512i before = _mm512_loadu_si512(block - 1);
  const auto eq = [](__m512i x, char c) __attribute__((target("avx512f,avx512bw"))) {
    return _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8(c));
  };
  TagMasks m;
  m.open = eq(v, '<');
  m.close = eq(v, '>');
  m.zero = eq(v, 0);
  m.amp = eq(v, '&');
  const std::uint64_t follows = (eq(next1, 'b') & eq(next2, 'r')) |
                                (eq(next1, '/') & eq(next2, 'b')) |
                                (eq(next1, 'h') & eq(next2, 'e'));
  m.unusual = (m.open & follows) | (m.close & (eq(before, 'r') | eq(before, '/')));
  return m;
}

__attribute__((target("avx2"))) TagMasks TagsAvx2(const std::uint8_t* block) {
  TagMasks m;
  for (int part = 0; part < 2; ++part) {
    const std::uint8_t* p = block + 32 * part;
    const auto at = [p](int k, char c) __attribute__((target("avx2"))) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k));
      return std::uint64_t(static_cast<std::uint32_t>(
          _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(c)))));
    };
    const std::uint64_t open = at(0, '<'), close = at(0, '>');
    const std::uint64_t follows = (at(1, 'b') & at(2, 'r')) |
                                  (at(1, '/') & at(2, 'b') & at(3, 'r')) |
                                  (at(1, 'h') & at(2, 'e'));
    const std::uint64_t after_r =
        at(-1, 'r') | (at(-1, '/') & (at(-2, 'r') | (at(-2, ' ') & at(-3, 'r'))));
    const int shift = 32 * part;
    m.open |= open << shift;
    m.close |= close << shift;
    m.zero |= at(0, 0) << shift;
    m.amp |= at(0, '&') << shift;
    m.unusual |= ((open & follows) | (close & after_r)) << shift;
  }
  return m;
}

// For each mask of eight bytes, the shuffle that gathers the bytes it keeps at the front.
struct GatherTable {
  std::uint8_t shuffle[256][8];
  constexpr GatherTable() : shuffle() {
    for (int mask = 0; mask < 256; ++mask) {
      int kept = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (mask >> bit & 1) shuffle[mask][kept++] = static_cast<std::uint8_t>(bit);
      }
      while (kept < 8) shuffle[mask][kept++] = 0x80;
    }
  }
};
constexpr GatherTable kGather;

// Eight bytes at a time through a table of shuffles. Each group of eight is loaded before its
// eight-byte store, which never reaches the next group, since to <= block and kept <= 8 * group.
__attribute__((target("avx2"))) std::size_t CompressShuffle(std::uint8_t* to,
                                                            const std::uint8_t* block,
                                                            std::uint64_t keep) {
  std::size_t kept = 0;
  for (int group = 0; group < 8; ++group) {
    const unsigned mask = static_cast<unsigned>(keep >> (8 * group)) & 0xFF;
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block + 8 * group));
    const __m128i shuffle =
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGather.shuffle[mask]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + kept), _mm_shuffle_epi8(bytes, shuffle));
    kept += static_cast<std::size_t>(__builtin_popcount(mask));
  }
  return kept;
}

__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) std::size_t CompressVbmi2(
    std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) {
  const __m512i kept = _mm512_maskz_compress_epi8(keep, _mm512_loadu_si512(block));
  _mm512_storeu_si512(to, kept);
  return static_cast<std::size_t>(__builtin_popcountll(keep));
}
#endif

}  // namespace

BlockKernels ActiveBlockKernels() {
  switch (ActiveVectorKernel()) {
#if defined(RUXA_X86)
    case VectorKernel::Sse2:
      return {ScanSse2, BodySse2, nullptr, CompressPortable};
    case VectorKernel::Avx2:
      return {ScanAvx2, BodyAvx2, TagsAvx2, CompressShuffle};
    case VectorKernel::Avx512:
      return {ScanAvx512, BodyAvx512, TagsAvx512,
              HasByteCompress() ? CompressVbmi2 : CompressShuffle};
#endif
    default:
      // Slow, but it takes the same fast path as the vector kernels, so that path is also
      // held against the model with a classifier written plainly.
      return {ScanPortable64, BodyPortable, TagsPortable, CompressPortable};
  }
}

std::size_t FindBodyStart(const BlockKernels& kernels, const std::uint8_t* b, std::size_t i,
                          std::size_t end) {
  for (; i + 64 <= end; i += 64) {
    if (const std::uint64_t m = kernels.body(b + i)) {
      return i + static_cast<std::size_t>(__builtin_ctzll(m));
    }
  }
  for (; i < end; ++i) {
    if (b[i] == '<' && b[i + 1] == 'b' && b[i + 2] == 'o') return i;
  }
  return end;
}

void BlockCursor::Load(std::size_t base) {
  base_ = base;
  masks_ = base + 64 <= n_ ? scan_(b_ + base) : ScanPortable(b_ + base, n_ - base);
}

}  // namespace ruxa

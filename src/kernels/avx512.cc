// The kernels with AVX-512 (F and BW): 64 bytes, a whole block, per instruction, masks straight
// from the compares. Processors with VBMI2 also compress bytes by mask in one instruction; the
// others use AVX2's shuffle table for that (kAvx512 against kAvx512Vbmi2).
#include "kernels/avx512_blocks.h"

#if defined(RUXA_X86)

#define RUXA_VBMI2 __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,popcnt")))

namespace ruxa::kernels {

namespace avx512 {
namespace {

RUXA_AVX512 BlockMasks Scan(const std::uint8_t* block) {
  const __m512i v = Load(block);
  BlockMasks m;
  m.close = Eq(v, '>');
  m.special = m.close | Eq(v, '<') | Eq(v, '&') | Eq(v, 0);
  return m;
}

RUXA_AVX512 std::size_t FindBody(const std::uint8_t* b, std::size_t i, std::size_t end) {
  for (; i + 64 <= end; i += 64) {
    const std::uint8_t* p = b + i;
    const std::uint64_t m = Eq(Load(p), '<') & Eq(Load(p + 1), 'b') & Eq(Load(p + 2), 'o');
    if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
  }
  return FindBodyPortable(b, i, end);
}

RUXA_AVX512 std::size_t FindEither(const std::uint8_t* b, std::size_t i, std::size_t n,
                                   std::uint8_t x, std::uint8_t y) {
  for (; i + 64 <= n; i += 64) {
    const __m512i v = Load(b + i);
    const std::uint64_t mask = Eq(v, static_cast<char>(x)) | Eq(v, static_cast<char>(y));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctzll(mask));
  }
  return FindEitherPortable(b, i, n, x, y);
}

RUXA_AVX512 std::size_t SkipZeros(const std::uint8_t* b, std::size_t i, std::size_t n) {
  for (; i + 64 <= n; i += 64) {
    const __m512i v = Load(b + i);
    const std::uint64_t nonzero = _mm512_test_epi8_mask(v, v);
    if (nonzero != 0) return i + static_cast<std::size_t>(__builtin_ctzll(nonzero));
  }
  return SkipZerosPortable(b, i, n);
}

RUXA_VBMI2 std::size_t Compress(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) {
  _mm512_storeu_si512(to, _mm512_maskz_compress_epi8(keep, _mm512_loadu_si512(block)));
  return static_cast<std::size_t>(__builtin_popcountll(keep));
}

// Each block is loaded before anything is stored, and no store reaches past
// to + i + 64 <= to + size.
RUXA_VBMI2 std::size_t CompactNonZero(std::uint8_t* to, const std::uint8_t* from,
                                      std::size_t size) {
  std::size_t kept = 0, i = 0;
  for (; i + 64 <= size; i += 64) {
    const __m512i v = _mm512_loadu_si512(from + i);
    const __mmask64 nonzero = _mm512_test_epi8_mask(v, v);
    _mm512_storeu_si512(to + kept, _mm512_maskz_compress_epi8(nonzero, v));
    kept += static_cast<std::size_t>(__builtin_popcountll(nonzero));
  }
  return kept + CompactNonZeroPortable(to + kept, from + i, size - i);
}

}  // namespace
}  // namespace avx512

const Kernels kAvx512 = {
    .kind = VectorKernel::Avx512,
    .scan = avx512::Scan,
    .find_body = avx512::FindBody,
    .tags = avx512::Tags,
    .blend = avx512::Blend,
    .compress = CompressAvx2,
    .find_markup = avx512::FindMarkup,
    .find_either = avx512::FindEither,
    .skip_zeros = avx512::SkipZeros,
    .compact_nonzero = CompactNonZeroAvx2,
};

const Kernels kAvx512Vbmi2 = {
    .kind = VectorKernel::Avx512,
    .scan = avx512::Scan,
    .find_body = avx512::FindBody,
    .tags = avx512::Tags,
    .blend = avx512::Blend,
    .compress = avx512::Compress,
    .find_markup = avx512::FindMarkup,
    .find_either = avx512::FindEither,
    .skip_zeros = avx512::SkipZeros,
    .compact_nonzero = avx512::CompactNonZero,
};

}  // namespace ruxa::kernels

#endif  // RUXA_X86

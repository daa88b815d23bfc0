#include "driver/output_stream.h"

#include <algorithm>
#include <cstring>

#include "driver/vector_kernel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ruxa {

OutputStream::OutputStream(std::size_t capacity)
    : capacity_(capacity), buffer_(new std::uint8_t[capacity]) {}

void OutputStream::Drain() {
  if (used_ > 0 && ok_) ok_ = Sink(buffer_.get(), used_);
  used_ = 0;
}

bool OutputStream::Flush() {
  Drain();
  return ok_;
}

void OutputStream::WriteLong(const std::uint8_t* data, std::size_t size) {
  if (size >= capacity_) {
    // A long run goes straight to the sink rather than through the buffer.
    Drain();
    if (ok_) ok_ = Sink(data, size);
    return;
  }
  Drain();
  std::memcpy(buffer_.get(), data, size);
  used_ = size;
}

namespace {

#if defined(__x86_64__)
// Sixty-four bytes at a time, with the processor's byte compression. As below, each block is
// loaded before anything is stored, and no store reaches past to + i + 64 <= to + size.
__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) std::size_t CompactBlocks64(
    std::uint8_t* to, const std::uint8_t* from, std::size_t size, std::size_t& i) {
  std::size_t kept = 0;
  for (; i + 64 <= size; i += 64) {
    const __m512i v = _mm512_loadu_si512(from + i);
    const __mmask64 nonzero = _mm512_test_epi8_mask(v, v);
    _mm512_storeu_si512(to + kept, _mm512_maskz_compress_epi8(nonzero, v));
    kept += static_cast<std::size_t>(__builtin_popcountll(nonzero));
  }
  return kept;
}
#endif

}  // namespace

std::size_t CompactNonZero(std::uint8_t* to, const std::uint8_t* from, std::size_t size) {
  std::size_t kept = 0;
  std::size_t i = 0;
#if defined(__x86_64__)
  if (HasByteCompress()) kept = CompactBlocks64(to, from, size, i);
#endif
#if defined(__SSE2__)
  // Sixteen bytes at a time, with fast paths for blocks without zeros, all zeros, and 16-bit
  // text (every odd byte zero), which is what documents are mostly made of. Each block is loaded
  // before anything is stored, and no store reaches past to + i + 16 <= to + size, since
  // kept <= i: in place, a store never touches a byte not yet loaded.
  const bool portable = ActiveVectorKernel() == VectorKernel::Portable;
  for (; !portable && i + 16 <= size; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()));
    if (zeros == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + kept), v);
      kept += 16;
    } else if (zeros == 0xAAAA) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to + kept), _mm_packus_epi16(v, v));
      kept += 8;
    } else if (zeros != 0xFFFF) {
      for (std::size_t k = i; k < i + 16; ++k) {
        const std::uint8_t byte = from[k];
        to[kept] = byte;
        kept += byte != 0;
      }
    }
  }
#endif
  // Branch-free: every byte is stored, only non-zero ones advance the cursor.
  for (; i < size; ++i) {
    const std::uint8_t byte = from[i];
    to[kept] = byte;
    kept += byte != 0;
  }
  return kept;
}

std::size_t OutputStream::WriteNonZero(const std::uint8_t* data, std::size_t size) {
  // Below this much room the compaction would work in slivers; drain first instead.
  constexpr std::size_t kMinRoom = 4096;
  std::size_t total = 0;
  while (size > 0) {
    if (capacity_ - used_ < kMinRoom) Drain();
    const std::size_t chunk = std::min(size, capacity_ - used_);
    const std::size_t kept = CompactNonZero(buffer_.get() + used_, data, chunk);
    used_ += kept;
    total += kept;
    data += chunk;
    size -= chunk;
  }
  return total;
}

}  // namespace ruxa

#include "driver/output_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ruxa {

OutputStream::OutputStream() : buffer_(new std::uint8_t[kCapacity]) {}

void OutputStream::Drain() {
  if (used_ > 0 && ok_) ok_ = Sink(buffer_.get(), used_);
  used_ = 0;
}

bool OutputStream::Flush() {
  Drain();
  return ok_;
}

void OutputStream::WriteLong(const std::uint8_t* data, std::size_t size) {
  if (size >= kCapacity) {
    // A long run goes straight to the sink rather than through the buffer.
    Drain();
    if (ok_) ok_ = Sink(data, size);
    return;
  }
  Drain();
  std::memcpy(buffer_.get(), data, size);
  used_ = size;
}

void OutputStream::WriteNonZero(const std::uint8_t* data, std::size_t size) {
  // Below this much room the compaction would work in slivers; drain first instead.
  constexpr std::size_t kMinRoom = 4096;
  while (size > 0) {
    if (kCapacity - used_ < kMinRoom) Drain();
    const std::size_t chunk = std::min(size, kCapacity - used_);
    std::uint8_t* out = buffer_.get() + used_;
    std::size_t kept = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time, with fast paths for blocks without zeros, all zeros, and 16-bit
    // text (every odd byte zero), which is what documents are mostly made of. No store reaches
    // past out + i + 16 <= out + chunk, since kept <= i.
    for (; i + 16 <= chunk; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()));
      if (zeros == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kept), v);
        kept += 16;
      } else if (zeros == 0xAAAA) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + kept), _mm_packus_epi16(v, v));
        kept += 8;
      } else if (zeros != 0xFFFF) {
        for (std::size_t k = i; k < i + 16; ++k) {
          out[kept] = data[k];
          kept += data[k] != 0;
        }
      }
    }
#endif
    // Branch-free compaction: every byte is stored, only non-zero ones advance the cursor.
    for (; i < chunk; ++i) {
      out[kept] = data[i];
      kept += data[i] != 0;
    }
    used_ += kept;
    data += chunk;
    size -= chunk;
  }
}

bool FdOutputStream::Sink(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, std::min<std::size_t>(size, 1 << 30));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace ruxa

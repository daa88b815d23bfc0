#include "driver/output_stream.h"

#include <algorithm>
#include <cstring>

#include "kernels/kernels.h"

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

std::size_t OutputStream::WriteNonZero(const std::uint8_t* data, std::size_t size) {
  // Below this much room the compaction would work in slivers; drain first instead.
  constexpr std::size_t kMinRoom = 4096;
  const auto compact = ActiveKernels().compact_nonzero;
  std::size_t total = 0;
  while (size > 0) {
    if (capacity_ - used_ < kMinRoom) Drain();
    const std::size_t chunk = std::min(size, capacity_ - used_);
    const std::size_t kept = compact(buffer_.get() + used_, data, chunk);
    used_ += kept;
    total += kept;
    data += chunk;
    size -= chunk;
  }
  return total;
}

}  // namespace ruxa

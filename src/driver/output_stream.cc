#include "driver/output_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

void OutputStream::Write(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  if (size >= kCapacity) {
    // A long run goes straight to the sink rather than through the buffer.
    Drain();
    if (ok_) ok_ = Sink(data, size);
    return;
  }
  if (size > kCapacity - used_) Drain();
  std::memcpy(buffer_.get() + used_, data, size);
  used_ += size;
}

void OutputStream::WriteNonZero(const std::uint8_t* data, std::size_t size) {
  // Below this much room the compaction would work in slivers; drain first instead.
  constexpr std::size_t kMinRoom = 4096;
  while (size > 0) {
    if (kCapacity - used_ < kMinRoom) Drain();
    const std::size_t chunk = std::min(size, kCapacity - used_);
    std::uint8_t* out = buffer_.get() + used_;
    std::size_t kept = 0;
    // Branch-free compaction: every byte is stored, only non-zero ones advance the cursor.
    for (std::size_t i = 0; i < chunk; ++i) {
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

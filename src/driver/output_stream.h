#ifndef RUXA_DRIVER_OUTPUT_STREAM_H_
#define RUXA_DRIVER_OUTPUT_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace ruxa {

/// A buffered byte stream. Converters write whole runs through it; it hands them to the sink in
/// large blocks. The first sink failure is remembered, and everything after it is dropped, so
/// callers check `ok()` (or the result of `Flush()`) once at the end instead of after each write.
class OutputStream {
 public:
  /// A stream whose buffer holds `capacity` bytes (at least 4096).
  explicit OutputStream(std::size_t capacity = 256 * 1024);
  virtual ~OutputStream() = default;
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  void Write(const std::uint8_t* data, std::size_t size) {
    // Short runs, the common case, are copied here; the rest goes out of line.
    if (size <= capacity_ - used_ && size < capacity_) {
      if (size != 0) std::memcpy(buffer_.get() + used_, data, size);
      used_ += size;
    } else {
      WriteLong(data, size);
    }
  }
  void Write(std::string_view text) {
    Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  void Put(std::uint8_t byte) {
    if (used_ == capacity_) Drain();
    buffer_[used_++] = byte;
  }
  /// Writes [data, data + size), bytes that stay as they are in memory until the stream is
  /// flushed: a stream may then write them later, from where they lie, while the caller works on.
  virtual void WriteStable(const std::uint8_t* data, std::size_t size) { Write(data, size); }
  /// Writes the bytes of [data, data + size) that are not zero, in order; returns their count.
  std::size_t WriteNonZero(const std::uint8_t* data, std::size_t size);

  /// Hands everything buffered to the sink; returns `ok()`.
  bool Flush();
  bool ok() const { return ok_; }

 protected:
  /// Stores [data, data + size) wholly, or returns false.
  virtual bool Sink(const std::uint8_t* data, std::size_t size) = 0;
  /// Starts afresh, as if new (keeping the buffer): nothing buffered, no failure.
  void Restart() {
    used_ = 0;
    ok_ = true;
  }

 private:
  void Drain();
  void WriteLong(const std::uint8_t* data, std::size_t size);

  const std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t used_ = 0;
  bool ok_ = true;
};

/// Collects everything in memory; for tests and tools. Its buffer is small, so that making many
/// of them costs little and their drains are reached by short texts.
class StringOutputStream : public OutputStream {
 public:
  StringOutputStream() : OutputStream(16 * 1024) {}
  /// Flushes and returns all bytes written so far.
  const std::string& str() {
    Flush();
    return text_;
  }

 protected:
  bool Sink(const std::uint8_t* data, std::size_t size) override {
    text_.append(reinterpret_cast<const char*>(data), size);
    return true;
  }

 private:
  std::string text_;
};

}  // namespace ruxa

#endif  // RUXA_DRIVER_OUTPUT_STREAM_H_

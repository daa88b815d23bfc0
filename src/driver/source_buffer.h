#ifndef RUXA_DRIVER_SOURCE_BUFFER_H_
#define RUXA_DRIVER_SOURCE_BUFFER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ruxa {

/// How the program was started: `Batch` sweeps the current directory, `Single` converts one
/// named file into another. The HTML converter behaves slightly differently in each.
enum class RunMode { Batch, Single };

/// The whole content of one input file. The driver owns the storage; a converter may rewrite
/// bytes in place (a byte set to zero counts as erased) but must stay within [0, size).
///
/// A large file may still be loading when the converter starts, so that reading and converting
/// overlap: a converter reads no byte at or past `Loaded(want)` before calling it.
struct SourceBuffer {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  /// While the input is loading, the count of bytes loaded so far; null when all are there.
  const std::atomic<std::size_t>* loaded = nullptr;

  /// Whether every byte is loaded; never waits.
  bool IsLoaded() const {
    return loaded == nullptr || loaded->load(std::memory_order_acquire) >= size;
  }

  /// Waits until min(want, size) bytes are loaded; returns how many are (at least that many).
  std::size_t Loaded(std::size_t want) const {
    if (loaded == nullptr) return size;
    want = want < size ? want : size;
    std::size_t now = loaded->load(std::memory_order_acquire);
    while (now < want) {
      loaded->wait(now, std::memory_order_acquire);
      now = loaded->load(std::memory_order_acquire);
    }
    return now;
  }
};

/// What a converter made of its input. Anything but `Converted` means the input was rejected:
/// the converter said so on the console, its output is to be left empty, and a batch goes on.
enum class ConvertOutcome {
  Converted,
  Unrecognised,  ///< not a kind of input the converter knows
  OverBound,     ///< the output would have passed the converter's size bound
};

}  // namespace ruxa

#endif  // RUXA_DRIVER_SOURCE_BUFFER_H_

#ifndef RUXA_DRIVER_SOURCE_BUFFER_H_
#define RUXA_DRIVER_SOURCE_BUFFER_H_

#include <cstddef>
#include <cstdint>

namespace ruxa {

/// How the program was started: `Batch` sweeps the current directory, `Single` converts one
/// named file into another. The HTML converter behaves slightly differently in each.
enum class RunMode { Batch, Single };

/// Work a converter may leave to the loading side while it is busy itself: done on each stretch
/// of the input as it arrives, on the other core, while the bytes are still in its cache.
class LoadFollower {
 public:
  virtual ~LoadFollower() = default;
  /// On the loading side: bytes below `loaded` are there, and the converter is busy. Counts
  /// grow from call to call; a call may be skipped, so the converter does itself whatever it
  /// needs that its follower has not done yet.
  virtual void Follow(std::size_t loaded) = 0;
};

/// How far an input that is still loading has come. The driver's loading thread is one; tests
/// give the bytes in chosen steps.
class LoadCount {
 public:
  virtual ~LoadCount() = default;
  /// The count of bytes loaded so far; never waits.
  virtual std::size_t Now() = 0;
  /// Waits until at least `want` bytes are loaded (`want` is at most the input's size) and
  /// returns the count, which may be more. Bytes below it may be read from then on.
  virtual std::size_t WaitFor(std::size_t want) = 0;

  /// From now on hands `follower` counts published while the converter is busy with bytes
  /// well before them; false when none will come (the load is over).
  virtual bool Attach(LoadFollower&) { return false; }
  /// Hands the follower nothing more, once a call in progress has returned.
  virtual void Detach() {}
};

/// The whole content of one input file. The driver owns the storage; a converter may rewrite
/// bytes in place (a byte set to zero counts as erased) but must stay within [0, size).
///
/// A large file may still be loading when the converter starts, so that reading and converting
/// overlap: a converter reads or writes no byte at or past `Loaded(want)` before calling it.
struct SourceBuffer {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  /// While the input is loading, how far it has come; null when every byte is there.
  LoadCount* loading = nullptr;

  /// Whether every byte is loaded; never waits.
  bool IsLoaded() const { return loading == nullptr || loading->Now() >= size; }

  /// Waits until min(want, size) bytes are loaded; returns how many are (at least that many).
  std::size_t Loaded(std::size_t want) const {
    if (loading == nullptr) return size;
    return loading->WaitFor(want < size ? want : size);
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

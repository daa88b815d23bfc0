#ifndef RUXA_DRIVER_SOURCE_BUFFER_H_
#define RUXA_DRIVER_SOURCE_BUFFER_H_

#include <cstddef>
#include <cstdint>

namespace ruxa {

/// How the program was started: `Batch` sweeps the current directory, `Single` converts one
/// named file into another. The HTML converter behaves slightly differently in each.
enum class RunMode { Batch, Single };

/// The whole content of one input file. The driver owns the storage; a converter may rewrite
/// bytes in place (a byte set to zero counts as erased) but must stay within [0, size).
struct SourceBuffer {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
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

#ifndef RUXA_KERNELS_KERNELS_H_
#define RUXA_KERNELS_KERNELS_H_

// Byte work any converter can use, written once over the vector types of simd/ and compiled once
// per instruction set (bytes.inc); select.cc chooses the instruction set when the program
// starts. The converters' own block code (the HTML walk) is compiled the same way in their
// folders, and asks `ActiveVectorKernel` which copy to use.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "simd/isa.h"

namespace ruxa {

/// Three bytes at set distances from a position p: `byte[k]` at p + at[k], where
/// 0 == at[0] <= at[1] <= at[2]. A pattern of two bytes gives its second one twice.
struct BytePattern {
  std::uint8_t byte[3];
  std::size_t at[3];
};

/// The byte kernels of one instruction set.
struct Kernels {
  /// Position of the first byte in [i, n) equal to `x` or `y`, or n.
  std::size_t (*find_either)(const std::uint8_t* b, std::size_t i, std::size_t n, std::uint8_t x,
                             std::uint8_t y);
  /// The first position p in [i, n - pattern.at[2]) where `pattern` lies, or n.
  std::size_t (*find_pattern)(const std::uint8_t* b, std::size_t i, std::size_t n,
                              BytePattern pattern);
  /// Position of the first non-zero byte in [i, n), or n.
  std::size_t (*skip_zeros)(const std::uint8_t* b, std::size_t i, std::size_t n);
  /// Copies the bytes of [from, from + size) that are not zero to `to`, in order, and returns
  /// their count. `to` may be `from` or lie before it (compaction in place); otherwise the two
  /// ranges must not overlap. The bytes from the last one kept up to `to + size` may be
  /// overwritten.
  std::size_t (*compact_nonzero)(std::uint8_t* to, const std::uint8_t* from, std::size_t size);
};

/// The instruction set in use: the widest this processor runs, unless a test chose another.
VectorKernel ActiveVectorKernel();
/// The byte kernels of the instruction set in use.
const Kernels& ActiveKernels();

/// The instruction sets this processor runs, the portable one first.
std::vector<VectorKernel> AvailableVectorKernels();
/// The short name of an instruction set, as the tests and the benchmark spell it.
std::string_view KernelName(VectorKernel kernel);
/// The available instruction set of that name, if any.
std::optional<VectorKernel> AvailableKernelNamed(std::string_view name);

/// Makes `kernel` (one of the available ones) the one in use for as long as it lives, then the
/// one before; for tests, fuzzers and the benchmark. Threads started meanwhile see the choice.
class ScopedVectorKernel {
 public:
  explicit ScopedVectorKernel(VectorKernel kernel);
  ~ScopedVectorKernel();
  ScopedVectorKernel(const ScopedVectorKernel&) = delete;
  ScopedVectorKernel& operator=(const ScopedVectorKernel&) = delete;

 private:
  VectorKernel before_;
};

}  // namespace ruxa

#endif  // RUXA_KERNELS_KERNELS_H_

#ifndef RUXA_KERNELS_KERNELS_H_
#define RUXA_KERNELS_KERNELS_H_

// Every loop that scans or packs many bytes at once lives in this folder, once per instruction
// set: portable.cc (plain C++, any processor), sse2.cc, avx2.cc and avx512.cc (x86), neon.cc
// (AArch64). Each fills the same table, `Kernels`; select.cc picks one table when the program
// starts. The converters and the output stream call through the table and contain no vector
// code of their own; the HTML fast path has its walk compiled per instruction set through
// block_walk.h, with the block kernels of sse2_blocks.h, avx2_blocks.h and avx512_blocks.h.
//
// Masks hold one bit per byte of a 64-byte block: bit k (value 1 << k) stands for byte k,
// whatever the processor's byte order.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ruxa {

/// The instruction sets the kernels are written for: plain C++, then x86's narrowest first, then
/// AArch64's.
enum class VectorKernel { Portable, Sse2, Avx2, Avx512, Neon };

/// The bytes of one 64-byte block that the HTML text pass stops at: every '<', '>', '&' and zero
/// byte in `special`, the '>' alone in `close`.
struct BlockMasks {
  std::uint64_t special = 0;
  std::uint64_t close = 0;
};

/// What the fast path of the batch-mode text pass needs to know of one 64-byte block: where tags
/// open and close, zero bytes and ampersands, and the bytes that call for a closer look: at
/// least every '<' followed by "br", "/br" or "he", and every '>' after "r", "r/" or "r /" (a
/// kernel may flag more; each flagged byte is then looked at exactly).
struct TagMasks {
  std::uint64_t open = 0;
  std::uint64_t close = 0;
  std::uint64_t zero = 0;
  std::uint64_t amp = 0;
  std::uint64_t unusual = 0;
};

/// Up to 16 short patterns (the HTML entities) that the batch-mode fast path looks for at given
/// positions of a block. Each pattern is 4 to 8 bytes long, starts with `start` and ends in
/// `end`, which it holds nowhere else. A position k is compared with one pattern only, the one
/// in slot
///   first[b[k + 1] & 15] ^ (b[k + 2] & 15),
/// by every byte but its first (the caller picks positions that hold `start`), up to its `end`.
/// A slot left empty holds bytes 1 and 2 that hash to another slot, so that nothing matches it.
struct PatternTable {
  std::uint8_t first[16];
  std::uint8_t bytes[8][16];  // byte j of each slot's pattern, `end` past its end
  std::uint8_t put[16];       // what a match becomes
  std::uint8_t start, end;
};

/// The patterns of a `PatternTable` found in one block: where they start, all their bytes in
/// the block, and those in the next block (bit 0 for its first byte), where the last may run.
struct PatternMatches {
  std::uint64_t starts = 0;
  std::uint64_t spans = 0;
  std::uint64_t beyond = 0;
};

/// The line-break tags of a block, "<br>", "<br/>", "<br />" and "</br>", found all at once
/// among candidate '<' bytes: `tags` runs from each tag's '<' to its '>', the only one it holds;
/// `heads` are the candidates that open "<he".
struct BreakMatches {
  PatternMatches tags;
  std::uint64_t heads = 0;
};

/// The kernels of one instruction set.
struct Kernels {
  VectorKernel kind;
  /// The masks of the 64 bytes at `block`.
  BlockMasks (*scan)(const std::uint8_t* block);
  /// Position of the first "<bo" (a body start tag) that starts in [i, end), or `end`; reads up
  /// to two bytes past `end`.
  std::size_t (*find_body)(const std::uint8_t* b, std::size_t i, std::size_t end);
  /// The masks of the 64 bytes at `block`, reading the three bytes before and after it too.
  TagMasks (*tags)(const std::uint8_t* block);
  /// Writes the 64 bytes at `to`: bytes[k] for each bit k set in `mask`, block[k] for the others.
  /// `to` may be `block` or `bytes`; otherwise it overlaps neither.
  void (*blend)(std::uint8_t* to, const std::uint8_t* block, const std::uint8_t* bytes,
                std::uint64_t mask);
  /// Copies the bytes of the 64 at `block` whose bit is set in `keep` to `to`, in order, and
  /// returns their count. `to` lies at or before `block`, or the two do not overlap; all 64
  /// bytes from `to` may be written.
  std::size_t (*compress)(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep);
  /// Position of the first '<', '>', '&' or zero byte in [i, n), or n.
  std::size_t (*find_markup)(const std::uint8_t* b, std::size_t i, std::size_t n);
  /// Position of the first byte in [i, n) equal to `x` or `y`, or n.
  std::size_t (*find_either)(const std::uint8_t* b, std::size_t i, std::size_t n, std::uint8_t x,
                             std::uint8_t y);
  /// Position of the first non-zero byte in [i, n), or n.
  std::size_t (*skip_zeros)(const std::uint8_t* b, std::size_t i, std::size_t n);
  /// Copies the bytes of [from, from + size) that are not zero to `to`, in order, and returns
  /// their count. `to` may be `from` or lie before it (compaction in place); otherwise the two
  /// ranges must not overlap. The bytes from the last one kept up to `to + size` may be
  /// overwritten.
  std::size_t (*compact_nonzero)(std::uint8_t* to, const std::uint8_t* from, std::size_t size);
};

/// The masks of the first `size` bytes (at most 64) at `block`, for a block cut by the end of
/// the data; plain C++ whatever the kernels in use.
BlockMasks ScanPartialBlock(const std::uint8_t* block, std::size_t size);

/// The kernels in use: the widest this processor runs, unless a test chose others.
const Kernels& ActiveKernels();

/// The instruction sets this processor runs, the portable one first.
std::vector<VectorKernel> AvailableVectorKernels();
/// The name of an instruction set ("portable", "sse2", "avx2", "avx512", "neon").
std::string_view KernelName(VectorKernel kernel);
/// The available instruction set of that name, if any.
std::optional<VectorKernel> AvailableKernelNamed(std::string_view name);
/// The instruction set of the kernels in use.
VectorKernel ActiveVectorKernel();

/// Makes `ActiveKernels` give `kernel`'s (one of the available ones) for as long as it lives,
/// then those used before; for tests, fuzzers and the benchmark. Threads started meanwhile see
/// the choice.
class ScopedVectorKernel {
 public:
  explicit ScopedVectorKernel(VectorKernel kernel);
  ~ScopedVectorKernel();
  ScopedVectorKernel(const ScopedVectorKernel&) = delete;
  ScopedVectorKernel& operator=(const ScopedVectorKernel&) = delete;

 private:
  const Kernels* before_;
};

}  // namespace ruxa

#endif  // RUXA_KERNELS_KERNELS_H_

#ifndef RUXA_KERNELS_IMPLEMENTATIONS_H_
#define RUXA_KERNELS_IMPLEMENTATIONS_H_

// Inside the kernel folder only: the tables each instruction set's file fills.
#include "kernels/arch.h"
#include "kernels/kernels.h"

namespace ruxa::kernels {

/// Plain C++, one byte at a time; runs on any processor.
extern const Kernels kPortable;

// The portable kernels, which the others also use for what is left after their last whole
// vector.
std::size_t CompressPortable(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep);
std::size_t FindBodyPortable(const std::uint8_t* b, std::size_t i, std::size_t end);
std::size_t FindMarkupPortable(const std::uint8_t* b, std::size_t i, std::size_t n);
std::size_t FindEitherPortable(const std::uint8_t* b, std::size_t i, std::size_t n, std::uint8_t x,
                               std::uint8_t y);
std::size_t SkipZerosPortable(const std::uint8_t* b, std::size_t i, std::size_t n);
std::size_t CompactNonZeroPortable(std::uint8_t* to, const std::uint8_t* from, std::size_t size);

/// The patterns of a `PatternTable` found in a block, from the positions where they start and
/// where its `end` bytes lie: `ends` in the block, `ends_after` in the seven bytes after it (bit
/// 0 for the first). A match runs from its start to the first `end` after it, so adding the
/// starts to the complement of the `end` bytes carries from each start through its pattern, and
/// out of the block into the next where it runs on.
inline PatternMatches MatchesUpToEnd(std::uint64_t starts, std::uint64_t ends,
                                     std::uint64_t ends_after) {
  const std::uint64_t rest = ~ends, rest_after = ~ends_after;
  const std::uint64_t sum = rest + starts;
  PatternMatches found;
  found.starts = starts;
  found.spans = sum ^ rest;
  found.beyond = (rest_after + std::uint64_t{sum < starts}) ^ rest_after;
  return found;
}

#if defined(RUXA_X86)
/// 16 bytes per instruction; every x86-64 processor has it.
extern const Kernels kSse2;
/// 32 bytes per instruction.
extern const Kernels kAvx2;
/// 64 bytes per instruction (AVX-512 F and BW), compressing bytes in one instruction where the
/// processor has VBMI2 (`kAvx512Vbmi2`), else with AVX2's shuffle table.
extern const Kernels kAvx512;
extern const Kernels kAvx512Vbmi2;

// AVX2's byte compression, which AVX-512 uses where the processor lacks VBMI2.
std::size_t CompressAvx2(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep);
std::size_t CompactNonZeroAvx2(std::uint8_t* to, const std::uint8_t* from, std::size_t size);
#endif

#if defined(RUXA_NEON)
/// 16 bytes per instruction, on every AArch64 processor.
extern const Kernels kNeon;
#endif

}  // namespace ruxa::kernels

#endif  // RUXA_KERNELS_IMPLEMENTATIONS_H_

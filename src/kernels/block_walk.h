#ifndef RUXA_KERNELS_BLOCK_WALK_H_
#define RUXA_KERNELS_BLOCK_WALK_H_

// The HTML text pass walks a page 64 bytes at a time and calls four kernels on most blocks:
// the tag classifier, the search for the next markup byte, the blend of an entity's or an
// escape's bytes into a block and the compression. Through the table each is a call per block,
// and the walk is compiled for the baseline processor. So the walk is compiled once per
// instruction set instead: `WithBlockKernels` hands the caller's walk a `Blocks` object of the
// active instruction set, whose members it calls as it would the table's entries of the same
// meaning:
//   Tags(block), FindMarkup(b, i, n), Blend(to, block, bytes, mask), Compress(to, block, keep),
// and, where `kMatchFrom` is not zero, MatchPatterns(block, candidates, table, put): the
// patterns (entities) at the candidates of a block, all at once, each candidate's replacement
// byte written to put[k] (AVX2 writes it at every `start` byte of the block); the walk uses it
// from that many candidates in a block on (1 or 2). The others (SSE2, which has no byte
// shuffle, plain C++, NEON) leave the entities to the walk, one candidate at a time, as AVX2
// does a single candidate. Where `kMatchBreaks` is true (AVX2, AVX-512), MatchBreaks(block,
// candidates, closes, escape, put) settles the line-break tags and heads among a block's flagged
// '<' bytes at once; the others look at each flagged '<' in turn.
// The AVX2 and AVX-512 walks are compiled for their instruction set, with BMI1 and BMI2 (every
// processor with either has them), with everything they call inlined; the SSE2 walk is the
// baseline build's, left to the compiler's choices (forcing everything inline made it slower).
// The SSE2 and AVX2 classifiers are called, not inlined: inlined, they made their walk slower
// on the benchmark pages. Plain C++ and NEON have no inline form: their walk calls through the
// table.
#include "kernels/arch.h"
#include "kernels/kernels.h"

#if defined(RUXA_X86)
#include "kernels/avx2_blocks.h"
#include "kernels/avx512_blocks.h"
#include "kernels/sse2_blocks.h"
#endif

namespace ruxa {

/// The block kernels of a table, called through it.
struct TableBlocks {
  static constexpr int kMatchFrom = 0;  // no vector matcher: entities one at a time
  static constexpr bool kMatchBreaks = false;  // line-break tags one at a time
  const Kernels& table;
  TagMasks Tags(const std::uint8_t* block) const { return table.tags(block); }
  std::size_t FindMarkup(const std::uint8_t* b, std::size_t i, std::size_t n) const {
    return table.find_markup(b, i, n);
  }
  std::size_t Compress(std::uint8_t* to, const std::uint8_t* block, std::uint64_t keep) const {
    return table.compress(to, block, keep);
  }
  void Blend(std::uint8_t* to, const std::uint8_t* block, const std::uint8_t* bytes,
             std::uint64_t mask) const {
    table.blend(to, block, bytes, mask);
  }
};

/// Calls `body(blocks)` with the block kernels of `table`'s instruction set, `body` compiled
/// for that instruction set.
template <class Body>
void WithBlockKernels(const Kernels& table, const Body& body) {
  switch (table.kind) {
#if defined(RUXA_X86)
    case VectorKernel::Sse2:  // every x86-64 processor: the baseline build's walk
      return body(kernels::sse2::Blocks{});
    case VectorKernel::Avx2:
      return kernels::avx2::Run(body);
    case VectorKernel::Avx512:
      return kernels::avx512::Run(body, table);
#endif
    default:
      return body(TableBlocks{table});
  }
}

}  // namespace ruxa

#endif  // RUXA_KERNELS_BLOCK_WALK_H_

#include "kernels/kernels.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "html2Ruxa/block_walk.h"
#include "tests/each_kernel.h"

namespace ruxa {
namespace {

class Kernel : public testing::EachKernel {
 protected:
  const HtmlBlocks& html_ = HtmlBlocksFor(GetParam());
};
RUXA_FOR_EACH_KERNEL(Kernel);

// The programs use the widest kernel the processor runs; the tests of the converters run every
// one of them against the byte-by-byte model, so every one must be on the list.
TEST(Kernels, EveryKernelOfThisProcessorIsListed) {
  const std::vector<VectorKernel> kernels = AvailableVectorKernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels.front(), VectorKernel::Portable);
  EXPECT_EQ(ActiveVectorKernel(), kernels.back());
#if defined(__aarch64__)
  EXPECT_EQ(kernels.back(), VectorKernel::Neon);  // part of every AArch64 processor
#elif defined(__x86_64__)
  EXPECT_GE(kernels.size(), 2u);  // SSE2 is part of every x86-64 processor
#endif
  for (const VectorKernel kernel : kernels) {
    EXPECT_EQ(AvailableKernelNamed(KernelName(kernel)), kernel);
    const ScopedVectorKernel use(kernel);
    EXPECT_EQ(ActiveVectorKernel(), kernel);
  }
  EXPECT_EQ(ActiveVectorKernel(), kernels.back());
}

// `find_markup` stops at each of its four bytes wherever it lies in a vector, or at the end.
TEST_P(Kernel, FindMarkupStopsAtTheFirstMarkupByte) {
  for (const std::uint8_t byte : {'<', '>', '&', '\0'}) {
    for (const std::size_t at : {0, 15, 16, 31, 32, 63, 64, 100, 127, 129}) {
      std::uint8_t b[130];
      std::memset(b, 'x', sizeof b);
      b[at] = byte;
      EXPECT_EQ(html_.find_markup(b, 0, sizeof b), at) << at;
      EXPECT_EQ(html_.find_markup(b, at + 1, sizeof b), sizeof b);
      EXPECT_EQ(html_.find_markup(b, 0, at), at);
    }
  }
}

// `find_pattern` finds where a pattern first lies whole in its range, as a look at each position
// does: over bytes where whole patterns, parts of them, or neither abound, from starts and to
// ends around the vector steps.
TEST_P(Kernel, FindPatternFindsTheFirstWholePattern) {
  const BytePattern patterns[] = {
      {{'/', 'h', 'h'}, {0, 1, 1}}, {{'/', 'h', 'h'}, {0, 2, 2}}, {{'/', 'h', 'k'}, {0, 2, 4}}};
  std::minstd_rand random(1);
  for (const BytePattern& t : patterns) {
    for (const unsigned odds : {2, 9, 400}) {  // of a byte other than '/'
      std::uint8_t b[200];
      for (std::uint8_t& c : b) c = random() % odds != 0 ? '/' : "hk"[random() % 2];
      const auto lies_at = [&](std::size_t p) {
        return b[p] == t.byte[0] && b[p + t.at[1]] == t.byte[1] && b[p + t.at[2]] == t.byte[2];
      };
      for (const std::size_t i : {0, 1, 63, 64, 100}) {
        for (std::size_t n = i; n <= sizeof b; ++n) {
          std::size_t p = i;
          while (p + t.at[2] < n && !lies_at(p)) ++p;
          EXPECT_EQ(k_.find_pattern(b, i, n, t), p + t.at[2] < n ? p : n) << i << " " << n;
        }
      }
    }
  }
}

}  // namespace
}  // namespace ruxa

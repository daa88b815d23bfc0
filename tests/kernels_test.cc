#include "kernels/kernels.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/each_kernel.h"
#include "tests/guard_page.h"

namespace ruxa {
namespace {

class Kernel : public testing::EachKernel {};
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
      EXPECT_EQ(k_.find_markup(b, 0, sizeof b), at) << at;
      EXPECT_EQ(k_.find_markup(b, at + 1, sizeof b), sizeof b);
      EXPECT_EQ(k_.find_markup(b, 0, at), at);
    }
  }
}

// `blend` takes each byte from the side its mask bit chooses, in every lane of every width, to a
// third place or onto the bytes it takes from (as the HTML fast path does).
TEST_P(Kernel, BlendTakesEachByteFromTheSideItsBitChooses) {
  for (const std::uint64_t mask :
       {std::uint64_t{0}, ~std::uint64_t{0}, std::uint64_t{0x8000000000000001},
        std::uint64_t{0x0123456789ABCDEF}, std::uint64_t{0xFEDCBA9876543210}}) {
    std::uint8_t block[64], bytes[64], expected[64];
    for (int i = 0; i < 64; ++i) {
      block[i] = static_cast<std::uint8_t>(i);
      bytes[i] = static_cast<std::uint8_t>(0x80 + i);
      expected[i] = (mask >> i & 1) != 0 ? bytes[i] : block[i];
    }
    std::uint8_t to[64];
    k_.blend(to, block, bytes, mask);
    EXPECT_EQ(std::memcmp(to, expected, 64), 0) << mask;
    k_.blend(bytes, block, bytes, mask);
    EXPECT_EQ(std::memcmp(bytes, expected, 64), 0) << mask;
  }
}

#if defined(RUXA_TEST_GUARD_PAGE)
// Every kernel reads no byte past what its contract allows: the data ends where an unreadable
// page begins, so one byte too far ends the test.
TEST_P(Kernel, ReadsNothingPastItsData) {
  testing::GuardedBytes memory(4096);
  std::uint8_t* const end = memory.end();
  for (std::size_t i = 1; i <= 4096; ++i) {
    end[-static_cast<std::ptrdiff_t>(i)] = "<br />&amp;x\0"[i % 13];
  }
  k_.scan(end - 64);
  EXPECT_EQ(k_.find_body(end - 66, 0, 64), 64u);
  k_.tags(end - 67);
  k_.compress(end - 64, end - 64, 0x5555555555555555u);
  k_.blend(end - 64, end - 64, end - 64, ~std::uint64_t{0});
  for (const std::size_t size : {1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100}) {
    EXPECT_EQ(k_.find_either(end - size, 0, size, 0xF0, 0xF1), size);
    std::memset(end - size, 'x', size);
    EXPECT_EQ(k_.find_markup(end - size, 0, size), size);
    std::memset(end - size, 0, size);
    EXPECT_EQ(k_.skip_zeros(end - size, 0, size), size);
    EXPECT_EQ(k_.compact_nonzero(end - size, end - size, size), 0u);
  }
}
#endif

}  // namespace
}  // namespace ruxa

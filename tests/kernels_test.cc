#include "kernels/kernels.h"

#include <gtest/gtest.h>

namespace ruxa {
namespace {

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
    UseVectorKernel(kernel);
    EXPECT_EQ(ActiveKernels().kind, kernel);
  }
}

}  // namespace
}  // namespace ruxa

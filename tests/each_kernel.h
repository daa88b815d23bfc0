#ifndef RUXA_TESTS_EACH_KERNEL_H_
#define RUXA_TESTS_EACH_KERNEL_H_

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "kernels/kernels.h"

namespace ruxa {

/// How a failing test names the kernel it ran with.
inline void PrintTo(VectorKernel kernel, std::ostream* os) { *os << KernelName(kernel); }

namespace testing {

/// A test that runs once for each kernel this processor runs, with that kernel in use (and the
/// one before it back afterwards). A test file derives its suite from it and instantiates it
/// with RUXA_FOR_EACH_KERNEL; the instances are named after the kernels (Each/Suite.Test/avx2).
class EachKernel : public ::testing::TestWithParam<VectorKernel> {
 protected:
  const ScopedVectorKernel use_{GetParam()};
  const Kernels& k_ = ActiveKernels();
};

inline std::string KernelTestName(const ::testing::TestParamInfo<VectorKernel>& info) {
  return std::string(KernelName(info.param));
}

}  // namespace testing
}  // namespace ruxa

#define RUXA_FOR_EACH_KERNEL(Suite)                                                            \
  INSTANTIATE_TEST_SUITE_P(Each, Suite, ::testing::ValuesIn(::ruxa::AvailableVectorKernels()), \
                           ::ruxa::testing::KernelTestName)

#endif  // RUXA_TESTS_EACH_KERNEL_H_

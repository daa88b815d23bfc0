// The one place that chooses the kernels: once, when the program starts, the widest instruction
// set the processor runs. A build for the benchmark may cap the choice (RUXA_KERNEL_CAP, the
// number of an instruction set in `VectorKernel`), so that each kernel can be timed on one host;
// the programs themselves have no switch for it.
#include "kernels/implementations.h"

namespace ruxa {

namespace {

bool Runs(VectorKernel kernel) {
#if defined(RUXA_KERNEL_CAP)
  if (static_cast<int>(kernel) > RUXA_KERNEL_CAP) return false;
#endif
#if defined(RUXA_X86)
  __builtin_cpu_init();
  switch (kernel) {
    case VectorKernel::Portable:
      return true;
    case VectorKernel::Sse2:
      return __builtin_cpu_supports("sse2");
    case VectorKernel::Avx2:
      // The walk compiled for AVX2 uses BMI2 as well (every AVX2 processor has it).
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
             __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    case VectorKernel::Avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             Runs(VectorKernel::Avx2);
    default:
      return false;
  }
#elif defined(RUXA_NEON)
  return kernel == VectorKernel::Portable || kernel == VectorKernel::Neon;
#else
  return kernel == VectorKernel::Portable;
#endif
}

const Kernels& TableOf(VectorKernel kernel) {
  switch (kernel) {
#if defined(RUXA_X86)
    case VectorKernel::Sse2:
      return kernels::kSse2;
    case VectorKernel::Avx2:
      return kernels::kAvx2;
    case VectorKernel::Avx512:
      return __builtin_cpu_supports("avx512vbmi2") ? kernels::kAvx512Vbmi2 : kernels::kAvx512;
#endif
#if defined(RUXA_NEON)
    case VectorKernel::Neon:
      return kernels::kNeon;
#endif
    default:
      return kernels::kPortable;
  }
}

const Kernels* g_active = &TableOf(AvailableVectorKernels().back());

}  // namespace

const Kernels& ActiveKernels() { return *g_active; }

std::vector<VectorKernel> AvailableVectorKernels() {
  std::vector<VectorKernel> kernels;
  for (const VectorKernel k : {VectorKernel::Portable, VectorKernel::Sse2, VectorKernel::Avx2,
                               VectorKernel::Avx512, VectorKernel::Neon}) {
    if (Runs(k)) kernels.push_back(k);
  }
  return kernels;
}

void UseVectorKernel(VectorKernel kernel) { g_active = &TableOf(kernel); }

VectorKernel ActiveVectorKernel() { return g_active->kind; }

}  // namespace ruxa

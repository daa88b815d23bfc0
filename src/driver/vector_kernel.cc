#include "driver/vector_kernel.h"

namespace ruxa {

namespace {

#if defined(__x86_64__) || defined(__i386__)
bool Supports(VectorKernel kernel) {
  __builtin_cpu_init();
  switch (kernel) {
    case VectorKernel::Sse2:
      return __builtin_cpu_supports("sse2");
    case VectorKernel::Avx2:
      return __builtin_cpu_supports("avx2");
    case VectorKernel::Avx512:
      return __builtin_cpu_supports("avx512bw");
    default:
      return true;
  }
}
#else
bool Supports(VectorKernel kernel) { return kernel == VectorKernel::Portable; }
#endif

VectorKernel g_active = AvailableVectorKernels().back();

}  // namespace

std::vector<VectorKernel> AvailableVectorKernels() {
  std::vector<VectorKernel> kernels;
  for (const VectorKernel k :
       {VectorKernel::Portable, VectorKernel::Sse2, VectorKernel::Avx2, VectorKernel::Avx512}) {
    if (Supports(k)) kernels.push_back(k);
  }
  return kernels;
}

void UseVectorKernel(VectorKernel kernel) { g_active = kernel; }

VectorKernel ActiveVectorKernel() { return g_active; }

bool HasByteCompress() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool has = __builtin_cpu_supports("avx512vbmi2");
  return has && g_active == VectorKernel::Avx512;
#else
  return false;
#endif
}

}  // namespace ruxa

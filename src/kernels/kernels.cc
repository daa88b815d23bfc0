// The byte kernels, one copy per instruction set.
#include "kernels/kernels.h"

#define RUXA_SIMD_SPACE ruxa::bytes
#define RUXA_SIMD_BODY "kernels/bytes.inc"
#include "simd/each_isa.h"

namespace ruxa {

const Kernels& ActiveKernels() { return bytes::ForKernel(ActiveVectorKernel()); }

}  // namespace ruxa

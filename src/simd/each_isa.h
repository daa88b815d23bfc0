// Compiles one file of block code once per vector type, each copy for its instruction set:
//
//   #define RUXA_SIMD_SPACE ruxa::some_space
//   #define RUXA_SIMD_BODY "folder/code.inc"
//   #include "simd/each_isa.h"
//
// puts a copy of the code in RUXA_SIMD_SPACE::portable, ::sse2, ::avx2, ::avx512 and ::neon (as
// the processor family has them), each inside its instruction set's target region and seeing
// its vector type as `Vec` and `Cmp`. The code defines `kEntry`, of the same type in every copy
// (a table of its functions); RUXA_SIMD_SPACE::ForKernel(kind) gives the copy of an instruction
// set. Included once per body: no include guard.
#include "simd/portable.h"
#if defined(RUXA_X86)
#include "simd/avx2.h"
#include "simd/avx512.h"
#include "simd/sse2.h"
#endif
#if defined(RUXA_NEON)
#include "simd/neon.h"
#endif

namespace RUXA_SIMD_SPACE::portable {
using namespace simd::portable;
#include RUXA_SIMD_BODY
}  // namespace RUXA_SIMD_SPACE::portable

#if defined(RUXA_X86)
RUXA_TARGET_REGION(RUXA_SSE2_TARGET)
namespace RUXA_SIMD_SPACE::sse2 {
using namespace simd::sse2;
#include RUXA_SIMD_BODY
}  // namespace RUXA_SIMD_SPACE::sse2
RUXA_TARGET_REGION_END

RUXA_TARGET_REGION(RUXA_AVX2_TARGET)
namespace RUXA_SIMD_SPACE::avx2 {
using namespace simd::avx2;
#include RUXA_SIMD_BODY
}  // namespace RUXA_SIMD_SPACE::avx2
RUXA_TARGET_REGION_END

RUXA_TARGET_REGION(RUXA_AVX512_TARGET)
namespace RUXA_SIMD_SPACE::avx512 {
using namespace simd::avx512;
#include RUXA_SIMD_BODY
}  // namespace RUXA_SIMD_SPACE::avx512
RUXA_TARGET_REGION_END
#endif

#if defined(RUXA_NEON)
namespace RUXA_SIMD_SPACE::neon {
using namespace simd::neon;
#include RUXA_SIMD_BODY
}  // namespace RUXA_SIMD_SPACE::neon
#endif

namespace RUXA_SIMD_SPACE {
inline const auto& ForKernel(VectorKernel kind) {
  switch (kind) {
#if defined(RUXA_X86)
    case VectorKernel::Sse2:
      return sse2::kEntry;
    case VectorKernel::Avx2:
      return avx2::kEntry;
    case VectorKernel::Avx512:
      return avx512::kEntry;
#endif
#if defined(RUXA_NEON)
    case VectorKernel::Neon:
      return neon::kEntry;
#endif
    default:
      return portable::kEntry;
  }
}
}  // namespace RUXA_SIMD_SPACE

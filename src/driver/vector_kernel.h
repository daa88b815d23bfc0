#ifndef RUXA_DRIVER_VECTOR_KERNEL_H_
#define RUXA_DRIVER_VECTOR_KERNEL_H_

#include <vector>

namespace ruxa {

/// The ways the scanning loops can run: one byte at a time, or 16, 32 or 64 bytes per
/// instruction. Every one gives the same bytes; the widest the processor runs is chosen when the
/// program starts.
enum class VectorKernel { Portable, Sse2, Avx2, Avx512 };

/// The kernels this processor can run, the portable one first.
std::vector<VectorKernel> AvailableVectorKernels();
/// Makes every later scan use `kernel` (one of the available ones): for tests and fuzzers.
void UseVectorKernel(VectorKernel kernel);
/// The kernel in use.
VectorKernel ActiveVectorKernel();
/// Whether the processor compresses bytes by mask in one instruction (with the 64-byte kernel).
bool HasByteCompress();

}  // namespace ruxa

#endif  // RUXA_DRIVER_VECTOR_KERNEL_H_

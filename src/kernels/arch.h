#ifndef RUXA_KERNELS_ARCH_H_
#define RUXA_KERNELS_ARCH_H_

// The one place that says which processor family this build is for: RUXA_X86 (SSE2, AVX2 and
// AVX-512 kernels, chosen at start) or RUXA_NEON (little-endian AArch64); any other processor
// has the plain C++ kernels only.
#if defined(__x86_64__) || defined(__i386__)
#define RUXA_X86 1
#elif defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define RUXA_NEON 1
#endif

#endif  // RUXA_KERNELS_ARCH_H_

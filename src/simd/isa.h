#ifndef RUXA_SIMD_ISA_H_
#define RUXA_SIMD_ISA_H_

// The one place that says which processor family this build is for, and how a file asks the
// compiler for an instruction set. RUXA_X86: SSE2, AVX2 and AVX-512 vector types, chosen when
// the program starts; RUXA_NEON (little-endian AArch64): NEON's. Any processor has the plain
// C++ one.
#if defined(__x86_64__) || defined(__i386__)
#define RUXA_X86 1
#elif defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define RUXA_NEON 1
#endif

// Every function defined between RUXA_TARGET_REGION(t) and RUXA_TARGET_REGION_END is compiled
// for the instruction set `t` names; a file that holds one vector type is one such region.
#define RUXA_PRAGMA(x) _Pragma(#x)
#if defined(__clang__)
#define RUXA_TARGET_REGION(t) \
  RUXA_PRAGMA(clang attribute push(__attribute__((target(t))), apply_to = function))
#define RUXA_TARGET_REGION_END _Pragma("clang attribute pop")
#else
#define RUXA_TARGET_REGION(t) _Pragma("GCC push_options") RUXA_PRAGMA(GCC target(t))
#define RUXA_TARGET_REGION_END _Pragma("GCC pop_options")
#endif

// For the few functions of block code that must be taken into their caller, which the compiler
// may otherwise leave out of line (a template, a large body called once per block).
#define RUXA_INLINE inline __attribute__((always_inline))

// The instruction sets of the x86 vector types. AVX2 and AVX-512 come with BMI1, BMI2 and
// POPCNT, which every processor with either has: shifts by a variable count and bit scans then
// take one instruction each.
#define RUXA_SSE2_TARGET "sse2"
#define RUXA_AVX2_TARGET "avx2,bmi,bmi2,popcnt"
#define RUXA_AVX512_TARGET "avx512f,avx512bw,avx512vbmi2,avx2,bmi,bmi2,popcnt"

namespace ruxa {

/// The instruction sets the vector types are written for: plain C++, then x86's narrowest
/// first, then AArch64's.
enum class VectorKernel { Portable, Sse2, Avx2, Avx512, Neon };

}  // namespace ruxa

#endif  // RUXA_SIMD_ISA_H_

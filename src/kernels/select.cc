// The one place that knows which instruction sets this processor runs: the list below gives
// each one's name and whether the processor has it. The widest one is chosen when the program
// starts; tests, fuzzers and the benchmark may choose another (ScopedVectorKernel), the
// programs users run never do.
#include <atomic>

#include "kernels/kernels.h"

namespace ruxa {

namespace {

struct InstructionSet {
  VectorKernel kind;
  std::string_view name;
  bool (*runs)();
};

#if defined(RUXA_X86)
// Whether the processor has an x86 feature; the builtin takes its name only as a literal.
#define RUXA_HAS(feature) (__builtin_cpu_init(), __builtin_cpu_supports(feature) != 0)
// Code compiled for AVX2 uses BMI1, BMI2 and POPCNT as well (every AVX2 processor has them).
bool RunsAvx2() {
  return RUXA_HAS("avx2") && RUXA_HAS("bmi") && RUXA_HAS("bmi2") && RUXA_HAS("popcnt");
}
#endif

// Narrowest first: the last one the processor runs is the one chosen.
constexpr InstructionSet kInstructionSets[] = {
    {VectorKernel::Portable, "portable", [] { return true; }},
#if defined(RUXA_X86)
    {VectorKernel::Sse2, "sse2", [] { return RUXA_HAS("sse2"); }},
    {VectorKernel::Avx2, "avx2", RunsAvx2},
    {VectorKernel::Avx512, "avx512",
     [] {
       return RUXA_HAS("avx512f") && RUXA_HAS("avx512bw") && RUXA_HAS("avx512vbmi2") && RunsAvx2();
     }},
#endif
#if defined(RUXA_NEON)
    {VectorKernel::Neon, "neon", [] { return true; }},
#endif
};

// The widest one the processor runs.
std::atomic<VectorKernel> g_active{AvailableVectorKernels().back()};

}  // namespace

VectorKernel ActiveVectorKernel() { return g_active.load(std::memory_order_relaxed); }

std::vector<VectorKernel> AvailableVectorKernels() {
  std::vector<VectorKernel> kernels;
  for (const InstructionSet& set : kInstructionSets) {
    if (set.runs()) kernels.push_back(set.kind);
  }
  return kernels;
}

std::string_view KernelName(VectorKernel kernel) {
  for (const InstructionSet& set : kInstructionSets) {
    if (set.kind == kernel) return set.name;
  }
  return "none";
}

std::optional<VectorKernel> AvailableKernelNamed(std::string_view name) {
  for (const InstructionSet& set : kInstructionSets) {
    if (set.name == name && set.runs()) return set.kind;
  }
  return std::nullopt;
}

ScopedVectorKernel::ScopedVectorKernel(VectorKernel kernel) : before_(g_active.exchange(kernel)) {}

ScopedVectorKernel::~ScopedVectorKernel() { g_active.store(before_); }

}  // namespace ruxa

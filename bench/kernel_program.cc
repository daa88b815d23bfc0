// html2Ruxa or doc2Ruxa (RUXA_BENCH_HTML chooses) with the kernels of one instruction set, for
// the benchmark: it times every kernel from one build. The programs users run choose the widest
// kernels the processor runs and take no such argument.
//
//   bench_html2Ruxa KERNEL [ARGUMENT...]   the program, with KERNEL's kernels
//   bench_html2Ruxa --kernels              the kernels this processor runs, narrowest first
#include <cstdio>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "kernels/kernels.h"
#if defined(RUXA_BENCH_HTML)
#include "html2Ruxa/html_converter.h"
#define RUXA_PROFILE ruxa::kHtmlProfile
#else
#include "doc2Ruxa/doc_converter.h"
#define RUXA_PROFILE ruxa::kDocProfile
#endif

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "--kernels") {
    for (const ruxa::VectorKernel kernel : ruxa::AvailableVectorKernels()) {
      std::printf("%.*s\n", static_cast<int>(ruxa::KernelName(kernel).size()),
                  ruxa::KernelName(kernel).data());
    }
    return 0;
  }
  const std::optional<ruxa::VectorKernel> kernel = ruxa::AvailableKernelNamed(first);
  if (!kernel) {
    std::fprintf(stderr, "usage: %s KERNEL [ARGUMENT...] | --kernels\n", argv[0]);
    return 2;
  }
  const ruxa::ScopedVectorKernel use(*kernel);
  return ruxa::RunDriver(RUXA_PROFILE, std::vector<std::string>(argv + 2, argv + argc));
}

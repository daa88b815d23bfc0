// The conversion alone: each input is read into memory first, then converted in batch mode with
// each kernel this processor runs, into an output that only counts the bytes. No file is written
// and there is no second thread, so the figures say what the converter costs by itself, apart from
// the load and the write it overlaps with in the programs.
//
//   convert_in_memory [--kernel NAME] FILE...
//
// With --kernel, only that kernel runs (for a profile of one kernel).
// FILEs ending in ".doc" go through the document converter, the others through the HTML one.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "doc2Ruxa/doc_converter.h"
#include "html2Ruxa/html_converter.h"
#include "kernels/kernels.h"

namespace {

class CountingStream : public ruxa::OutputStream {
 public:
  std::size_t bytes = 0;

 protected:
  bool Sink(const std::uint8_t*, std::size_t size) override {
    bytes += size;
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  std::string only;
  if (files.size() >= 2 && files[0] == "--kernel") {
    only = files[1];
    files.erase(files.begin(), files.begin() + 2);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: convert_in_memory [--kernel NAME] FILE...\n");
    return 2;
  }
  constexpr int kRounds = 7;
  for (const std::string& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
    const std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(in)), {});
    const bool doc = file.size() >= 4 && file.compare(file.size() - 4, 4, ".doc") == 0;
    std::vector<std::uint8_t> buffer(input.size());
    for (const ruxa::VectorKernel kernel : ruxa::AvailableVectorKernels()) {
      if (!only.empty() && only != ruxa::KernelName(kernel)) continue;
      const ruxa::ScopedVectorKernel use(kernel);
      double best = 1e30;
      std::size_t written = 0;
      for (int round = 0; round < kRounds; ++round) {
        std::copy(input.begin(), input.end(), buffer.begin());  // batch mode rewrites it
        ruxa::SourceBuffer source{buffer.data(), buffer.size()};
        CountingStream out, console;
        const auto start = std::chrono::steady_clock::now();
        if (doc) {
          ruxa::ConvertDoc(source, out, console, ruxa::RunMode::Batch);
        } else {
          ruxa::ConvertHtml(source, out, console, ruxa::RunMode::Batch);
        }
        out.Flush();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
        written = out.bytes;
      }
      std::printf("%-28s %-9s %8.1f ms  %6.2f GB/s  (%zu bytes in, %zu out)\n", file.c_str(),
                  std::string(ruxa::KernelName(kernel)).c_str(), best,
                  static_cast<double>(input.size()) / best / 1e6, input.size(), written);
    }
  }
  return 0;
}

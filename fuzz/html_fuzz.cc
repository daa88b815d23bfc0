// Feeds arbitrary bytes to the HTML converter in both run modes and checks the output's
// properties, and that it equals the byte-by-byte model of the format, with every block scanner
// the processor can run, whole and while the page loads.
#include <string>
#include <vector>

#include "check.h"
#include "html2Ruxa/html_converter.h"
#include "kernels/kernels.h"
#include "reference.h"
#include "stepped_load.h"

namespace {
// Steps of 1 to 70 bytes, or all but the last few bytes at once; the last byte chooses.
std::vector<std::size_t> Plan(const std::uint8_t* data, std::size_t size) {
  const std::size_t choice = size == 0 ? 0 : data[size - 1] % 72;
  if (choice < 70) return {choice + 1};
  return {size > 5 ? size - 5 : 1, choice == 70 ? 1u : 2u};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ruxa;
  // Every block scanner this processor runs, each held against the same model.
  static const std::vector<VectorKernel> kernels = AvailableVectorKernels();
  for (const VectorKernel kernel : kernels) {
    const ScopedVectorKernel use(kernel);
    for (const RunMode mode : {RunMode::Batch, RunMode::Single}) {
      std::vector<std::uint8_t> page(data, data + size);
      StringOutputStream out, console;
      SourceBuffer source{page.data(), page.size()};
      ConvertHtml(source, out, console, mode);
      const std::string& file = out.str();
      const reference::Result model =
          reference::Html(std::vector<std::uint8_t>(data, data + size), mode == RunMode::Batch);

      FUZZ_CHECK(file.starts_with("Ruxa"));
      FUZZ_CHECK(file.size() >= model.header && (model.header - 4) % 6 == 0);
      const std::string body = file.substr(model.header);
      FUZZ_CHECK(body.find('\0') == std::string::npos);
      FUZZ_CHECK(body.size() <= size);
      // Batch mode prints only head messages; single mode echoes the body, with a head message
      // wherever a "<he" is reached (the page's own text may hold those words too).
      const std::string message = "removing the head";
      if (mode == RunMode::Batch) {
        FUZZ_CHECK(console.str().size() % message.size() == 0);
        for (std::size_t at = 0; at < console.str().size(); at += message.size()) {
          FUZZ_CHECK(console.str().compare(at, message.size(), message) == 0);
        }
      } else if (std::string(data, data + size).find("<he") == std::string::npos) {
        FUZZ_CHECK(console.str() == body);
      }
      FUZZ_CHECK(file == model.file);
      FUZZ_CHECK(console.str() == model.console);
      // The same page while it loads, in steps the input chooses.
      const auto stepped = testing::ConvertStepped(
          std::vector<std::uint8_t>(data, data + size), Plan(data, size),
          [mode](SourceBuffer& source, OutputStream& out, OutputStream& echo) {
            ConvertHtml(source, out, echo, mode);
          });
      FUZZ_CHECK(stepped.first == model.file && stepped.second == model.console);
    }
  }
  return 0;
}

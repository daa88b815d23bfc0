// Feeds arbitrary bytes to the HTML converter in both run modes and checks the output's
// properties, and that it equals the byte-by-byte model of the format, with every block scanner
// the processor can run.
#include <string>
#include <vector>

#include "check.h"
#include "driver/vector_kernel.h"
#include "html2Ruxa/html_converter.h"
#include "reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ruxa;
  // Every block scanner this processor runs, each held against the same model.
  static const std::vector<VectorKernel> kernels = AvailableVectorKernels();
  for (const VectorKernel kernel : kernels) {
    UseVectorKernel(kernel);
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
    }
  }
  return 0;
}

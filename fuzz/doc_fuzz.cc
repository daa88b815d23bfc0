// Feeds arbitrary bytes to the document converter, as they are and made into a recognised
// document (padded past the layout marker, which is set), and checks the output's properties
// and that it equals the byte-by-byte model of the format, whole and while it loads.
#include <algorithm>
#include <string>
#include <vector>

#include "check.h"
#include "doc2Ruxa/doc_converter.h"
#include "kernels/kernels.h"
#include "reference.h"
#include "stepped_load.h"

namespace {

// `slack` > 0 sets the output bound that many bytes below what the model writes, when it writes
// anything, so both sides of the bound are reached.
void Check(std::vector<std::uint8_t> doc, std::uint64_t slack) {
  using namespace ruxa;
  const reference::Result model = reference::Doc(doc);
  const std::uint64_t bound = slack == 0 || model.file.empty()
                                  ? DocConverter::OutputBound(doc.size())
                                  : model.file.size() - std::min<std::uint64_t>(slack - 1, 1);
  StringOutputStream out, console;
  SourceBuffer source{doc.data(), doc.size()};
  const std::vector<std::uint8_t> original = doc;
  const ConvertOutcome outcome = DocConverter(out, console).Convert(source, bound);
  const std::string& file = out.str();
  if (model.file.size() > bound) {
    FUZZ_CHECK(outcome == ConvertOutcome::OverBound);
    FUZZ_CHECK(console.str() == "Invalid doc file! \n");
    return;
  }
  FUZZ_CHECK(file.find('\0') == std::string::npos);
  if (outcome == ConvertOutcome::Unrecognised) {
    FUZZ_CHECK(file.empty());
    FUZZ_CHECK(console.str() == "Invalid doc file! \n");
  } else {
    FUZZ_CHECK(console.str().empty());
  }
  FUZZ_CHECK(file == model.file);
  FUZZ_CHECK(console.str() == model.console);
  // The same document while it loads, in steps the document chooses.
  const std::size_t choice = original.empty() ? 0 : original.back() % 72;
  const std::vector<std::size_t> plan =
      choice < 70 ? std::vector<std::size_t>{choice + 1}
                  : std::vector<std::size_t>{original.size() > 5 ? original.size() - 5 : 1, 1};
  const auto stepped = testing::ConvertStepped(
      original, plan, [bound](SourceBuffer& source, OutputStream& out, OutputStream& echo) {
        DocConverter(out, echo).Convert(source, bound);
      });
  FUZZ_CHECK(stepped.first == file && stepped.second == console.str());
}

void CheckAll(const std::uint8_t* data, std::size_t size) {
  Check(std::vector<std::uint8_t>(data, data + size), 0);
  // The fuzzer's inputs are mostly short: place them around the marker so both layouts and the
  // ends of the buffer are reached. The first byte chooses the layout.
  if (size == 0) return;
  std::vector<std::uint8_t> doc(data + 1, data + size);
  const std::size_t marker = ruxa::kLayoutMarkerOffset;
  if (doc.size() <= marker)
    doc.insert(doc.begin() + static_cast<std::ptrdiff_t>(doc.size() / 2), marker + 1 - doc.size(),
               0x20);
  doc[marker] = data[0] & 1 ? 'D' : '6';
  Check(doc, data[0] >> 1 & 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Every vector kernel this processor runs, each held against the same model.
  static const std::vector<ruxa::VectorKernel> kernels = ruxa::AvailableVectorKernels();
  for (const ruxa::VectorKernel kernel : kernels) {
    const ruxa::ScopedVectorKernel use(kernel);
    CheckAll(data, size);
  }
  return 0;
}

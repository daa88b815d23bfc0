// Feeds arbitrary bytes to the document converter, as they are and made into a recognised
// document (padded past the layout marker, which is set), and checks the output's properties
// and that it equals the byte-by-byte model of the format.
#include <string>
#include <vector>

#include "check.h"
#include "doc2Ruxa/doc_converter.h"
#include "reference.h"

namespace {

void Check(std::vector<std::uint8_t> doc) {
  using namespace ruxa;
  const reference::Result model = reference::Doc(doc);
  StringOutputStream out, console;
  SourceBuffer source{doc.data(), doc.size()};
  const ConvertOutcome outcome = ConvertDoc(source, out, console, RunMode::Batch);
  const std::string& file = out.str();
  FUZZ_CHECK(file.find('\0') == std::string::npos);
  if (outcome == ConvertOutcome::Unrecognised) {
    FUZZ_CHECK(file.empty());
    FUZZ_CHECK(console.str() == "Invalid doc file! \n");
  } else {
    FUZZ_CHECK(console.str().empty());
  }
  FUZZ_CHECK(file == model.file);
  FUZZ_CHECK(console.str() == model.console);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check(std::vector<std::uint8_t>(data, data + size));
  // The fuzzer's inputs are mostly short: place them around the marker so both layouts and the
  // ends of the buffer are reached. The first byte chooses the layout.
  if (size == 0) return 0;
  std::vector<std::uint8_t> doc(data + 1, data + size);
  const std::size_t marker = ruxa::kLayoutMarkerOffset;
  if (doc.size() <= marker)
    doc.insert(doc.begin() + static_cast<std::ptrdiff_t>(doc.size() / 2), marker + 1 - doc.size(),
               0x20);
  doc[marker] = data[0] & 1 ? 'D' : '6';
  Check(doc);
  return 0;
}

#include "doc2Ruxa/doc_converter.h"

#include <cstring>
#include <initializer_list>

#include "driver/name_rules.h"

namespace ruxa {

const ConverterProfile kDocProfile = {
    .banner = "--- Ruxa Bramlink 2005 --- \n",
    .matches_name = MatchesDocName,
    .output_extension = ".dox",
    .batch_output_error = "Error, invalid file name!\n",
    .convert = ConvertDoc,
};

ConvertOutcome ConvertDoc(SourceBuffer& source, OutputStream& out, OutputStream& console,
                          RunMode /*mode*/) {
  return DocConverter(out, console).Convert(source);
}

namespace {

struct Layout {
  std::initializer_list<std::size_t> tested;  // offsets from p that must match `expected`
  std::initializer_list<std::uint8_t> expected;
  std::initializer_list<std::size_t> erased;  // offsets from p zeroed when the run starts
  std::uint8_t terminator;
};

constexpr std::uint8_t kSignatureStart = 0x02;
const Layout kLayoutD = {{0, 2}, {0x02, 0xD9}, {0, 2}, 0x04};
const Layout kLayout6 = {{0, 2, 4}, {0x02, 0x03, 0x01}, {0, 2, 4, 6}, 0x14};

bool SignatureAt(const Layout& layout, const std::uint8_t* b, std::size_t n, std::size_t p) {
  const std::uint8_t* want = layout.expected.begin();
  for (const std::size_t offset : layout.tested) {
    if (p + offset >= n || b[p + offset] != *want++) return false;
  }
  return true;
}

}  // namespace

ConvertOutcome DocConverter::Convert(SourceBuffer& source) {
  std::uint8_t* const b = source.data;
  const std::size_t n = source.size;
  if (n <= kLayoutMarkerOffset ||
      (b[kLayoutMarkerOffset] != static_cast<std::uint8_t>(LayoutMarker::D) &&
       b[kLayoutMarkerOffset] != static_cast<std::uint8_t>(LayoutMarker::Six))) {
    console_.Write("Invalid doc file! \n");
    return ConvertOutcome::Rejected;
  }
  const Layout& layout =
      b[kLayoutMarkerOffset] == static_cast<std::uint8_t>(LayoutMarker::D) ? kLayoutD : kLayout6;

  // Every signature begins with 02, so the scan jumps from one 02 to the next. The terminator
  // found for one run usually serves the following ones too; it is looked up again only when the
  // scan has passed it or a signature has zeroed it (B[p+6] in layout '6' may be a terminator).
  std::size_t terminator = 0;
  bool terminator_known = false;
  for (std::size_t p = 0; p < n; ++p) {
    const void* start = std::memchr(b + p, kSignatureStart, n - p);
    if (start == nullptr) break;
    p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(start) - b);
    if (!SignatureAt(layout, b, n, p)) continue;
    for (const std::size_t offset : layout.erased) {
      if (p + offset < n) b[p + offset] = 0;
    }
    if (!terminator_known || terminator < p ||
        (terminator < n && b[terminator] != layout.terminator)) {
      const void* end = std::memchr(b + p, layout.terminator, n - p);
      terminator = end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - b) : n;
      terminator_known = true;
    }
    out_.WriteNonZero(b + p, terminator - p);
  }
  return ConvertOutcome::Converted;
}

}  // namespace ruxa

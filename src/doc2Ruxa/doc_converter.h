#ifndef RUXA_DOC2RUXA_DOC_CONVERTER_H_
#define RUXA_DOC2RUXA_DOC_CONVERTER_H_

#include "driver/converter_profile.h"

namespace ruxa {

/// Offset of the byte that tells the two document layouts apart ('D' or '6').
inline constexpr std::size_t kLayoutMarkerOffset = 2095;

/// The document byte at `kLayoutMarkerOffset`.
enum class LayoutMarker : std::uint8_t { D = 'D', Six = '6' };

/// Pulls the text runs out of a word-processor document into plain text (.dox), without reading
/// the document's structure. The layout marker chooses a start signature and a terminator:
///   'D'  B[p] = 02, B[p+2] = D9                run ends at the first 04
///   '6'  B[p] = 02, B[p+2] = 03, B[p+4] = 01   run ends at the first 14; B[p+6] goes too
/// At each signature, in order, its bytes are zeroed, then every non-zero byte from p up to the
/// terminator (or the end) is written. The scan resumes at p + 1, so a signature inside a run
/// starts a run of its own and the rest of that text is written again.
///
/// Nested signatures make the output grow with the square of the input, so the output is bounded
/// (`OutputBound`); no real document comes near it.
class DocConverter {
 public:
  DocConverter(OutputStream& out, OutputStream& console) : out_(out), console_(console) {}

  /// The most a document of `size` bytes may give: 16 times its size plus 64 MiB.
  static std::uint64_t OutputBound(std::size_t size);

  /// Converts `source`, zeroing signature bytes in place. A buffer shorter than 2096 bytes or
  /// with another marker prints "Invalid doc file! \n", writes nothing and returns Unrecognised.
  /// An output that would pass `max_output` bytes prints the same line and returns OverBound;
  /// part of it may have been written, and the caller is to throw that away.
  ConvertOutcome Convert(SourceBuffer& source, std::uint64_t max_output);
  ConvertOutcome Convert(SourceBuffer& source) { return Convert(source, OutputBound(source.size)); }

 private:
  OutputStream& out_;
  OutputStream& console_;
};

/// The converter operation of doc2Ruxa; the mode changes nothing.
ConvertOutcome ConvertDoc(SourceBuffer& source, OutputStream& out, OutputStream& console,
                          RunMode mode);

/// The driver settings of doc2Ruxa.
extern const ConverterProfile kDocProfile;

}  // namespace ruxa

#endif  // RUXA_DOC2RUXA_DOC_CONVERTER_H_

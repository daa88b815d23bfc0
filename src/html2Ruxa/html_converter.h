#ifndef RUXA_HTML2RUXA_HTML_CONVERTER_H_
#define RUXA_HTML2RUXA_HTML_CONVERTER_H_

#include "driver/converter_profile.h"

namespace ruxa {

/// Per-page state shared by the colour pass and the head erase. Only two questions are ever asked
/// of it: has a colour field been written (== ColourWritten), has the head been erased
/// (== HeadErased). Erasing the head overwrites ColourWritten.
enum class ConversionState { Initial = 0, ColourWritten = 2, HeadErased = 6 };

/// Turns one HTML page into a styled text file (.htx):
///   "Ruxa"          four-byte magic
///   colour fields   six bytes each, normally text colour then background colour, copied from the
///                   body tag's attributes or defaulted to "000000" and "ffffff"
///   body            the page's text: head erased, tags removed, eight entities replaced by
///                   ISO 8859-1 bytes, and (batch mode only) <br> forms turned into "\n" escapes.
/// In single mode every body byte is echoed to the console as it is written.
class HtmlConverter {
 public:
  HtmlConverter(OutputStream& out, OutputStream& console, RunMode mode)
      : out_(out), console_(console), mode_(mode) {}

  /// Runs the passes in order: magic, colour header, then the text (with the line-break rewrite
  /// folded in when in batch mode). Only reads `source`.
  void Convert(const SourceBuffer& source);

 private:
  void WriteColourHeader(const std::uint8_t* b, std::size_t n);
  void WriteText(const std::uint8_t* b, std::size_t n);
  void WriteBody(const std::uint8_t* data, std::size_t size);

  OutputStream& out_;
  OutputStream& console_;
  const RunMode mode_;
  ConversionState state_ = ConversionState::Initial;
};

/// The converter operation of html2Ruxa.
ConvertOutcome ConvertHtml(SourceBuffer& source, OutputStream& out, OutputStream& console,
                           RunMode mode);

/// The driver settings of html2Ruxa.
extern const ConverterProfile kHtmlProfile;

}  // namespace ruxa

#endif  // RUXA_HTML2RUXA_HTML_CONVERTER_H_

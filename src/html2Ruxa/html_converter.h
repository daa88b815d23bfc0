#ifndef RUXA_HTML2RUXA_HTML_CONVERTER_H_
#define RUXA_HTML2RUXA_HTML_CONVERTER_H_

#include "driver/converter_profile.h"
#include "html2Ruxa/html_rules.h"

namespace ruxa {

/// Turns one HTML page into a styled text file (.htx):
///   "Ruxa"          four-byte magic
///   colour fields   six bytes each, normally text colour then background colour, copied from the
///                   body tag's attributes or defaulted to "000000" and "ffffff"
///   body            the page's text: head erased, tags removed, eight entities replaced by
///                   ISO 8859-1 bytes, and (batch mode only) <br> forms turned into "\n" escapes.
/// In single mode the body is echoed to the console as well.
class HtmlConverter {
 public:
  HtmlConverter(OutputStream& out, OutputStream& console, RunMode mode)
      : out_(out), console_(console), mode_(mode) {}

  /// Writes the magic, the colour header, then the text (with the line-break rewrite folded in
  /// when in batch mode), which it gathers in `source`'s own memory and writes last.
  void Convert(const SourceBuffer& source);

 private:
  OutputStream& out_;
  OutputStream& console_;
  const RunMode mode_;
  ConversionState head_ = ConversionState::Initial;  ///< the head erase's state
};

/// The converter operation of html2Ruxa.
ConvertOutcome ConvertHtml(SourceBuffer& source, OutputStream& out, OutputStream& console,
                           RunMode mode);

/// The driver settings of html2Ruxa.
extern const ConverterProfile kHtmlProfile;

}  // namespace ruxa

#endif  // RUXA_HTML2RUXA_HTML_CONVERTER_H_

#ifndef RUXA_DRIVER_CONVERTER_PROFILE_H_
#define RUXA_DRIVER_CONVERTER_PROFILE_H_

#include <string_view>

#include "driver/name_rules.h"
#include "driver/output_stream.h"
#include "driver/source_buffer.h"

namespace ruxa {

/// The one call through which the driver runs a converter: convert `source` into `out` (already
/// open). Whatever the converter reports goes to `console`. It may rewrite `source` in place and
/// keeps nothing after it returns.
using ConverterFn = ConvertOutcome (*)(SourceBuffer& source, OutputStream& out,
                                       OutputStream& console, RunMode mode);

/// Everything in which html2Ruxa and doc2Ruxa differ; the driver is the same code for both.
struct ConverterProfile {
  std::string_view name;       ///< the program's name, for messages and --help
  std::string_view summary;    ///< one line: what the program makes of what
  std::string_view name_rule;  ///< for --help: which files a batch converts
  std::string_view banner;     ///< printed before each conversion
  bool (*matches_name)(std::string_view, NameUnits);  ///< which folder entries a batch converts
  std::string_view output_extension;    ///< four bytes, written over the end of the input name
  std::string_view batch_output_error;  ///< message when a batch cannot create an output
  bool rejects_inputs;                  ///< whether the converter may reject an input (status 2)
  ConverterFn convert;
};

}  // namespace ruxa

#endif  // RUXA_DRIVER_CONVERTER_PROFILE_H_

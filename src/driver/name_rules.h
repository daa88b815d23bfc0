#ifndef RUXA_DRIVER_NAME_RULES_H_
#define RUXA_DRIVER_NAME_RULES_H_

#include <string>
#include <string_view>

namespace ruxa {

/// What a character of a file name is. POSIX names are bytes, and the rules count bytes. Windows
/// names travel as UTF-8 (see platform.h), and the rules count characters, as they counted the
/// bytes of the one-byte code page the names used to come in.
enum class NameUnits { Bytes, Utf8 };

/// Batch-mode rule of html2Ruxa: a '.' then 'h' or 'H' as the fifth and fourth, or the fourth and
/// third, characters from the end. Only those positions are tested, so page.htm, page.HTML,
/// x.hxyz, a.h.xy and notes.htx all match; names under four characters never do.
bool MatchesHtmlName(std::string_view name, NameUnits units);

/// Batch-mode rule of doc2Ruxa: the name ends in exactly ".doc" or exactly ".DOC".
bool MatchesDocName(std::string_view name, NameUnits units);

/// The output name of a batch entry: its last four characters replaced by `extension` (four
/// ASCII characters), nothing else inserted or removed, so index.html becomes index..htx. `name`
/// must be at least four characters long, which every name accepted by the rules above is.
std::string DeriveOutputName(std::string_view name, std::string_view extension, NameUnits units);

}  // namespace ruxa

#endif  // RUXA_DRIVER_NAME_RULES_H_

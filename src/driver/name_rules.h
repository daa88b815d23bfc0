#ifndef RUXA_DRIVER_NAME_RULES_H_
#define RUXA_DRIVER_NAME_RULES_H_

#include <string>
#include <string_view>

namespace ruxa {

/// Batch-mode rule of html2Ruxa: a '.' then 'h' or 'H' as the fifth and fourth, or the fourth and
/// third, bytes from the end. Only those positions are tested, so page.htm, page.HTML, x.hxyz,
/// a.h.xy and notes.htx all match; names under four bytes never do.
bool MatchesHtmlName(std::string_view name);

/// Batch-mode rule of doc2Ruxa: the name ends in exactly ".doc" or exactly ".DOC".
bool MatchesDocName(std::string_view name);

/// The output name of a batch entry: its last four bytes overwritten with `extension` (four
/// bytes), nothing inserted or removed, so index.html becomes index..htx. `name` must be at least
/// four bytes long, which every name accepted by the rules above is.
std::string DeriveOutputName(std::string_view name, std::string_view extension);

}  // namespace ruxa

#endif  // RUXA_DRIVER_NAME_RULES_H_

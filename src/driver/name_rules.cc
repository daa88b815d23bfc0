#include "driver/name_rules.h"

namespace ruxa {

namespace {
// True when `name` has a '.' then 'h' or 'H' starting `from_end` bytes before its end.
bool DotThenH(std::string_view name, std::size_t from_end) {
  if (name.size() < from_end) return false;
  const std::size_t dot = name.size() - from_end;
  return name[dot] == '.' && (name[dot + 1] == 'h' || name[dot + 1] == 'H');
}
}  // namespace

bool MatchesHtmlName(std::string_view name) {
  return name.size() >= 4 && (DotThenH(name, 5) || DotThenH(name, 4));
}

bool MatchesDocName(std::string_view name) {
  return name.ends_with(".doc") || name.ends_with(".DOC");
}

std::string DeriveOutputName(std::string_view name, std::string_view extension) {
  std::string out(name);
  out.replace(out.size() - extension.size(), extension.size(), extension);
  return out;
}

}  // namespace ruxa

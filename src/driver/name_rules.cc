#include "driver/name_rules.h"

namespace ruxa {

namespace {

// Where the last `count` characters of `name` start (0 when it has fewer).
std::size_t TailStart(std::string_view name, std::size_t count, NameUnits units) {
  if (units == NameUnits::Bytes) return name.size() < count ? 0 : name.size() - count;
  std::size_t at = name.size();
  while (count > 0 && at > 0) {
    --at;
    // A UTF-8 character starts at any byte that is not a continuation byte (10xxxxxx).
    if ((static_cast<unsigned char>(name[at]) & 0xC0) != 0x80) --count;
  }
  return at;
}

// The last five characters of `name`, each as one byte: ASCII as it is, any other character as
// 0x80, which no rule tests for; shorter names are padded at the front with 0x80 as well.
std::string Tail(std::string_view name, NameUnits units) {
  std::string tail;
  for (std::size_t at = TailStart(name, 5, units); at < name.size(); ++at) {
    const auto byte = static_cast<unsigned char>(name[at]);
    if (units == NameUnits::Bytes || byte < 0x80) {
      tail += static_cast<char>(byte);
    } else if ((byte & 0xC0) != 0x80) {
      tail += '\x80';
    }
  }
  return std::string(5 - tail.size(), '\x80') + tail;
}

bool DotThenH(const std::string& tail, std::size_t at) {
  return tail[at] == '.' && (tail[at + 1] == 'h' || tail[at + 1] == 'H');
}

}  // namespace

bool MatchesHtmlName(std::string_view name, NameUnits units) {
  const std::string tail = Tail(name, units);
  return DotThenH(tail, 0) || DotThenH(tail, 1);
}

bool MatchesDocName(std::string_view name, NameUnits units) {
  const std::string tail = Tail(name, units);
  return tail.ends_with(".doc") || tail.ends_with(".DOC");
}

std::string DeriveOutputName(std::string_view name, std::string_view extension, NameUnits units) {
  return std::string(name.substr(0, TailStart(name, 4, units))) + std::string(extension);
}

}  // namespace ruxa

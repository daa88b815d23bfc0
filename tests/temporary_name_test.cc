#include "driver/temporary_name.h"

#include <gtest/gtest.h>

#include <set>

#include "driver/name_rules.h"

namespace ruxa {
namespace {

// A temporary file left by a killed run must never be taken for a page or a document by a
// later batch, and must stay in the output's folder.
TEST(TemporaryName, HiddenBesideTheOutputAndNeverFitsANameRule) {
  const struct {
    std::string target, separators, folder;
  } kCases[] = {
      {"page.htx", "/", ""},
      {"out/a.h.xy", "/", "out/"},
      {"x.dox", "/", ""},
      {"C:\\docs\\REPORT.DOC", "/\\:", "C:\\docs\\"},
  };
  std::uint64_t seed = 1;
  std::set<std::string> seen;
  for (const auto& c : kCases) {
    for (const bool short_form : {false, true}) {
      for (int i = 0; i < 50; ++i) {
        const std::string name = TemporaryName(c.target, c.separators, short_form, seed);
        ASSERT_TRUE(name.starts_with(c.folder + ".")) << name;
        const std::string base = name.substr(c.folder.size());
        EXPECT_FALSE(MatchesHtmlName(base, NameUnits::Bytes)) << name;
        EXPECT_FALSE(MatchesDocName(base, NameUnits::Bytes)) << name;
        EXPECT_TRUE(seen.insert(name).second) << name;
      }
    }
  }
}

}  // namespace
}  // namespace ruxa

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
    std::string target, separators, folder, base;
  } kCases[] = {
      {"page.htx", "/", "", "page.htx"},
      {"out/a.h.xy", "/", "out/", "a.h.xy"},
      {"x.dox", "/", "", "x.dox"},
      {"C:\\docs\\REPORT.DOC", "/\\:", "C:\\docs\\", "REPORT.DOC"},
  };
  std::uint64_t seed = 1;
  std::set<std::string> seen;
  for (const auto& c : kCases) {
    for (const bool short_form : {false, true}) {
      for (int i = 0; i < 50; ++i) {
        const std::string name = TemporaryName(c.target, c.separators, short_form, seed);
        // ".<name>.XXXXXX", or ".ruxa.XXXXXX" for a name too long to extend.
        const std::string stem = c.folder + "." + (short_form ? "ruxa" : c.base) + ".";
        ASSERT_EQ(name.substr(0, stem.size()), stem) << name;
        ASSERT_EQ(name.size(), stem.size() + 6) << name;
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

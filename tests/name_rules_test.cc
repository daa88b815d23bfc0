#include "driver/name_rules.h"

#include <gtest/gtest.h>

namespace ruxa {
namespace {

TEST(NameRules, HtmlRule) {
  const struct {
    const char* name;
    bool matches;
  } kCases[] = {
      {"page.htm", true},  {"page.html", true}, {"PAGE.HTM", true}, {"PAGE.HTML", true},
      {"x.hxyz", true},    {"notes.htx", true}, {"a.h.xy", true},   {".hab", true},
      {"page.txt", false}, {"page.ht", false},  {".ht", false},     {"", false},
      {"h.htm", true},     {"xhtml", false},    {"..h", false},     {"a.Hqr", true},
  };
  for (const auto& c : kCases) EXPECT_EQ(MatchesHtmlName(c.name), c.matches) << c.name;
}

TEST(NameRules, DocRule) {
  const struct {
    const char* name;
    bool matches;
  } kCases[] = {
      {"x.doc", true},  {"X.DOC", true},  {".doc", true},    {"x.Doc", false},
      {"x.DOc", false}, {"x.docx", false}, {"doc", false},   {"", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(MatchesDocName(c.name), c.matches) << c.name;
}

TEST(NameRules, OutputNameOverwritesLastFourBytes) {
  EXPECT_EQ(DeriveOutputName("page.htm", ".htx"), "page.htx");
  EXPECT_EQ(DeriveOutputName("index.html", ".htx"), "index..htx");
  EXPECT_EQ(DeriveOutputName("x.hxyz", ".htx"), "x..htx");
  EXPECT_EQ(DeriveOutputName("report.doc", ".dox"), "report.dox");
  EXPECT_EQ(DeriveOutputName(".hab", ".htx"), ".htx");
}

}  // namespace
}  // namespace ruxa

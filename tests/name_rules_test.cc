#include "driver/name_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/wide_text.h"

namespace ruxa {
namespace {

// Which folder entries a batch converts, and what it names their outputs. POSIX names count
// bytes; Windows names (UTF-8 here) count characters, so a name in any script fits the rules
// as its one-byte code-page form used to.
TEST(NameRules, MatchAndDerive) {
  const struct {
    std::string name;
    NameUnits units;
    bool html, doc;
    std::string htx;  // the html output name, where the rule matches
  } kCases[] = {
      {"page.htm", NameUnits::Bytes, true, false, "page.htx"},
      {"PAGE.HTML", NameUnits::Bytes, true, false, "PAGE..htx"},
      {"x.hxyz", NameUnits::Bytes, true, false, "x..htx"},
      {"a.h.xy", NameUnits::Bytes, true, false, "a..htx"},
      {".htm", NameUnits::Bytes, true, false, ".htx"},  // four bytes: only the second form
      {".ht", NameUnits::Bytes, false, false, ""},
      {"h", NameUnits::Bytes, false, false, ""},
      {"", NameUnits::Bytes, false, false, ""},
      {"page.txt", NameUnits::Bytes, false, false, ""},
      {"page.ht", NameUnits::Bytes, false, false, ""},
      {"x.doc", NameUnits::Bytes, false, true, ""},
      {"X.DOC", NameUnits::Bytes, false, true, ""},
      {".doc", NameUnits::Bytes, false, true, ""},
      {"doc", NameUnits::Bytes, false, false, ""},
      {"x.Doc", NameUnits::Bytes, false, false, ""},
      {"x.docx", NameUnits::Bytes, false, false, ""},
      {"caf\xC3\xA9.htm", NameUnits::Bytes, true, false, "caf\xC3\xA9.htx"},
      // "ab.hé": five characters, so the '.' is neither 5th nor 4th from the end; as six bytes
      // it would be.
      {"ab.h\xC3\xA9", NameUnits::Utf8, false, false, ""},
      {"ab.h\xC3\xA9", NameUnits::Bytes, true, false, "ab.htx"},
      {"\xE4\xB8\xAD\xE6\x96\x87.htm", NameUnits::Utf8, true, false,
       "\xE4\xB8\xAD\xE6\x96\x87.htx"},
      {"x.h\xF0\x9F\x93\x84z", NameUnits::Utf8, true, false, "x.htx"},  // four characters go
      {"\xC3\xA9.h", NameUnits::Utf8, false, false, ""},                // three characters
      {"\xC3\xA9.doc", NameUnits::Utf8, false, true, ""},
      {"\xC3\xA9\xC3\xA9\xC3\xA9", NameUnits::Utf8, false, false, ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(MatchesHtmlName(c.name, c.units), c.html) << c.name;
    EXPECT_EQ(MatchesDocName(c.name, c.units), c.doc) << c.name;
    if (c.html) {
      EXPECT_EQ(DeriveOutputName(c.name, ".htx", c.units), c.htx) << c.name;
    }
  }
  EXPECT_EQ(DeriveOutputName("report.doc", ".dox", NameUnits::Bytes), "report.dox");
}

TEST(WideText, NamesRoundTrip) {
  const struct {
    std::u16string utf16;
    std::string utf8;
  } kCases[] = {
      {u"", ""},
      {u"page.htm", "page.htm"},
      {u"caf\u00E9", "caf\xC3\xA9"},
      {u"\u4E2D\u6587", "\xE4\xB8\xAD\xE6\x96\x87"},
      {u"\U0001F4C4 note", "\xF0\x9F\x93\x84 note"},  // a surrogate pair: one character
      {u"a\U0001F4C4", "a\xF0\x9F\x93\x84"},          // and at the very end
      {u"\U00010000\U0010FFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},  // the first and last pairs
      {u"\u0905\u007F\u0080\u07FF\u0800",
       "\xE0\xA4\x85\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},               // lengths' edges
      {std::u16string(1, char16_t{0xD800}) + u"x", "\xED\xA0\x80x"},  // a lone high surrogate
      {std::u16string(2, char16_t{0xDC00}), "\xED\xB0\x80\xED\xB0\x80"},  // lone low surrogates
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Utf8FromUtf16(c.utf16), c.utf8);
    EXPECT_EQ(Utf16FromUtf8(c.utf8), c.utf16) << c.utf8;
  }
  // Bytes that start no valid sequence: a stray continuation byte, an overlong form, a cut-off
  // sequence, a value past Unicode.
  EXPECT_EQ(Utf16FromUtf8("a\x80"
                          "b\xC0\xAF"
                          "c\xE4\xB8"),
            u"a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD");
  EXPECT_EQ(Utf16FromUtf8("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(WideText, CommandLine) {
  const struct {
    std::string line;
    std::vector<std::string> args;
  } kCases[] = {
      {"html2Ruxa", {}},
      {"html2Ruxa   ", {}},
      {"html2Ruxa a.htm b.htx", {"a.htm", "b.htx"}},
      {"\"C:\\Program Files\\html2Ruxa.exe\" a", {"a"}},
      {"x \"my page.htm\"\t out", {"my page.htm", "out"}},
      {"x \"\"", {""}},
      {"x a\\\\b \\\\\"c d\" e", {"a\\\\b", "\\c d", "e"}},  // 2n backslashes, then a quote
      {"x a\\\"b", {"a\"b"}},                                // 2n + 1: a quote of its own
      {"x \"a\"\"b\"", {"a\"b"}},                            // "" inside quotes
      {"x \"open to the end", {"open to the end"}},
      {"x \xE4\xB8\xAD\xE6\x96\x87.htm", {"\xE4\xB8\xAD\xE6\x96\x87.htm"}},
  };
  for (const auto& c : kCases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
}

}  // namespace
}  // namespace ruxa

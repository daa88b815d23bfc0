#include "html2Ruxa/html_converter.h"

#include <gtest/gtest.h>

#include <string>

namespace ruxa {
namespace {

struct Converted {
  std::string file;
  std::string console;
};

Converted Convert(std::string page, RunMode mode) {
  StringOutputStream out, console;
  SourceBuffer source{reinterpret_cast<std::uint8_t*>(page.data()), page.size()};
  ConvertHtml(source, out, console, mode);
  return {out.str(), console.str()};
}

const std::string kDefaults = "Ruxa000000ffffff";

TEST(HtmlHeader, ColourFields) {
  const std::string pad94(94, ' '), pad95(95, ' ');
  const struct {
    std::string page;
    std::string file;
  } kCases[] = {
      {"", kDefaults},
      {"<body>", kDefaults},
      {"<body text=\"#112233\" bgcolor=\"#445566\">", "Ruxa112233445566"},
      {"<body bgcolor=\"#445566\">", "Ruxa000000445566"},
      {"<body text=\"#112233\">", "Ruxa112233"},
      {"<body bgcolor=\"#445566\" text=\"#112233\">", "Ruxa000000445566112233"},
      {"<BODY TEXT=\"#112233\" BGCOLOR=\"#445566\">", kDefaults},
      {"<body text='#112233' bgcolor=#445566>", kDefaults},
      // Not limited to the body tag: a font colour inside the window is a background field.
      {"<body><font color=\"#ff0000\">", "Ruxa000000ff0000"},
      // The tail may start 99 bytes after the '<', not 100.
      {"<bo" + pad94 + "text=\"#112233\">", "Ruxa112233"},
      {"<bo" + pad95 + "text=\"#112233\">", kDefaults},
      // Each "<bo" opens its own window, so an attribute seen by two is written twice.
      {"<bo<body text=\"#123456\">", "Ruxa123456123456"},
      // Copied unchecked: a three-digit colour takes the quote and what follows.
      {"<body text=\"#abc\">x", "Ruxaabc\">xx"},
      // All six colour bytes must be inside the page.
      {"<body text=\"#12345", kDefaults},
      {"<body text=\"#123456", "Ruxa123456"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Convert(c.page, RunMode::Batch).file, c.file) << c.page;
}

TEST(HtmlHeader, StateIsFreshForEveryPage) {
  EXPECT_EQ(Convert("<body text=\"#112233\" bgcolor=\"#445566\">", RunMode::Batch).file,
            "Ruxa112233445566");
  EXPECT_EQ(Convert("<body>", RunMode::Batch).file, kDefaults);
}

TEST(HtmlText, WholePageInBothModes) {
  const std::string page =
      "<html><head><title>t</title></head><body text=\"#112233\" bgcolor=\"#445566\">"
      "Caf&eacute; &lt;1&gt;<br>x</body></html>";
  const Converted single = Convert(page, RunMode::Single);
  EXPECT_EQ(single.file, "Ruxa112233445566Caf\xE9 <1>x");
  EXPECT_EQ(single.console, "removing the headCaf\xE9 <1>x");
  const Converted batch = Convert(page, RunMode::Batch);
  EXPECT_EQ(batch.file, "Ruxa112233445566Caf\xE9 <1>\\nx");
  EXPECT_EQ(batch.console, "removing the head");
}

TEST(HtmlText, Body) {
  using namespace std::string_literals;
  const struct {
    std::string page;
    std::string batch;   // body after the default header, batch mode
    std::string single;  // body in single mode, also the console echo
  } kCases[] = {
      {"<br>x</br>y<br/>z<br />w", "\\nx\\ny\\nz\\nw", "xyzw"},
      {"<BR>x<br class=a>y", "xy", "xy"},
      {"a < b and c > d", "a  d", "a  d"},
      {"<b>&lt;i&gt;", "<i>", "<i>"},
      {"&lt;&gt;&amp;&quot;&eacute;&egrave;&agrave;&ccedil;&nbsp;",
       "<>&\"\xE9\xE8\xE0\xE7&nbsp;", "<>&\"\xE9\xE8\xE0\xE7&nbsp;"},
      {"&LT;&#60;&amp&", "&LT;&#60;&amp&", "&LT;&#60;&amp&"},
      {"&amp;lt;", "&lt;", "&lt;"},
      {"a\0b\0"s, "ab", "ab"},
      {"a\r\nb", "a\r\nb", "a\r\nb"},
      {"<!-- a > b -->c", " b --c", " b --c"},
      {"<script>x>1</script>", "x1", "x1"},
      // A '<' or erase with no end runs to the end of the page.
      {"ab<p", "ab", "ab"},
      {"ab<head><title>t", "ab", "ab"},
      {"<br", "", ""},
      {"&lt", "&lt", "&lt"},
      // The head erase ends at the first '/' 'h' and takes the four bytes after the '/'.
      {"<head>a/hbcdefZ", "efZ", "efZ"},
      {"<head><title>/h1</title></head>X", "titleX", "titleX"},
      {"<head>abc</head>X<header>Y", "XY", "XY"},
      {"<head>a</h", "", ""},
      // In batch mode the '>' of a line-break tag does not end another tag.
      {"a<x <br> y>z", "az", "a yz"},
      // A line-break tag cut by the end of a head erase keeps the escape's 'n' only when it
      // starts on the erase's last byte.
      {"<head/hab<br>x", "nx", "brx"},
      {"<head/ha<br>x", "x", "rx"},
  };
  for (const auto& c : kCases) {
    const Converted batch = Convert(c.page, RunMode::Batch);
    EXPECT_EQ(batch.file, kDefaults + c.batch) << c.page;
    const Converted single = Convert(c.page, RunMode::Single);
    EXPECT_EQ(single.file, kDefaults + c.single) << c.page;
    // The echo is the body, with the head messages where the page has "<he".
    std::string echo = single.console;
    for (std::size_t at; (at = echo.find("removing the head")) != std::string::npos;) {
      echo.erase(at, 17);
    }
    EXPECT_EQ(echo, c.single) << c.page;
  }
}

TEST(HtmlText, HeadMessageForEveryHeadTagAfterTheFirst) {
  const Converted single = Convert("<head>a</head>X<header>Y<head>Z", RunMode::Single);
  EXPECT_EQ(single.file, kDefaults + "XYZ");
  EXPECT_EQ(single.console, "removing the headXremoving the headYremoving the headZ");
}

}  // namespace
}  // namespace ruxa

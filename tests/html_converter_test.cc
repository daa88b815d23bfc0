#include "html2Ruxa/html_converter.h"

#include <gtest/gtest.h>

#include <string>

#include "fuzz/reference.h"
#include "fuzz/stepped_load.h"
#include "kernels/kernels.h"
#include "tests/each_kernel.h"
#include "tests/guard_page.h"

namespace ruxa {
namespace {

using namespace std::string_literals;

// Whole output files, in batch and single mode ("=" when single mode gives the same bytes).
TEST(HtmlConverter, OutputFiles) {
  const std::string d = "Ruxa000000ffffff";  // magic and default colours
  const std::string pad(94, ' ');
  const std::string zeros(200, '\0');  // dropped; long enough for the colour search's blocks
  const struct {
    std::string page, batch, single;
  } kCases[] = {
      {"", d, "="},
      {"<body text=\"#112233\" bgcolor=\"#445566\">", "Ruxa112233445566", "="},
      {"<body bgcolor=\"#445566\">", "Ruxa000000445566", "="},
      {"<body text=\"#112233\">", "Ruxa112233", "="},
      {"<body bgcolor=\"#445566\" text=\"#112233\">", "Ruxa000000445566112233", "="},
      {"<BODY TEXT=\"#112233\" BGCOLOR=\"#445566\">", d, "="},
      {"<body text='#112233' bgcolor=#445566>", d, "="},
      {"<body><font color=\"#ff0000\">", "Ruxa000000ff0000", "="},  // any colour in the window
      {"<bo" + pad + "text=\"#112233\">" + zeros, "Ruxa112233", "="},  // tail 99 bytes after '<'
      {"<bo " + pad + "text=\"#112233\">" + zeros, d, "="},            // 100 bytes: outside
      {"<bo<body text=\"#123456\">", "Ruxa123456123456", "="},      // two windows, twice
      {"<body text=\"#abc\">x", "Ruxaabc\">xx", "="},               // copied unchecked
      {"<body text=\"#12345", d, "="},                              // cut by the end
      {"<body text=\"#123456", "Ruxa123456", "="},
      {"<html><head><title>t</title></head><body text=\"#112233\" bgcolor=\"#445566\">"
       "Caf&eacute; &lt;1&gt;<br>x</body></html>",
       "Ruxa112233445566Caf\xE9 <1>\\nx", "Ruxa112233445566Caf\xE9 <1>x"},
      {"<br>x</br>y<br/>z<br />w", d + "\\nx\\ny\\nz\\nw", d + "xyzw"},
      {"<BR>x<br class=a>y", d + "xy", "="},
      {"a < b and c > d", d + "a  d", "="},
      {"<b>&lt;i&gt;", d + "<i>", "="},  // decoded '<' is text, never markup
      {"&lt;&gt;&amp;&quot;&eacute;&egrave;&agrave;&ccedil;&nbsp;",
       d + "<>&\"\xE9\xE8\xE0\xE7&nbsp;", "="},
      {"&LT;&#60;&amp&lt", d + "&LT;&#60;&amp&lt", "="},
      {"&amp;lt;", d + "&lt;", "="},
      {"a\0b\0"s, d + "ab", "="},
      {"a\r\nb", d + "a\r\nb", "="},
      {"<!-- a > b -->c<script>x>1</script>", d + " b --cx1", "="},
      {"ab<p", d + "ab", "="},
      {"ab<head><title>t", d + "ab", "="},
      {"<head>a/hbcdefZ", d + "efZ", "="},  // first "/h" and four more bytes
      {"<head><title>/h1</title></head>X", d + "titleX", "="},
      {"<head>abc</head>X<header>Y", d + "XY", "="},
      {"a<x <br> y>z", d + "az", d + "a yz"},   // a line break's '>' ends no tag
      {"<head/hab<br>x", d + "nx", d + "brx"},  // the erase takes the escape's backslash
      {"<head/ha<br>x", d + "x", d + "rx"},
  };
  for (const auto& c : kCases) {
    for (const RunMode mode : {RunMode::Batch, RunMode::Single}) {
      std::string page = c.page + "\xEE\xEE\xEE\xEE";  // guard bytes past the end
      StringOutputStream out, console;
      SourceBuffer source{reinterpret_cast<std::uint8_t*>(page.data()), c.page.size()};
      ConvertHtml(source, out, console, mode);
      const bool batch = mode == RunMode::Batch;
      const std::string& file = batch || c.single == "=" ? c.batch : c.single;
      EXPECT_EQ(out.str(), file) << c.page;
      EXPECT_TRUE(page.ends_with("\xEE\xEE\xEE\xEE")) << c.page;
      // The console holds a head message per "<he" reached and, in single mode, the body.
      std::string echo = console.str();
      for (std::size_t at; (at = echo.find("removing the head")) != std::string::npos;) {
        echo.erase(at, 17);
      }
      EXPECT_TRUE(batch ? echo.empty() : file.ends_with(echo)) << c.page;
    }
  }
}

// Pages long enough for whole-block scanning, built from the pieces that change its course (at
// block ends too), `size` bytes or a little more each.
std::vector<std::string> Pages(int count, std::size_t size) {
  const std::string kPieces[] = {"plain words ",
                                 "<p>",
                                 "</p>",
                                 "<a href=\"x\">",
                                 "&amp;",
                                 "&lt;b&gt;",
                                 "&eacute;",
                                 "&nbsp;",
                                 "&quot;&egrave;&agrave;&ccedil;",
                                 "&eacute&ampx&lt&gt:&quot&ccedi;",  // cut short or changed
                                 "&x",
                                 "<br>",
                                 "</br>",
                                 "<br/>",
                                 "<br />",
                                 "<br x><br/ ></bra><br >",  // changed line-break tags
                                 "<head>",
                                 "<title>t</title>",
                                 "</head>",
                                 "<he",
                                 "</h1>",
                                 "<he/h<br />",  // the head erase cuts into a line-break tag
                                 "a > b",
                                 "<a <b>",
                                 std::string(1, '\0'),
                                 std::string(70, '\0'),
                                 "<!-- c -->",
                                 "<body text=\"#123456\" bgcolor=\"#abcdef\">",
                                 "<bo" + std::string(90, ' ') + "xt=\"#654321",  // window's end
                                 std::string(90, 'w'),
                                 "\r\n",
                                 "r/>"};
  std::uint32_t seed = 1;
  std::vector<std::string> pages;
  for (int page_number = 0; page_number < count; ++page_number) {
    std::string page;
    while (page.size() < size) {
      seed = seed * 1664525 + 1013904223;
      page += kPieces[(seed >> 8) % std::size(kPieces)];
    }
    pages.push_back(page);
  }
  return pages;
}

std::pair<std::string, std::string> Convert(std::string page, RunMode mode) {
  StringOutputStream out, console;
  SourceBuffer source{reinterpret_cast<std::uint8_t*>(page.data()), page.size()};
  ConvertHtml(source, out, console, mode);
  return {out.str(), console.str()};
}

// Each pattern at every position of the two blocks after a tag that starts the block walk: cut
// at every length by the end of the page, and whole with a block of text after it (which the
// walk then reaches).
std::vector<std::string> EdgePages() {
  std::vector<std::string> pages;
  for (const std::string pattern : {"&eacute;", "&amp;", "&lt;", "<br />", "</br>", "<br>",
                                    "<head>/h", "<bo", "a>", "xt=\"#123456"}) {
    for (std::size_t lead = 0; lead < 128; ++lead) {
      for (std::size_t length = 1; length <= pattern.size(); ++length) {
        pages.push_back(std::string(70, 'w') + "<i>" + std::string(lead, 'w') +
                        pattern.substr(0, length));
      }
      pages.push_back(std::string(70, 'w') + "<i>" + std::string(lead, 'w') + pattern +
                      std::string(80, 'z'));
    }
  }
  return pages;
}

// Every scanner this processor runs gives the model's bytes in both modes.
class HtmlEachKernel : public testing::EachKernel {};
RUXA_FOR_EACH_KERNEL(HtmlEachKernel);

TEST_P(HtmlEachKernel, GivesTheModelsBytes) {
  std::vector<std::string> pages = Pages(40, 3000);
  for (const std::string& page : EdgePages()) pages.push_back(page);
  // Past the stretch the text is written in, a head message in every block: single mode's echo
  // of the text kept after a head must not go out before its message.
  std::string heads = "<head>/h";
  while (heads.size() < (std::size_t{2} << 20)) heads += "text <he>more ";
  pages.push_back(heads);
  for (std::size_t number = 0; number < pages.size(); ++number) {
    const std::string& page = pages[number];
    for (const RunMode mode : {RunMode::Batch, RunMode::Single}) {
      const reference::Result model = reference::Html(
          std::vector<std::uint8_t>(page.begin(), page.end()), mode == RunMode::Batch);
      const auto [file, console] = Convert(page, mode);
      EXPECT_EQ(file, model.file) << page;
      EXPECT_EQ(console, model.console) << page;
    }
  }
}

#if defined(RUXA_TEST_GUARD_PAGE)
// No pass reads past the page, wherever it ends: each page ends where an unreadable page begins.
// The pages: generated ones cut at every length of their last block, and the edge pages.
TEST_P(HtmlEachKernel, NoPassReadsPastThePage) {
  std::vector<std::string> pages;
  for (const std::string& whole : Pages(10, 3000)) {
    for (std::size_t cut = 0; cut < 64; ++cut) pages.push_back(whole.substr(0, whole.size() - cut));
  }
  for (const std::string& page : EdgePages()) pages.push_back(page);
  testing::GuardedBytes memory(4096);
  for (const std::string& page : pages) {
    for (const RunMode mode : {RunMode::Batch, RunMode::Single}) {
      const auto expected = Convert(page, mode);
      StringOutputStream out, console;
      SourceBuffer source{memory.Place(page.data(), page.size()), page.size()};
      ConvertHtml(source, out, console, mode);
      EXPECT_EQ(out.str(), expected.first) << page.size();
    }
  }
}
#endif

// A page still loading gives the same bytes as a loaded one, however its bytes arrive: the
// passes never look at bytes not yet loaded.
TEST_P(HtmlEachKernel, LoadingPagesGiveTheSameBytes) {
  std::vector<std::string> pages = Pages(12, 3000);
  pages.push_back(Pages(1, (std::size_t{1} << 20) + 5000)[0]);  // loaded a megabyte at a time
  for (std::size_t number = 0; number < pages.size(); ++number) {
    const std::vector<std::uint8_t> page(pages[number].begin(), pages[number].end());
    const bool large = page.size() > 5000;
    const auto plans = large ? std::vector<std::vector<std::size_t>>{{std::size_t{1} << 20}}
                             : testing::StepPlans(page.size());
    for (const RunMode mode : {RunMode::Batch, RunMode::Single}) {
      const auto whole = Convert(pages[number], mode);
      for (const auto& plan : plans) {
        const auto stepped = testing::ConvertStepped(
            page, plan, [&](SourceBuffer& source, OutputStream& out, OutputStream& console) {
              ConvertHtml(source, out, console, mode);
            });
        EXPECT_TRUE(stepped == whole) << number << " step " << plan[0];
      }
    }
  }
}

}  // namespace
}  // namespace ruxa

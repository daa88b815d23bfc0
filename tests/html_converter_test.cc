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

// Every scanner this processor runs gives the model's bytes in both modes, wherever the page
// ends (where an unreadable page begins: no pass reads past it) and however its bytes arrive
// (still loading: the passes never look at bytes not yet loaded).
class HtmlEachKernel : public testing::EachKernel {};
RUXA_FOR_EACH_KERNEL(HtmlEachKernel);

TEST_P(HtmlEachKernel, GivesTheModelsBytes) {
  // Past the stretch the text is written in, a head message in every block: single mode's echo
  // of the text kept after a head must not go out before its message.
  std::string heads = "<head>/h";
  while (heads.size() < (std::size_t{2} << 20)) heads += "text <he>more ";
  testing::GuardedBytes memory(heads.size());
  const auto check = [&](const std::string& page, bool loading) {
    const std::vector<std::uint8_t> bytes(page.begin(), page.end());
    for (const RunMode mode : {RunMode::Batch, RunMode::Single}) {
      const reference::Result model = reference::Html(bytes, mode == RunMode::Batch);
      StringOutputStream out, console;
      SourceBuffer source{memory.Place(page.data(), page.size()), page.size()};
      ConvertHtml(source, out, console, mode);
      EXPECT_EQ(out.str(), model.file) << page.substr(0, 300);
      EXPECT_EQ(console.str(), model.console) << page.substr(0, 300);
      if (!loading) continue;
      for (const auto& plan : testing::StepPlans(page.size())) {
        const auto stepped = testing::ConvertStepped(
            bytes, plan, [&](SourceBuffer& source, OutputStream& out, OutputStream& console) {
              ConvertHtml(source, out, console, mode);
            });
        EXPECT_TRUE(stepped == std::make_pair(model.file, model.console))
            << page.substr(0, 300) << " step " << plan[0];
      }
    }
  };
  const std::vector<std::string> pages = Pages(40, 3000);
  for (std::size_t number = 0; number < pages.size(); ++number) {
    check(pages[number], number < 12);
    // The first ten cut at every length of their last block.
    for (std::size_t cut = 1; cut < 64 && number < 10; ++cut) {
      check(pages[number].substr(0, pages[number].size() - cut), false);
    }
  }
  for (const std::string& page : EdgePages()) check(page, false);
  // Windows crowded in one block, their tails searched all at once, to every end of the page.
  for (std::size_t size = 180; size < 270; ++size) check("<bo<bo" + std::string(size, '#'), false);
  check(heads, false);
  check(Pages(1, (std::size_t{1} << 20) + 5000)[0], true);
}

}  // namespace
}  // namespace ruxa

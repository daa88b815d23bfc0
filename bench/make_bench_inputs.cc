// Generates the benchmark inputs in the current directory:
//   page/page.htm    one page of at least 100 MB shaped like real HTML (a head, tags with
//                    attributes, scripts, entities, line breaks, paragraphs of text)
//   pages/NNNN.htm   3000 small pages of a few kilobytes each
//   doc/big.doc      a document of at least 100 MB in layout 'D': runs of a few hundred 16-bit
//                    characters between binary gaps
//   dense/page.htm   95 MiB of markup-dense pages: entities, line-break tags, cut-off tags and
//                    zero bytes between short words
//   hostile/page.htm 100 MB of short random pages made to take every slow turn: heads (each
//                    one prints a line), body tags, tags and entities cut off, unknown
//                    entities, stray '<' and '>', zero bytes, line ends
//   patterns/*       16 MiB inputs of one short pattern repeated, each the worst case of one
//                    slow turn (a colour window every few bytes, an entity or a line-break tag
//                    at every step, near misses of both, signature starts that open none),
//                    for the conversion alone
// The content is pseudo-random but the same on every run.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::uint64_t state = 0x9E3779B97F4A7C15u;
std::uint32_t Next() {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return static_cast<std::uint32_t>(state);
}

const char* const kWords[] = {"the",    "viewer", "reads",  "every", "byte",  "of",    "a",
                              "page",   "text",   "colour", "while", "caf",   "under", "light",
                              "quick",  "brown",  "files",  "from",  "north", "river", "table",
                              "number", "and",    "with",   "for",   "on",    "night", "market"};
const char* const kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&eacute;", "&nbsp;", "&copy;"};

std::string Sentence() {
  std::string s;
  const int words = 6 + static_cast<int>(Next() % 14);
  for (int i = 0; i < words; ++i) {
    if (i) s += ' ';
    s += kWords[Next() % (sizeof kWords / sizeof *kWords)];
    if (Next() % 23 == 0) s += kEntities[Next() % (sizeof kEntities / sizeof *kEntities)];
  }
  return s + ". ";
}

std::string Block(unsigned id) {
  std::string b = "<div class=\"article\" id=\"a" + std::to_string(id) +
                  "\">\n<h2 class=\"title\">" + Sentence() +
                  "</h2>\n<p style=\"margin:0 0 1em 0\">";
  const int sentences = 2 + static_cast<int>(Next() % 6);
  for (int i = 0; i < sentences; ++i) {
    b += Sentence();
    switch (Next() % 6) {
      case 0:
        b += "<br>\n";
        break;
      case 1:
        b += "<a href=\"https://example.org/item?id=" + std::to_string(id) +
             "&amp;ref=b\">more</a> ";
        break;
      case 2:
        b += "<b>" + Sentence() + "</b>";
        break;
      case 3:
        b += "<br />\n";
        break;
      default:
        break;
    }
  }
  b += "</p>\n";
  if (Next() % 8 == 0)
    b += "<script type=\"text/javascript\">if (a < b && c > d) { show(" + std::to_string(id) +
         "); }</script>\n";
  if (Next() % 16 == 0) b += "<!-- generated block " + std::to_string(id) + " -->\n";
  return b + "</div>\n";
}

std::string Page(std::size_t at_least) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"iso-8859-1\">\n"
      "<title>Benchmark page</title>\n<link rel=\"stylesheet\" href=\"style.css\">\n"
      "<style>body { font-family: serif; } .title { color: #333; }</style>\n</head>\n"
      "<body text=\"#202020\" bgcolor=\"#fafafa\">\n";
  for (unsigned id = 0; page.size() < at_least; ++id) page += Block(id);
  return page + "</body>\n</html>\n";
}

bool Save(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::string Document(std::size_t at_least) {
  // A header block holding the layout marker, as at the start of a real document.
  std::string doc(4096, '\0');
  doc[2095] = 'D';
  doc.reserve(at_least + 4096);
  while (doc.size() < at_least) {
    // A binary gap, then a run of text stored as 16-bit characters.
    const std::size_t gap = 64 + Next() % 512;
    for (std::size_t i = 0; i < gap; ++i) doc += static_cast<char>(Next() % 4 ? 0 : Next() & 0xFF);
    doc += std::string("\x02\x00\xD9\x00", 4);
    std::string text;
    while (text.size() < 200 + Next() % 300) text += Sentence();
    for (const char c : text) {
      doc += c;
      doc += '\0';
    }
    doc += '\x04';
  }
  return doc;
}

// Dense markup: short random pages where nearly every word is an entity or a tag, with
// line-break tags, tags cut off by the end of their page and zero bytes, glued together; an old
// page where every accent is an entity looks much like it.
std::string DensePage(std::size_t at_least) {
  const char* const kMarkup[] = {"&eacute;", "&egrave;", "&agrave;", "&ccedil;",      "&amp;",
                                 "&lt;",     "&gt;",     "&quot;",   "&nbsp;",        "<br>",
                                 "<br />",   "</br>",    "<br/>",    "<b>",           "</b>",
                                 "<i>",      "</i>",     "<p>",      "<a href=\"x\">"};
  std::string page;
  page.reserve(at_least + 4096);
  while (page.size() < at_least) {
    std::string one = "<html><body>";
    const int pieces = 20 + static_cast<int>(Next() % 200);
    for (int i = 0; i < pieces; ++i) {
      one += kWords[Next() % (sizeof kWords / sizeof *kWords)];
      one += kMarkup[Next() % (sizeof kMarkup / sizeof *kMarkup)];
      if (Next() % 40 == 0) one += '\0';
    }
    if (Next() % 3 == 0) one += "<a href=\"cut";  // a tag the next page closes
    page += one;
  }
  return page;
}

// Pieces glued at random into short pages, the pages glued into one: per 100 MB about 4 million
// '<', 3 million '&', 800 000 "<br", 600 000 "<he" and "<bo" and 2 million zero bytes.
std::string HostilePage(std::size_t at_least) {
  using std::string_view_literals::operator""sv;
  const std::string_view kPieces[] = {
      "plain words ", "<br>", "<br/>", "<br />", "</br>", "<br", "<head><title>t</title>",
      "<head>", "</head>", "<body text=\"#102030\" bgcolor=\"#405060\">", "<bo", "&amp;",
      "&eacute", "&nbsp;", "&lt;", "&", "<", ">", "a < b > c", "<b>", "</b>",
      "<a href=\"x\">", "<p", "\n", "\0"sv, "\0\0\0"sv, "&quot;x&gt;",
  };
  std::string page;
  page.reserve(at_least + 4096);
  while (page.size() < at_least) {
    const int pieces = 5 + static_cast<int>(Next() % 60);
    for (int i = 0; i < pieces; ++i) {
      page += kPieces[Next() % (sizeof kPieces / sizeof *kPieces)];
      page += kWords[Next() % (sizeof kWords / sizeof *kWords)];
    }
  }
  return page;
}

// A document's header block, with the layout marker given.
std::string DocumentHead(char layout) {
  std::string head(4096, '\0');
  head[2095] = layout;
  return head;
}
const std::string kDocumentHead = DocumentHead('D'), kDocument6Head = DocumentHead('6');
// Each, then a signature whose run never ends.
const std::string kDocumentRun = kDocumentHead + std::string("\x02\0\xD9\0", 4);
const std::string kDocument6Run = kDocument6Head + std::string("\x02\0\x03\0\x01\0\0", 7);

// Each an input of its own: patterns/NAME, the unit repeated after the lead.
const struct {
  const char* name;
  std::string_view unit, lead = {};
} kPatterns[] = {
    {"bo.htm", "<bo"},
    {"bo-hash.htm", "<bo#"},
    {"colours.htm", "<body text=\"#123456\" bgcolor=\"#"},
    {"amp.htm", "&"},
    {"entities.htm", "&lt;"},
    {"near-entities.htm", "&eacutx"},
    {"br.htm", "<br>"},
    {"near-br.htm", "<br"},
    {"r-gt.htm", "r>"},
    {"slash-gt.htm", "/>"},
    {"lt-gt.htm", "<>"},
    {"head-slash.htm", "<head>/h"},
    {"slashes-in-head.htm", "/", "<head>"},  // the head's end looked for at every '/'
    {"br-in-tag.htm", "<br>", "<x"},         // every '>' closes a line-break tag, none the tag
    {"zero-a.htm", std::string_view("\0a", 2)},
    // Signature starts that open no signature, before any and after one.
    {"bare-starts.doc", "\x02", kDocumentHead},
    {"bare-starts-in-run.doc", "\x02", kDocumentRun},
    // Layout '6' tests three bytes: starts that pass the first two tests and fail the third.
    {"near-signatures.doc", "\2a\3b", kDocument6Head},
    {"near-signatures-in-run.doc", "\2a\3b", kDocument6Run},
};

std::string Repeated(std::string_view lead, std::string_view unit, std::size_t size) {
  std::string page(lead);
  page.reserve(size + unit.size());
  while (page.size() < size) page += unit;
  page.resize(size);
  return page;
}

}  // namespace

int main() {
  mkdir("page", 0777);
  mkdir("pages", 0777);
  mkdir("doc", 0777);
  mkdir("dense", 0777);
  mkdir("hostile", 0777);
  bool ok = Save("page/page.htm", Page(100u << 20)) && Save("dense/page.htm", DensePage(95u << 20));
  for (int i = 0; ok && i < 3000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "pages/%04d.htm", i);
    ok = Save(name, Page(1000 + Next() % 6000));
  }
  ok = ok && Save("doc/big.doc", Document(100u << 20));
  mkdir("patterns", 0777);
  for (const auto& pattern : kPatterns) {
    ok = ok && Save("patterns/" + std::string(pattern.name),
                    Repeated(pattern.lead, pattern.unit, 16u << 20));
  }
  ok = ok && Save("hostile/page.htm", HostilePage(100u << 20));  // last: the others stay as they were
  if (!ok) std::perror("make_bench_inputs");
  return ok ? 0 : 1;
}

#include "html2Ruxa/html_converter.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "driver/name_rules.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ruxa {

const ConverterProfile kHtmlProfile = {
    .name = "html2Ruxa",
    .summary = "Converts HTML pages into Ruxa styled text files (.htx).",
    .name_rule = "whose name has a '.' then 'h' or 'H'\n"
                 "as its 5th and 4th, or 4th and 3rd, bytes from the end (page.htm, page.html)",
    .banner = "--- Ruxa Beta Bramlink 2005 --- \n",
    .matches_name = MatchesHtmlName,
    .output_extension = ".htx",
    .batch_output_error = "Error!\n",
    .convert = ConvertHtml,
};

ConvertOutcome ConvertHtml(SourceBuffer& source, OutputStream& out, OutputStream& console,
                           RunMode mode) {
  source.Loaded(source.size);  // the colour header needs the whole page first
  HtmlConverter(out, console, mode).Convert(source);
  return ConvertOutcome::Converted;
}

namespace {

constexpr std::string_view kMagic = "Ruxa";
constexpr std::string_view kDefaultText = "000000";
constexpr std::string_view kDefaultBackground = "ffffff";
constexpr std::string_view kHeadMessage = "removing the head";
constexpr std::string_view kBreakEscape = "\\n";

// A colour attribute counts when its tail starts at most this many bytes after "<bo".
constexpr std::size_t kColourWindow = 100;
constexpr std::string_view kTextColourTail = "xt=\"#";  // text="#...
constexpr std::string_view kBackColourTail = "or=\"#";  // bgcolor="#... and color="#...
constexpr std::size_t kColourDigits = 6;

struct Entity {
  std::string_view name;
  std::uint8_t byte;  // ISO 8859-1
};
constexpr Entity kEntities[] = {
    {"&lt;", 0x3C},     {"&gt;", 0x3E},     {"&amp;", 0x26},    {"&quot;", 0x22},
    {"&eacute;", 0xE9}, {"&egrave;", 0xE8}, {"&agrave;", 0xE0}, {"&ccedil;", 0xE7},
};

// The line-break tags that batch mode turns into the escape; exact, lower case, no attributes.
constexpr std::string_view kBreakTags[] = {"<br>", "</br>", "<br/>", "<br />"};

// True when `pattern` lies wholly inside b[0, n) starting at i (i <= n).
bool HasAt(const std::uint8_t* b, std::size_t n, std::size_t i, std::string_view pattern) {
  return pattern.size() <= n - i && std::memcmp(b + i, pattern.data(), pattern.size()) == 0;
}

// Length of the line-break tag starting at b[i], or 0.
std::size_t BreakTagLength(const std::uint8_t* b, std::size_t n, std::size_t i) {
  if (i + 1 < n && b[i + 1] != 'b' && b[i + 1] != '/') return 0;
  for (const std::string_view tag : kBreakTags) {
    if (HasAt(b, n, i, tag)) return tag.size();
  }
  return 0;
}

// True when the '>' at b[g] closes a line-break tag.
bool ClosesBreakTag(const std::uint8_t* b, std::size_t n, std::size_t g) {
  if (g > 0 && b[g - 1] != 'r' && b[g - 1] != '/') return false;
  for (const std::string_view tag : kBreakTags) {
    if (g + 1 >= tag.size() && HasAt(b, n, g + 1 - tag.size(), tag)) return true;
  }
  return false;
}

// Position of the first byte in [i, n) equal to one of `Bytes`, or n. Pages are mostly plain
// text between short tags, so the scans skip sixteen bytes at a time where they can; even a
// library call per tag costs more than the tag itself.
template <std::uint8_t... Bytes>
std::size_t FindAnyOf(const std::uint8_t* b, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    __m128i hit = _mm_setzero_si128();
    ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(Bytes))))), ...);
    if (const int mask = _mm_movemask_epi8(hit)) {
      return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
  }
#endif
  for (; i < n; ++i) {
    if (((b[i] == Bytes) || ...)) return i;
  }
  return n;
}

// The bytes the text pass must look at: everything else is copied as it is.
std::size_t FindSpecial(const std::uint8_t* b, std::size_t i, std::size_t n) {
  return FindAnyOf<'<', '>', '&', 0>(b, i, n);
}

// Position of the first "<bo" at or after i, or n.
std::size_t FindBodyStart(const std::uint8_t* b, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
  for (; i + 18 <= n; i += 16) {
    const auto at = [&](std::size_t k, char c) {
      return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i + k)),
                            _mm_set1_epi8(c));
    };
    const int mask =
        _mm_movemask_epi8(_mm_and_si128(at(0, '<'), _mm_and_si128(at(1, 'b'), at(2, 'o'))));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  for (; i + 2 < n; ++i) {
    if (b[i] == '<' && b[i + 1] == 'b' && b[i + 2] == 'o') return i;
  }
  return n;
}

// Position of the first non-zero byte at or after i, or n. Erased or padded stretches can be
// long (sparse files), so they are skipped a block at a time.
std::size_t SkipZeros(const std::uint8_t* b, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) ^ 0xFFFF;
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  while (i < n && b[i] == 0) ++i;
  return i;
}

}  // namespace

void HtmlConverter::Convert(const SourceBuffer& source) {
  state_ = ConversionState::Initial;
  out_.Write(kMagic);
  WriteColourHeader(source.data, source.size);
  WriteText(source.data, source.size);
}

void HtmlConverter::WriteColourHeader(const std::uint8_t* b, std::size_t n) {
  // Every "<bo" opens a window of its own; windows may overlap, and an attribute inside two of
  // them is written twice. The colour bytes are copied as they are, unchecked.
  for (std::size_t i = 0; (i = FindBodyStart(b, i, n)) < n; ++i) {
    for (std::size_t p = i;
         p < i + kColourWindow && p + kTextColourTail.size() + kColourDigits <= n; ++p) {
      const std::uint8_t* digits = b + p + kTextColourTail.size();
      if (HasAt(b, n, p, kTextColourTail)) {
        out_.Write(digits, kColourDigits);
        state_ = ConversionState::ColourWritten;
      }
      if (HasAt(b, n, p, kBackColourTail)) {
        // A background colour with no text colour before it gets the default text colour first.
        if (state_ != ConversionState::ColourWritten) out_.Write(kDefaultText);
        out_.Write(digits, kColourDigits);
        state_ = ConversionState::ColourWritten;
      }
    }
  }
  if (state_ != ConversionState::ColourWritten) {
    out_.Write(kDefaultText);
    out_.Write(kDefaultBackground);
  }
}

void HtmlConverter::WriteBody(const std::uint8_t* data, std::size_t size) {
  out_.Write(data, size);
  if (mode_ == RunMode::Single) console_.Write(data, size);
}

// The text pass reads the page once, front to back, and never rewrites it. Stretches of ordinary
// bytes are written whole; at each '<', '>', '&' or zero byte it decides what survives:
//   - a zero byte or '>' is dropped;
//   - in batch mode a line-break tag becomes the escape backslash-n;
//   - "<he" prints "removing the head" and, for the first head only, drops everything up to the
//     first '/' 'h' pair and the four bytes after its '/': "<head>...</head" (the '>' left over
//     is dropped as usual). The pair alone decides, so "</h1>" or "/h" in an attribute ends the
//     erase as well;
//   - any other '<' drops everything up to and including the next '>'. In batch mode the '>' that
//     closes a line-break tag does not count: that tag is already an escape;
//   - one of the eight known entities becomes its byte; the bytes it yields ('<' among them) are
//     text, never markup.
// An erase whose end never comes runs to the end of the page.
void HtmlConverter::WriteText(const std::uint8_t* b, std::size_t n) {
  const bool batch = mode_ == RunMode::Batch;

  const auto next_tag_end = [&](std::size_t from) {
    for (std::size_t g = from; (g = FindAnyOf<'>'>(b, g, n)) < n; ++g) {
      if (!batch || !ClosesBreakTag(b, n, g)) return g + 1;
    }
    return n;
  };

  const auto erase_head = [&](std::size_t from) {
    std::size_t slash = from;
    for (;; ++slash) {
      const void* found = std::memchr(b + slash, '/', n - slash);
      if (found == nullptr) return n;
      slash = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - b);
      if (slash + 1 < n && b[slash + 1] == 'h') break;
    }
    state_ = ConversionState::HeadErased;
    std::size_t end = std::min(slash + 5, n);
    if (batch) {
      // The erase may cut into a line-break tag that starts just after the "/h". That tag is
      // already its escape: the erase takes the backslash, and the 'n' too unless the tag starts
      // on the erase's last byte.
      for (std::size_t j = slash + 2; j < end; ++j) {
        if (b[j] != '<') continue;
        if (const std::size_t length = BreakTagLength(b, n, j)) {
          if (j + 1 == end) WriteBody(reinterpret_cast<const std::uint8_t*>("n"), 1);
          end = j + length;
          break;
        }
      }
    }
    return end;
  };

  std::size_t run = 0;  // start of the stretch of bytes not yet written
  std::size_t i = 0;
  while ((i = FindSpecial(b, i, n)) < n) {
    const std::uint8_t c = b[i];
    if (c == '&') {
      const Entity* entity = nullptr;
      for (const Entity& e : kEntities) {
        if (HasAt(b, n, i, e.name)) entity = &e;
      }
      if (entity == nullptr) {
        ++i;  // a literal '&' stays in the stretch
        continue;
      }
      WriteBody(b + run, i - run);
      WriteBody(&entity->byte, 1);
      i += entity->name.size();
    } else {
      WriteBody(b + run, i - run);
      if (c == 0) {
        i = SkipZeros(b, i, n);
      } else if (c == '>') {
        ++i;
      } else if (const std::size_t length = batch ? BreakTagLength(b, n, i) : 0) {
        WriteBody(reinterpret_cast<const std::uint8_t*>(kBreakEscape.data()), kBreakEscape.size());
        i += length;
      } else if (HasAt(b, n, i, "<he")) {
        console_.Write(kHeadMessage);
        i = state_ == ConversionState::HeadErased ? next_tag_end(i + 1) : erase_head(i + 1);
      } else {
        i = next_tag_end(i + 1);
      }
    }
    run = i;
  }
  WriteBody(b + run, n - run);
}

}  // namespace ruxa

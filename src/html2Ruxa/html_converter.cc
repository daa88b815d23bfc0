#include "html2Ruxa/html_converter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>

#include "driver/name_rules.h"
#include "html2Ruxa/block_scan.h"
#include "kernels/block_walk.h"

namespace ruxa {

const ConverterProfile kHtmlProfile = {
    .name = "html2Ruxa",
    .summary = "Converts HTML pages into Ruxa styled text files (.htx).",
    .name_rule =
        "whose name has a '.' then 'h' or 'H'\n"
        "as its 5th and 4th, or 4th and 3rd, bytes from the end (page.htm, page.html)",
    .banner = "--- Ruxa Beta Bramlink 2005 --- \n",
    .matches_name = MatchesHtmlName,
    .output_extension = ".htx",
    .batch_output_error = "Error!\n",
    .rejects_inputs = false,
    .convert = ConvertHtml,
};

ConvertOutcome ConvertHtml(SourceBuffer& source, OutputStream& out, OutputStream& console,
                           RunMode mode) {
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

// Patterns of up to eight bytes, compared eight bytes at a time: the pattern's bytes as they
// lie in memory, and a mask of the bytes that count. Both are copied from memory like the bytes
// they are compared with, so the byte order of the processor does not matter.
struct Word {
  std::uint64_t bytes = 0, mask = 0;
  Word() = default;
  explicit Word(std::string_view pattern) {
    std::uint8_t b[8] = {}, m[8] = {};
    std::memcpy(b, pattern.data(), pattern.size());
    std::memset(m, 0xFF, pattern.size());
    std::memcpy(&bytes, b, 8);
    std::memcpy(&mask, m, 8);
  }
  bool At(std::uint64_t eight) const { return ((eight ^ bytes) & mask) == 0; }
};

// Entities and line-break tags are matched without a branch per pattern: each '&' or '<' picks
// the one pattern it may start from a small table, by bytes that tell the patterns apart, and
// compares its eight bytes with it once. The slots left empty match nothing (they ask for a
// zero byte where the '&' or '<' is).
struct Slot {
  Word word{std::string_view("\0", 1)};
  std::uint64_t span = 0;  // a bit for each byte of the pattern
  std::size_t length = 0;
  std::uint8_t byte = 0;  // what an entity becomes
};
// Entities by the low four bits of the two bytes after the '&', through a small table that
// vector code looks up as well; line-break tags by the low bits of their fourth byte ("<br>",
// "</br>", "<br/>", "<br />").
constexpr std::uint8_t kEntityFirst[16] = {0, 0, 0, 3, 0, 8, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::size_t EntityHash(std::uint8_t first, std::uint8_t second) {
  return kEntityFirst[first & 15u] ^ (second & 15u);
}
constexpr std::size_t BreakHash(std::uint8_t fourth) { return fourth & 7u; }
constexpr std::size_t EntityHashOf(std::string_view e) {
  return EntityHash(static_cast<std::uint8_t>(e[1]), static_cast<std::uint8_t>(e[2]));
}
constexpr std::size_t BreakHashOf(std::string_view t) {
  return BreakHash(static_cast<std::uint8_t>(t[3]));
}
constexpr bool HashesApart() {
  bool entity[16] = {}, tag[8] = {};
  for (const Entity& e : kEntities) {
    if (std::exchange(entity[EntityHashOf(e.name)], true)) return false;
  }
  for (const std::string_view t : kBreakTags) {
    if (std::exchange(tag[BreakHashOf(t)], true)) return false;
  }
  return true;
}
static_assert(HashesApart());

// The entities for the vector kernels: each 4 to 8 bytes long, from its '&' to its only ';'.
constexpr char kEntityEnd = ';';
constexpr PatternTable kEntityTable = [] {
  PatternTable t{};
  std::copy(std::begin(kEntityFirst), std::end(kEntityFirst), t.first);
  t.start = '&';
  t.end = kEntityEnd;
  for (std::size_t h = 0; h < 16; ++h) {
    for (auto& row : t.bytes) row[h] = kEntityEnd;
    t.bytes[1][h] = 0;  // an empty slot: bytes that hash to another slot
    t.bytes[2][h] = kEntityFirst[0] == h ? 1 : 0;
  }
  for (const Entity& e : kEntities) {
    const std::size_t h = EntityHashOf(e.name);
    for (std::size_t j = 0; j < e.name.size(); ++j) {
      t.bytes[j][h] = static_cast<std::uint8_t>(e.name[j]);
    }
    t.put[h] = e.byte;
  }
  return t;
}();
constexpr bool EntitiesFitTable() {
  for (const Entity& e : kEntities) {
    if (e.name.size() < 4 || e.name.size() > 8 || e.name[0] != kEntityTable.start ||
        e.name.find(kEntityEnd) != e.name.size() - 1) {
      return false;
    }
  }
  return true;
}
static_assert(EntitiesFitTable());

Slot SlotOf(std::string_view pattern, std::uint8_t byte) {
  return {Word(pattern), (std::uint64_t{1} << pattern.size()) - 1, pattern.size(), byte};
}
const std::array<Slot, 16> kEntitySlots = [] {
  std::array<Slot, 16> slots{};
  for (const Entity& e : kEntities) slots[EntityHashOf(e.name)] = SlotOf(e.name, e.byte);
  return slots;
}();
const std::array<Slot, 8> kBreakSlots = [] {
  std::array<Slot, 8> slots{};
  for (const std::string_view t : kBreakTags) slots[BreakHashOf(t)] = SlotOf(t, 0);
  return slots;
}();

// Where the patterns found in one block lie: their first bytes, their bytes within the block,
// and those in the next block, which the last of them may run into.
struct Spans {
  std::uint64_t starts = 0, spans = 0, beyond = 0;
  static Spans Of(const PatternMatches& found) { return {found.starts, found.spans, found.beyond}; }
  void Add(std::size_t k, const Slot& slot, bool found) {  // k < 64
    const std::uint64_t span = slot.span & (0 - std::uint64_t{found});
    starts |= std::uint64_t{found} << k;
    spans |= span << k;
    beyond |= (span >> 1) >> (63 - k);
  }
  // How many bytes of the next block are taken: `beyond` holds its first bytes, at most seven.
  std::size_t Carry() const { return static_cast<std::size_t>(__builtin_ctzll(beyond + 1)); }
};

// How far past a block the fast path reads: an entity that starts on the block's last byte.
constexpr std::size_t kBlockReach = 7;

// The entity that starts at b[i] (a '&'), or null.
inline const Slot* MatchEntity(const std::uint8_t* b, std::size_t n, std::size_t i) {
  if (i + 8 <= n) {
    std::uint64_t eight;
    std::memcpy(&eight, b + i, 8);
    const Slot& slot = kEntitySlots[EntityHash(b[i + 1], b[i + 2])];
    return slot.word.At(eight) ? &slot : nullptr;
  }
  for (const Entity& e : kEntities) {  // near the end of the page
    if (HasAt(b, n, i, e.name)) {
      return &kEntitySlots[EntityHashOf(e.name)];
    }
  }
  return nullptr;
}

// Length of the line-break tag starting at b[i] (a '<'), or 0.
inline std::size_t BreakTagLength(const std::uint8_t* b, std::size_t n, std::size_t i) {
  if (i + 8 <= n) {
    std::uint64_t eight;
    std::memcpy(&eight, b + i, 8);
    const Slot& slot = kBreakSlots[BreakHash(b[i + 3])];
    return slot.word.At(eight) ? slot.length : 0;
  }
  for (const std::string_view tag : kBreakTags) {  // near the end of the page
    if (HasAt(b, n, i, tag)) return tag.size();
  }
  return 0;
}

// True when the '>' at b[g] closes a line-break tag.
bool ClosesBreakTag(const std::uint8_t* b, std::size_t n, std::size_t g) {
  // Every form ends in "r>", "r/>" or "r />".
  if (g < 3 || (b[g - 1] != 'r' && (b[g - 1] != '/' || (b[g - 2] != 'r' && b[g - 2] != ' ')))) {
    return false;
  }
  for (const std::string_view tag : kBreakTags) {
    if (g + 1 >= tag.size() && HasAt(b, n, g + 1 - tag.size(), tag)) return true;
  }
  return false;
}

// Position of the first '/' in [i, n), or n.
std::size_t FindSlash(const std::uint8_t* b, std::size_t i, std::size_t n) {
  const void* slash = std::memchr(b + i, '/', n - i);
  return slash == nullptr ? n
                          : static_cast<std::size_t>(static_cast<const std::uint8_t*>(slash) - b);
}

// While the page is loading, a position is examined only once every byte its decision may read
// is there: each pass stops this many bytes short of the loaded count.
//   colour pass: the window of a "<bo" reads up to 109 bytes past its '<' (a pattern 99 bytes
//     on, and the ten bytes of the pattern's tail and digits after that);
//   text pass: the block cursor reads the whole 64-byte block of each position it examines, up
//     to 63 bytes past it; every rule looks less far (an entity or a line-break tag 7, the test
//     of a line-break tag cut by the head erase 11).
constexpr std::size_t kColourLookahead =
    kColourWindow - 1 + kTextColourTail.size() + kColourDigits - 1;
constexpr std::size_t kTextLookahead = 63;

// The colour pass over [0, n), in steps: `Cover(upto)` examines every "<bo" that starts before
// `upto`. It only reads the page, and writes its fields to the output as it finds them.
class ColourScanner {
 public:
  ColourScanner(const Kernels& kernels, const SourceBuffer& source, OutputStream& out)
      : kernels_(kernels), source_(source), b_(source.data), n_(source.size), out_(out) {}

  void Cover(std::size_t upto) {
    if (upto <= next_) return;
    // Ahead of what was asked, as far as the loaded bytes allow, so as to come back seldom.
    const std::size_t loaded = source_.Loaded(std::min(upto, n_) + kColourLookahead);
    upto = loaded >= n_ ? n_ : std::max(upto, loaded - kColourLookahead);
    // Every "<bo" opens a window of its own; windows may overlap, and an attribute inside two of
    // them is written twice. The colour bytes are copied as they are, unchecked.
    // A "<bo" needs its three bytes inside the page.
    const std::size_t end = std::min(upto, n_ < 2 ? 0 : n_ - 2);
    // Both tails end in '#', so only the '#' bytes of a window are looked at.
    constexpr std::size_t kHashAt = kTextColourTail.size() - 1;
    static_assert(kTextColourTail.back() == '#' && kBackColourTail.back() == '#' &&
                  kBackColourTail.size() == kTextColourTail.size());
    const std::size_t fits = kTextColourTail.size() + kColourDigits;  // a field's bytes
    for (std::size_t i = next_; (i = kernels_.find_body(b_, i, end)) < end; ++i) {
      // The field may start at p in [i, stop).
      const std::size_t stop =
          n_ < fits ? i : std::max(i, std::min(i + kColourWindow, n_ - fits + 1));
      for (std::size_t p = i; p < stop; ++p) {
        const void* hash = std::memchr(b_ + p + kHashAt, '#', stop - p);
        if (hash == nullptr) break;
        p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hash) - b_) - kHashAt;
        const std::uint8_t* digits = b_ + p + kTextColourTail.size();
        if (HasAt(b_, n_, p, kTextColourTail)) {
          out_.Write(digits, kColourDigits);
          state_ = ConversionState::ColourWritten;
        }
        if (HasAt(b_, n_, p, kBackColourTail)) {
          // A background colour with no text colour before it gets the default text colour.
          if (state_ != ConversionState::ColourWritten) out_.Write(kDefaultText);
          out_.Write(digits, kColourDigits);
          state_ = ConversionState::ColourWritten;
        }
      }
    }
    next_ = upto;
  }

  // Ends the pass (once): with no field at all, the two defaults.
  void Finish() {
    if (finished_) return;
    finished_ = true;
    Cover(n_);
    if (state_ != ConversionState::ColourWritten) {
      out_.Write(kDefaultText);
      out_.Write(kDefaultBackground);
    }
  }

 private:
  const Kernels& kernels_;
  const SourceBuffer& source_;
  const std::uint8_t* const b_;
  const std::size_t n_;
  OutputStream& out_;
  std::size_t next_ = 0;  // every "<bo" before this has been examined
  bool finished_ = false;
  // The colour pass ends before the text pass begins, so it only ever sees its own values.
  ConversionState state_ = ConversionState::Initial;
};

// Where the text goes in single mode: straight to the output and echoed to the console.
class StreamSink {
 public:
  StreamSink(OutputStream& out, OutputStream& console) : out_(out), console_(console) {}
  void Write(const std::uint8_t* data, std::size_t size) {
    out_.Write(data, size);
    console_.Write(data, size);
  }
  void Put(std::string_view bytes) {
    Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }

 private:
  OutputStream& out_;
  OutputStream& console_;
};

// Where the text goes in batch mode: compacted into the page's own memory, behind the pass, to
// be written after the colour header once the whole page is done. A byte is overwritten only
// after every colour window that holds it has been examined.
class CompactSink {
 public:
  CompactSink(const SourceBuffer& source, ColourScanner& colour, OutputStream& out)
      : source_(source),
        b_(source.data),
        end_(source.data + source.size),
        colour_(colour),
        out_(out) {}

  // Once the page is loaded the colour header is complete; from then on the text gathered so
  // far is handed to the output a stretch at a time, as it will not change any more, so that it
  // can be written while the rest is converted.
  void Emit() {
    if (!emitting_) {
      if (!source_.IsLoaded()) {
        emit_at_ = kept_ + kLoadCheck;  // asking costs a call: not after every block
        return;
      }
      colour_.Finish();
      emitting_ = true;
    }
    out_.WriteStable(b_ + emitted_, kept_ - emitted_);
    emitted_ = kept_;
    emit_at_ = kept_ + kEmitStretch;
  }
  // Writes what is left, after the colour header.
  void Finish() {
    colour_.Finish();
    out_.WriteStable(b_ + emitted_, kept_ - emitted_);
  }
  // Writes [data, data + size), a stretch of the page itself, at or after where it goes.
  void Write(const std::uint8_t* data, std::size_t size) {
    std::uint8_t* const to = b_ + kept_;
    // Most runs are a few words between tags. Once the text has moved 32 bytes or more towards
    // the start, such a run is copied as a fixed 32 bytes (the bytes past it land where the run
    // was read from, never on bytes not yet read) rather than by a call.
    if (size <= 32 && data - to >= 32 && data + 32 <= end_) {
      colour_.Cover(kept_ + 32);
      std::memcpy(to, data, 32);
    } else if (size != 0) {
      colour_.Cover(kept_ + size);
      std::memmove(to, data, size);
    }
    kept_ += size;
    if (kept_ >= emit_at_) Emit();
  }
  // Writes a few bytes that are not the page's (an entity's byte, the line-break escape).
  void Put(std::string_view bytes) {
    colour_.Cover(kept_ + bytes.size());
    for (const char c : bytes) b_[kept_++] = static_cast<std::uint8_t>(c);
  }
  // Keeps the bytes whose bit is set in `keep` of the 64 at `from`: the page's block at `base`,
  // or a copy of it with some bytes changed.
  template <class Blocks>
  void Keep(const Blocks& blocks, const std::uint8_t* from, std::size_t base, std::uint64_t keep) {
    colour_.Cover(kept_ + 64);
    // The compression may store 64 bytes at the end of the text. While the text ends past the
    // block's start (nothing dropped since the fast path took over mid-block) that would reach
    // into the next block, not yet read: the bytes go one at a time then.
    if (kept_ <= base) {
      kept_ += blocks.Compress(b_ + kept_, from, keep);
    } else {
      for (; keep != 0; keep &= keep - 1) b_[kept_++] = from[__builtin_ctzll(keep)];
    }
    if (kept_ >= emit_at_) Emit();
  }

 private:
  static constexpr std::size_t kEmitStretch = std::size_t{1} << 20;
  static constexpr std::size_t kLoadCheck = std::size_t{64} << 10;

  const SourceBuffer& source_;
  std::uint8_t* const b_;
  const std::uint8_t* const end_;
  ColourScanner& colour_;
  OutputStream& out_;
  std::size_t kept_ = 0;
  std::size_t emitted_ = 0;             // text before this is in the output's hands
  std::size_t emit_at_ = kEmitStretch;  // Emit() once this much text is kept
  bool emitting_ = false;
};

}  // namespace

void HtmlConverter::Convert(const SourceBuffer& source) {
  out_.Write(kMagic);
  const Kernels& kernels = ActiveKernels();
  ColourScanner colour(kernels, source, out_);
  if (mode_ == RunMode::Single) {
    colour.Finish();
    StreamSink sink(out_, console_);
    WriteText(kernels, TableBlocks{kernels}, source, sink);  // no block walk in single mode
  } else {
    CompactSink sink(source, colour, out_);
    WithBlockKernels(kernels,
                     [&](const auto& blocks) { WriteText(kernels, blocks, source, sink); });
    sink.Finish();
  }
}

// The text pass reads the page once, front to back, and only ever writes behind itself. Stretches
// of ordinary bytes are written whole; at each '<', '>', '&' or zero byte it decides what
// survives:
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
// An erase whose end never comes runs to the end of the page. While the page is still loading,
// every search stops where the loaded bytes end and waits for more.
template <class Sink, class Blocks>
void HtmlConverter::WriteText(const Kernels& kernels, const Blocks& blocks,
                              const SourceBuffer& source, Sink& sink) {
  std::uint8_t* const b = source.data;  // batch mode rewrites its own blocks in place
  const std::size_t n = source.size;
  const bool batch = mode_ == RunMode::Batch;

  BlockCursor cursor(kernels, b, n);
  const auto special = [&](const std::uint8_t*, std::size_t from, std::size_t limit) {
    return cursor.Next(from, limit, false);
  };
  const auto close = [&](const std::uint8_t*, std::size_t from, std::size_t limit) {
    return cursor.Next(from, limit, true);
  };

  // The first position at or after `from` that `find` reports, or n.
  std::size_t limit = 0;  // positions below it may be examined
  const auto search = [&](std::size_t from, auto find) {
    for (;;) {
      if (from >= limit && limit < n) {
        const std::size_t loaded = source.Loaded(from + 1 + kTextLookahead);
        limit = loaded >= n ? n : loaded - kTextLookahead;
      }
      const std::size_t hit = find(b, from, limit);
      if (hit < limit || limit == n) return hit;
      from = limit;
    }
  };

  const auto next_tag_end = [&](std::size_t from) {
    for (std::size_t g = from; (g = search(g, close)) < n; ++g) {
      if (!batch || !ClosesBreakTag(b, n, g)) return g + 1;
    }
    return n;
  };

  const auto erase_head = [&](std::size_t from) {
    std::size_t slash = from;
    for (;; ++slash) {
      slash = search(slash, FindSlash);
      if (slash == n) return n;
      if (slash + 1 < n && b[slash + 1] == 'h') break;
    }
    head_ = ConversionState::HeadErased;
    std::size_t end = std::min(slash + 5, n);
    if (batch) {
      // The erase may cut into a line-break tag that starts just after the "/h". That tag is
      // already its escape: the erase takes the backslash, and the 'n' too unless the tag starts
      // on the erase's last byte.
      for (std::size_t j = slash + 2; j < end; ++j) {
        if (b[j] != '<') continue;
        if (const std::size_t length = BreakTagLength(b, n, j)) {
          if (j + 1 == end) sink.Put("n");
          end = j + length;
          break;
        }
      }
    }
    return end;
  };

  // The fast path, batch mode only: whole 64-byte blocks, each classified at once and compacted
  // by its mask of the bytes kept. A tag drops everything from its '<' to its '>', and zero bytes
  // go, so with tags that open and close in turn the bytes inside tags are a running parity of
  // the '<' and '>' bits; where they do not, the tags are followed one at a time. Line-break tags
  // toggle nothing: inside a tag they go with it, in the text they become the escape in place.
  // Entities in the text become their byte in place; one that runs into the next block is
  // settled in this one, its last bytes skipped there. What the masks cannot settle (a head, the
  // end of a line-break tag that began before) ends the fast path at the start of its block, and
  // the full rules take over from there. Returns where they do, and whether that is inside a tag.
  std::size_t next_fast = 64;  // the fast path is tried again from here on
  const auto fast_blocks = [&](std::size_t from, bool& in_tag) {
    in_tag = false;
    std::size_t pos = from;
    // A block is taken whole when it is examinable and so are the bytes an entity on its last
    // byte reads past it.
    const std::size_t reach = std::min(limit, n < kBlockReach ? 0 : n - kBlockReach);
    const auto bits = [](std::size_t count) {
      return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    };
    for (;;) {
      const std::size_t base = pos & ~std::size_t{63};
      if (base + 64 > reach) break;
      const TagMasks m = blocks.Tags(b + base);
      const std::uint64_t before = bits(pos - base);  // handled already
      if ((m.open | m.close | m.zero | m.amp | m.unusual | before) == 0) {
        // Plain text, or the inside of a tag: kept whole or dropped whole, and so is every
        // block up to the next that holds a '<', '>', '&' or zero byte.
        const std::size_t end = blocks.FindMarkup(b, base + 64, reach) & ~std::size_t{63};
        if constexpr (std::is_same_v<Sink, CompactSink>) {
          if (!in_tag) sink.Write(b + base, end - base);
        }
        pos = end;
        continue;
      }
      std::uint64_t open = m.open & ~before, close = m.close & ~before;
      std::uint64_t drop = m.zero | before;  // besides the tags
      // Line-break tags and heads among the '<' flagged.
      Spans breaks;
      std::uint64_t heads = 0;
      // What the text gets where an escape or an entity starts; then the block with them.
      std::uint8_t put[64 + 1];
      const std::uint64_t candidates = m.unusual & open;
      if constexpr (Blocks::kMatchBreaks) {  // all at once
        if (candidates != 0) {
          const BreakMatches found =
              blocks.MatchBreaks(b + base, candidates, m.close, kBreakEscape.data(), put);
          breaks = Spans::Of(found.tags);
          heads = found.heads;
        }
      } else {  // one at a time
        for (std::uint64_t u = candidates; u != 0; u &= u - 1) {
          const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(u));
          const std::uint8_t* const at = b + base + k;
          std::uint64_t eight;
          std::memcpy(&eight, at, 8);
          const Slot& slot = kBreakSlots[BreakHash(at[3])];
          const bool found = slot.word.At(eight);
          breaks.Add(k, slot, found);
          heads |= std::uint64_t{!found && at[1] == 'h'} << k;
          put[k] = kBreakEscape[0];
          put[k + 1] = kBreakEscape[1];
        }
      }
      if ((heads | (breaks.starts >> 63)) != 0) break;  // or an escape's 'n' in the next block
      open &= ~breaks.spans;
      close &= ~breaks.spans;
      drop |= breaks.spans & ~breaks.starts & ~(breaks.starts << 1);
      // A '>' flagged that no line-break tag of this block ends may end one that began before.
      bool settled = true;
      for (std::uint64_t u = m.unusual & close; u != 0 && settled; u &= u - 1) {
        settled = !ClosesBreakTag(b, n, base + static_cast<std::size_t>(__builtin_ctzll(u)));
      }
      if (!settled) break;
      std::uint64_t inside = open | close;
      inside ^= inside << 1;
      inside ^= inside << 2;
      inside ^= inside << 4;
      inside ^= inside << 8;
      inside ^= inside << 16;
      inside ^= inside << 32;
      inside ^= 0 - std::uint64_t{in_tag};
      const std::uint64_t inside_before = (inside << 1) | (in_tag ? 1 : 0);
      if ((open & inside_before) != 0 || (close & ~inside_before) != 0) {
        // Not in turn: a '<' inside a tag (one cut off, or a script's "a < b") or a '>' outside
        // one. Such a byte goes like any other there; each tag runs from a '<' met outside a tag
        // to the first '>' after it, found a tag at a time.
        inside = 0;
        bool in = in_tag;
        for (std::size_t from = 0; from < 64;) {
          const std::uint64_t ahead = ~std::uint64_t{0} << from;
          const std::uint64_t next = (in ? close : open) & ahead;
          if (next == 0) {
            if (in) inside |= ahead;
            break;
          }
          const std::size_t at = static_cast<std::size_t>(__builtin_ctzll(next));
          if (in) inside |= ahead & bits(at);
          from = in ? at + 1 : at;
          in = !in;
        }
      }
      // Entities in the text: matched all at once by kernels that can, when the block holds
      // enough candidates to make that pay on their processor (`kMatchFrom`), else one at a time.
      Spans entities;
      std::uint64_t one_by_one = m.amp & ~drop & ~inside;
      if constexpr (Blocks::kMatchFrom > 0) {
        static_assert(Blocks::kMatchFrom <= 2);
        if ((Blocks::kMatchFrom == 1 ? one_by_one : one_by_one & (one_by_one - 1)) != 0) {
          entities = Spans::Of(blocks.MatchPatterns(b + base, one_by_one, kEntityTable, put));
          one_by_one = 0;
        }
      }
      for (; one_by_one != 0; one_by_one &= one_by_one - 1) {
        const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(one_by_one));
        const std::uint8_t* const at = b + base + k;
        std::uint64_t eight;
        std::memcpy(&eight, at, 8);
        const Slot& slot = kEntitySlots[EntityHash(at[1], at[2])];
        entities.Add(k, slot, slot.word.At(eight));
        put[k] = slot.byte;
      }
      drop |= entities.spans & ~entities.starts;
      if constexpr (std::is_same_v<Sink, CompactSink>) {
        const std::uint64_t escapes = breaks.starts & ~inside;
        // The bytes that change are blended into a copy of the block, not into the page: a
        // store there would be read back, partly, by the next block's classifier, which looks
        // three bytes behind its block, and such a load waits for the store to complete.
        const std::uint8_t* from = b + base;
        if (const std::uint64_t puts = escapes | (escapes << 1) | (entities.starts & ~inside)) {
          blocks.Blend(put, b + base, put, puts);
          from = put;
        }
        sink.Keep(blocks, from, base, ~(inside | close | drop));
      }
      in_tag = inside >> 63;
      // A line-break tag or an entity that runs into the next block has been settled whole
      // here: its bytes there are passed over (as handled already), whatever comes of the block.
      pos = base + 64 + std::max(breaks.Carry(), entities.Carry());
    }
    next_fast = (pos & ~std::size_t{63}) + 64;
    return pos;
  };

  std::size_t run = 0;  // start of the stretch of bytes not yet written
  std::size_t i = 0;
  for (;;) {
    if constexpr (std::is_same_v<Sink, CompactSink>) {
      if (batch && i >= next_fast && i < limit) {
        sink.Write(b + run, i - run);
        bool in_tag;
        i = fast_blocks(i, in_tag);
        if (in_tag) i = next_tag_end(i);
        run = i;
      }
    }
    if ((i = search(i, special)) >= n) break;
    const std::uint8_t c = b[i];
    if (c == '&') {
      const Slot* const entity = MatchEntity(b, n, i);
      if (entity == nullptr) {
        ++i;  // a literal '&' stays in the stretch
        continue;
      }
      sink.Write(b + run, i - run);
      sink.Put(std::string_view(reinterpret_cast<const char*>(&entity->byte), 1));
      i += entity->length;
    } else {
      sink.Write(b + run, i - run);
      if (c == 0) {
        i = search(i, kernels.skip_zeros);
      } else if (c == '>') {
        ++i;
      } else if (const std::size_t length = batch ? BreakTagLength(b, n, i) : 0) {
        sink.Put(kBreakEscape);
        i += length;
      } else if (i + 2 < n && b[i + 1] == 'h' && b[i + 2] == 'e') {
        console_.Write(kHeadMessage);
        i = head_ == ConversionState::HeadErased ? next_tag_end(i + 1) : erase_head(i + 1);
      } else {
        i = next_tag_end(i + 1);
      }
    }
    run = i;
  }
  sink.Write(b + run, n - run);
}

}  // namespace ruxa

#include "html2Ruxa/html_converter.h"

#include <algorithm>
#include <string_view>

#include "driver/name_rules.h"
#include "html2Ruxa/block_scan.h"
#include "html2Ruxa/block_walk.h"
#include "html2Ruxa/html_rules.h"
#include "html2Ruxa/text_sinks.h"

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

// The entity that starts at b[i] (a '&'), or null.
const Slot* MatchEntity(const std::uint8_t* b, std::size_t n, std::size_t i) {
  if (i + 8 <= n) {
    const Slot& slot = kEntitySlots[EntityHash(b[i + 1], b[i + 2])];
    return slot.word.At(b + i) ? &slot : nullptr;
  }
  for (const Entity& e : kEntities) {  // near the end of the page
    if (HasAt(b, n, i, e.name)) return &kEntitySlots[EntityHashOf(e.name)];
  }
  return nullptr;
}

// Length of the line-break tag starting at b[i] (a '<'), or 0.
std::size_t BreakTagLength(const std::uint8_t* b, std::size_t n, std::size_t i) {
  if (i + 8 <= n) {
    const Slot& slot = kBreakSlots[BreakHash(b[i + 3])];
    return slot.word.At(b + i) ? slot.length : 0;
  }
  for (const std::string_view tag : kBreakTags) {  // near the end of the page
    if (HasAt(b, n, i, tag)) return tag.size();
  }
  return 0;
}

// The text pass's view of a page that may still be loading: a position is examined only once
// every byte its decision may read is there (kTextLookahead bytes past it), so each search stops
// short of the loaded count and waits for more.
class LoadedPage {
 public:
  explicit LoadedPage(const SourceBuffer& source)
      : source_(source), b(source.data), n(source.size) {}

  // Positions below this may be examined.
  std::size_t limit() const { return limit_; }

  // The first position at or after `from` that find(b, from, limit) reports, or n.
  template <class Find>
  std::size_t Search(std::size_t from, Find find) {
    for (;;) {
      if (from >= limit_ && limit_ < n) {
        const std::size_t loaded = source_.Loaded(from + 1 + kTextLookahead);
        limit_ = loaded >= n ? n : loaded - kTextLookahead;
      }
      const std::size_t hit = find(b, from, limit_);
      if (hit < limit_ || limit_ == n) return hit;
      from = limit_;
    }
  }

 private:
  const SourceBuffer& source_;
  std::size_t limit_ = 0;

 public:
  std::uint8_t* const b;  // batch mode rewrites its own blocks in place
  const std::size_t n;
};

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
// An erase whose end never comes runs to the end of the page. Whole blocks go through the block
// walk (block_walk.inc) wherever its masks settle them, and these rules take over where they do
// not.
class TextPass {
 public:
  TextPass(const SourceBuffer& source, RunMode mode, const HtmlBlocks& blocks, CompactSink& sink,
           ConversionState& head)
      : page_(source),
        b_(source.data),
        n_(source.size),
        batch_(mode == RunMode::Batch),
        blocks_(blocks),
        cursor_(blocks.scan, source.data, source.size),
        sink_(sink),
        head_(head) {}

  void Run() {
    std::size_t run = 0;  // start of the stretch of bytes not yet written
    for (std::size_t i = 0;;) {
      if (i >= next_walk_ && i < page_.limit()) {
        sink_.Write(b_ + run, i - run);
        run = i = WalkBlocks(i);
      }
      if ((i = page_.Search(i, CursorSearch{cursor_, false})) >= n_) break;
      if (b_[i] == '&') {
        const Slot* const entity = MatchEntity(b_, n_, i);
        if (entity == nullptr) {
          ++i;  // a literal '&' stays in the stretch
          continue;
        }
        sink_.Write(b_ + run, i - run);
        sink_.Put(std::string_view(reinterpret_cast<const char*>(&entity->byte), 1));
        run = i += entity->length;
        continue;
      }
      sink_.Write(b_ + run, i - run);
      run = i = AtMarkup(i);
    }
    sink_.Write(b_ + run, n_ - run);
  }

 private:
  // The searches of the block cursor, for the next markup byte, or the next '>' (`close`).
  struct CursorSearch {
    BlockCursor& cursor;
    bool close;
    std::size_t operator()(const std::uint8_t*, std::size_t from, std::size_t limit) const {
      return cursor.Next(from, limit, close);
    }
  };

  // The byte at i is a '<', '>' or zero byte: writes what it becomes and returns where the text
  // goes on.
  std::size_t AtMarkup(std::size_t i) {
    const std::uint8_t c = b_[i];
    if (c == 0) return page_.Search(i, ActiveKernels().skip_zeros);
    if (c == '>') return i + 1;
    if (const std::size_t length = batch_ ? BreakTagLength(b_, n_, i) : 0) {
      sink_.Put(kBreakEscape);
      return i + length;
    }
    if (i + 2 < n_ && b_[i + 1] == 'h' && b_[i + 2] == 'e') {
      sink_.Say(kHeadMessage);
      return head_ == ConversionState::HeadErased ? NextTagEnd(i + 1) : EraseHead(i + 1);
    }
    return NextTagEnd(i + 1);
  }

  // Past the '>' that ends the tag open at `from`, or n.
  std::size_t NextTagEnd(std::size_t from) {
    for (std::size_t g = from; (g = page_.Search(g, CursorSearch{cursor_, true})) < n_; ++g) {
      if (!batch_ || !ClosesBreakTag(b_, n_, g)) return g + 1;
    }
    return n_;
  }

  // Past the head that starts at `from`: up to the first '/' 'h' pair and the four bytes after
  // its '/'. In batch mode the erase may cut into a line-break tag that starts just after the
  // "/h". That tag is already its escape: the erase takes the backslash, and the 'n' too unless
  // the tag starts on the erase's last byte.
  std::size_t EraseHead(std::size_t from) {
    // The 'h' of a pair that starts before the limit may lie at it: that byte is loaded.
    const auto find_pair = [n = n_](const std::uint8_t* b, std::size_t i, std::size_t limit) {
      const std::size_t end = std::min(limit + 1, n);
      const std::size_t at = ActiveKernels().find_pattern(b, i, end, {{'/', 'h', 'h'}, {0, 1, 1}});
      return at < end ? at : limit;
    };
    const std::size_t slash = page_.Search(from, find_pair);
    if (slash == n_) return n_;
    head_ = ConversionState::HeadErased;
    const std::size_t end = std::min(slash + 5, n_);
    for (std::size_t j = slash + 2; batch_ && j < end; ++j) {
      if (b_[j] != '<') continue;
      if (const std::size_t length = BreakTagLength(b_, n_, j)) {
        if (j + 1 == end) sink_.Put("n");
        return j + length;
      }
    }
    return end;
  }

  // The block walk, from i, over the blocks that are examinable and so are the bytes an entity
  // on their last byte reads past them; returns where the text goes on.
  std::size_t WalkBlocks(std::size_t i) {
    const std::size_t reach = std::min(page_.limit(), n_ < kBlockReach ? 0 : n_ - kBlockReach);
    bool in_tag;
    const BlockWalk page{b_, n_, reach, sink_, head_ == ConversionState::HeadErased, batch_};
    i = blocks_.walk(page, i, in_tag);
    next_walk_ = (i & ~std::size_t{63}) + 64;  // tried again from the next block on
    return in_tag ? NextTagEnd(i) : i;
  }

  LoadedPage page_;
  std::uint8_t* const b_;
  const std::size_t n_;
  const bool batch_;
  const HtmlBlocks& blocks_;
  BlockCursor cursor_;
  CompactSink& sink_;
  ConversionState& head_;
  std::size_t next_walk_ = 64;  // the block walk is tried again from here on
};

}  // namespace

void HtmlConverter::Convert(const SourceBuffer& source) {
  out_.Write(kMagic);
  const HtmlBlocks& blocks = HtmlBlocksFor(ActiveVectorKernel());
  ColourScanner colour(blocks.find_colours, source, out_);
  colour.FollowLoad();
  CompactSink sink(source, colour, out_, console_, mode_ == RunMode::Single);
  TextPass(source, mode_, blocks, sink, head_).Run();
  sink.Finish();
}

}  // namespace ruxa

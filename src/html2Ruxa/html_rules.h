#ifndef RUXA_HTML2RUXA_HTML_RULES_H_
#define RUXA_HTML2RUXA_HTML_RULES_H_

// The rules of the .htx format that the text pass and its block walk share: the entities and
// line-break tags, how each is matched (a byte at a time, and a block at a time), and the masks
// one 64-byte block is described by. Masks hold one bit per byte of a block: bit k (value
// 1 << k) stands for byte k, whatever the processor's byte order.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>

namespace ruxa {

inline constexpr std::string_view kBreakEscape = "\\n";
inline constexpr std::string_view kHeadMessage = "removing the head";

/// Per-page state of the colour pass and the head erase. Only two questions are ever asked of
/// it: has a colour field been written (== ColourWritten), has the head been erased
/// (== HeadErased). The colour pass ends before the text pass begins, so each pass only ever sees
/// the values it sets itself; each keeps its own, so that the two can share one walk over a page
/// that is still loading.
enum class ConversionState { Initial = 0, ColourWritten = 2, HeadErased = 6 };

struct Entity {
  std::string_view name;
  std::uint8_t byte;  // ISO 8859-1
};
inline constexpr Entity kEntities[] = {
    {"&lt;", 0x3C},     {"&gt;", 0x3E},     {"&amp;", 0x26},    {"&quot;", 0x22},
    {"&eacute;", 0xE9}, {"&egrave;", 0xE8}, {"&agrave;", 0xE0}, {"&ccedil;", 0xE7},
};

// No entity holds an '&' past its first byte, and none is shorter than this: an '&' with another
// that close after it opens none.
inline constexpr std::size_t kShortestEntity =
    std::ranges::min(kEntities, {}, [](const Entity& e) { return e.name.size(); }).name.size();
static_assert(std::ranges::none_of(kEntities, [](const Entity& e) {
  return e.name.find('&', 1) != std::string_view::npos;
}));
/// The '&' of `amps` (bit k for byte k) that another of them follows too closely to open one.
inline std::uint64_t AmpersandsFollowed(std::uint64_t amps) {
  std::uint64_t after = 0;
  for (std::size_t k = 1; k < kShortestEntity; ++k) after |= amps >> k;
  return amps & after;
}

// The line-break tags that batch mode turns into the escape; exact, lower case, no attributes.
inline constexpr std::string_view kBreakTags[] = {"<br>", "</br>", "<br/>", "<br />"};
inline constexpr std::size_t kLongestBreakTag =
    std::ranges::max(kBreakTags, {}, &std::string_view::size).size();

// True when `pattern` lies wholly inside b[0, n) starting at i (i <= n).
inline bool HasAt(const std::uint8_t* b, std::size_t n, std::size_t i, std::string_view pattern) {
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
  bool At(const std::uint8_t* p) const {
    std::uint64_t eight;
    std::memcpy(&eight, p, 8);
    return ((eight ^ bytes) & mask) == 0;
  }
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
// vector code looks up as well; line-break tags by the low bits of their fourth byte.
inline constexpr std::uint8_t kEntityFirst[16] = {0, 0, 0, 3, 0, 8, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0};
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

inline Slot SlotOf(std::string_view pattern, std::uint8_t byte) {
  return {Word(pattern), (std::uint64_t{1} << pattern.size()) - 1, pattern.size(), byte};
}
inline const std::array<Slot, 16> kEntitySlots = [] {
  std::array<Slot, 16> slots{};
  for (const Entity& e : kEntities) slots[EntityHashOf(e.name)] = SlotOf(e.name, e.byte);
  return slots;
}();
inline const std::array<Slot, 8> kBreakSlots = [] {
  std::array<Slot, 8> slots{};
  for (const std::string_view t : kBreakTags) slots[BreakHashOf(t)] = SlotOf(t, 0);
  return slots;
}();

// True when the '>' at b[g] closes a line-break tag.
inline bool ClosesBreakTag(const std::uint8_t* b, std::size_t n, std::size_t g) {
  // Every form ends in "r>", "r/>" or "r />".
  if (g < 3 || (b[g - 1] != 'r' && (b[g - 1] != '/' || (b[g - 2] != 'r' && b[g - 2] != ' ')))) {
    return false;
  }
  for (const std::string_view tag : kBreakTags) {
    if (g + 1 >= tag.size() && HasAt(b, n, g + 1 - tag.size(), tag)) return true;
  }
  return false;
}

/// The entities for the block walk, as lookups of 16 entries: a position k (an '&') is
/// compared with the pattern of slot first[b[k + 1] & 15] ^ (b[k + 2] & 15) only, by every byte
/// but its first, up to its `end` (';', which it holds nowhere else). A slot left empty holds
/// bytes 1 and 2 that hash to another slot, so that nothing matches it.
struct PatternTable {
  std::uint8_t first[16];
  std::uint8_t bytes[8][16];  // byte j of each slot's pattern, `end` past its end
  std::uint8_t put[16];       // what a match becomes
  std::uint8_t end;
};
inline constexpr PatternTable kEntityTable = [] {
  PatternTable t{};
  std::copy(std::begin(kEntityFirst), std::end(kEntityFirst), t.first);
  t.end = ';';
  for (std::size_t h = 0; h < 16; ++h) {
    for (auto& row : t.bytes) row[h] = t.end;
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
    if (e.name.size() < 4 || e.name.size() > 8 || e.name[0] != '&' ||
        e.name.find(kEntityTable.end) != e.name.size() - 1) {
      return false;
    }
  }
  return true;
}
static_assert(EntitiesFitTable());

// How far past a block the block walk reads: an entity that starts on the block's last byte.
inline constexpr std::size_t kBlockReach = 7;

/// The bytes of a block the text pass stops at: every '<', '>', '&' and zero byte in
/// `special`, the '>' alone in `close`.
struct BlockMasks {
  std::uint64_t special = 0;
  std::uint64_t close = 0;
};

/// What the block walk needs to know of one block: where tags open and close, zero bytes and
/// ampersands, and the bytes that call for a closer look: at least every '<' followed by "br",
/// "/b" or "he", and every '>' after "r" or "/" (each flagged byte is then looked at exactly).
struct TagMasks {
  std::uint64_t open = 0, close = 0, zero = 0, amp = 0, unusual = 0;
};

/// Where the patterns (entities, line-break tags) found in one block lie: their first bytes,
/// their bytes within the block, and those in the next block, which the last may run into (its
/// first few bytes, at most seven: bits from bit 0 on, without a gap).
struct Spans {
  std::uint64_t starts = 0, spans = 0, beyond = 0;
  void Add(std::size_t k, const Slot& slot, bool found) {  // k < 64
    const std::uint64_t span = slot.span & (0 - std::uint64_t{found});
    starts |= std::uint64_t{found} << k;
    spans |= span << k;
    beyond |= (span >> 1) >> (63 - k);
  }
};

/// The spans of patterns from where they start and where the `end` bytes lie: `ends` in the
/// block, `ends_after` in the bytes after it (bit 0 for the first). A match runs from its start
/// to the first `end` after it, so adding the starts to the complement of the `end` bytes
/// carries from each start through its pattern, and out of the block where it runs on.
inline Spans SpansUpToEnd(std::uint64_t starts, std::uint64_t ends, std::uint64_t ends_after) {
  const std::uint64_t rest = ~ends, rest_after = ~ends_after;
  const std::uint64_t sum = rest + starts;
  return {starts, sum ^ rest, (rest_after + std::uint64_t{sum < starts}) ^ rest_after};
}

/// The line-break tags and heads among a block's candidate '<' bytes.
struct BreakMatches {
  Spans tags;
  std::uint64_t heads = 0;  // the candidates that open "<he"
};

/// The bytes of a block inside tags (from a '<' up to the byte before its '>'), given its '<'
/// and '>' bytes and whether the block starts inside one. A tag runs from a '<' met outside a
/// tag to the first '>' after it ('<' inside a tag and '>' outside one change nothing), so a
/// byte is inside exactly when the last '<' or '>' at or before it is a '<'. One addition finds
/// that for all 64: a carry enters at each '<' (and at bit 0 when the block starts inside), runs
/// over every byte that is not a '>', and stops at the next '>'; a byte it runs over, or a '<'
/// it meets, is inside. Bit 63 of the result says whether the next block starts inside a tag.
inline std::uint64_t InsideTags(std::uint64_t open, std::uint64_t close, bool in_tag) {
  const std::uint64_t rest = ~close;
  return (~(rest + open + std::uint64_t{in_tag}) | open) & rest;
}

/// The line-break tags and heads among the candidate '<' bytes of a block, a candidate at a
/// time.
inline BreakMatches BreaksOneByOne(const std::uint8_t* block, std::uint64_t candidates) {
  BreakMatches found;
  for (; candidates != 0; candidates &= candidates - 1) {
    const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(candidates));
    const std::uint8_t* const at = block + k;
    const Slot& slot = kBreakSlots[BreakHash(at[3])];
    const bool tag = slot.word.At(at);
    found.tags.Add(k, slot, tag);
    found.heads |= static_cast<std::uint64_t>(!tag & (at[1] == 'h') & (at[2] == 'e')) << k;
  }
  return found;
}

/// The entities among the candidate '&' bytes of a block, a candidate at a time; the byte an
/// entity would become is written to put[k].
inline Spans EntitiesOneByOne(const std::uint8_t* block, std::uint64_t candidates,
                              std::uint8_t* put) {
  Spans found;
  for (; candidates != 0; candidates &= candidates - 1) {
    const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(candidates));
    const Slot& slot = kEntitySlots[EntityHash(block[k + 1], block[k + 2])];
    found.Add(k, slot, slot.word.At(block + k));
    put[k] = slot.byte;
  }
  return found;
}

}  // namespace ruxa

#endif  // RUXA_HTML2RUXA_HTML_RULES_H_

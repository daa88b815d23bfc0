#ifndef RUXA_HTML2RUXA_TEXT_SINKS_H_
#define RUXA_HTML2RUXA_TEXT_SINKS_H_

// The colour pass, and where the text pass puts the page's text: compacted into the page's own
// memory behind the pass.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>

#include "driver/converter_profile.h"
#include "html2Ruxa/html_rules.h"

namespace ruxa {

inline constexpr std::string_view kDefaultText = "000000";
inline constexpr std::string_view kDefaultBackground = "ffffff";

// A colour attribute counts when its tail starts at most this many bytes after "<bo".
inline constexpr std::size_t kColourWindow = 100;
inline constexpr std::string_view kTextColourTail = "xt=\"#";  // text="#...
inline constexpr std::string_view kBackColourTail = "or=\"#";  // bgcolor="#... and color="#...
inline constexpr std::size_t kColourDigits = 6;

// While the page is loading, a position is examined only once every byte its decision may read
// is there: each pass stops this many bytes short of the loaded count.
//   colour pass: the window of a "<bo" reads up to 109 bytes past its '<' (a pattern 99 bytes
//     on, and the ten bytes of the pattern's tail and digits after that);
//   text pass: the block cursor reads the whole 64-byte block of each position it examines, up
//     to 63 bytes past it; every rule looks less far (an entity or a line-break tag 7, the test
//     of a line-break tag cut by the head erase 11).
inline constexpr std::size_t kColourLookahead =
    kColourWindow - 1 + kTextColourTail.size() + kColourDigits - 1;
inline constexpr std::size_t kTextLookahead = 63;

// The colour pass over [0, n), in steps: `Cover(upto)` examines every "<bo" that starts before
// `upto`. It only reads the page, and writes its fields to the output as it finds them. While the
// page loads on another thread, that thread may take the pass on whenever the text pass is busy
// (`FollowLoad`): it searches each stretch right after reading it, on the other core, and
// `Cover` searches only what it has not reached. One lock keeps the two apart; the text pass
// takes it only when it has to search itself.
//
// Every "<bo" opens a window of its own; windows may overlap, and an attribute inside two of
// them is written twice. The colour bytes are copied as they are, unchecked. Both tails end in
// '#', so a window is looked at closely only where a '#' ends a tail, or may.
class ColourScanner : public LoadFollower {
 public:
  // `find`: the search, many bytes at a time, for every "<bo" that starts in [i, end) (reading
  // up to two bytes past `end`); it hands each to `Window`, with where the tails in its window
  // start, where the bytes it may read (below `readable`) hold them.
  using Find = void (*)(const std::uint8_t* b, std::size_t i, std::size_t end,
                        std::size_t readable, ColourScanner& colour);
  ColourScanner(Find find, const SourceBuffer& source, OutputStream& out)
      : find_(find), source_(source), b_(source.data), n_(source.size), out_(out) {}
  ~ColourScanner() override {
    if (followed_) source_.loading->Detach();
  }
  ColourScanner(const ColourScanner&) = delete;
  ColourScanner& operator=(const ColourScanner&) = delete;

  // Lets the thread that loads the page take the pass on while the page is loading. Until
  // `Finish`, the output is then written under the lock.
  void FollowLoad() {
    followed_ = source_.loading != nullptr && source_.loading->Attach(*this);
  }

  void Cover(std::size_t upto) {
    if (upto <= ready_ || ready_ == n_) return;
    if (followed_ && upto <= (ready_ = reached_.load(std::memory_order_acquire))) return;
    // As far as the loaded bytes allow, so as to come back seldom.
    const std::size_t loaded = source_.Loaded(std::min(upto, n_) + kColourLookahead);
    const std::lock_guard<std::mutex> lock(mutex_);
    Search(Searched(loaded), loaded);
    ready_ = next_;
  }

  // On the loading thread, while the text pass is busy: `loaded` bytes are there.
  void Follow(std::size_t loaded) override {
    const std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (lock.owns_lock() && !finished_) Search(Searched(loaded), loaded);
  }

  // How many bytes past the start of a tail its '#' lies.
  static constexpr std::size_t kHashAt = kTextColourTail.size() - 1;

  // The window of the "<bo" at i, given where tails may start: bit k of `low` for a tail at
  // i + k, of `high` for one 64 bytes further. Each is checked: a bit set where no tail starts
  // costs a check and writes nothing.
  void Window(std::size_t i, std::uint64_t low, std::uint64_t high) {
    const std::size_t size = Stop(i) - i;  // at most kColourWindow
    static_assert(kColourWindow > 64 && kColourWindow <= 128);
    if (size < 64) low &= (std::uint64_t{1} << size) - 1;
    high = size <= 64 ? 0 : high & ((std::uint64_t{1} << (size - 64)) - 1);
    for (; low != 0; low &= low - 1) Field(i + static_cast<std::size_t>(__builtin_ctzll(low)));
    for (; high != 0; high &= high - 1) {
      Field(i + 64 + static_cast<std::size_t>(__builtin_ctzll(high)));
    }
  }
  // The same, its '#' bytes looked at one at a time (near the end of what may be read).
  void Window(std::size_t i) {
    std::uint64_t hashes[2] = {};
    for (std::size_t k = 0; k < Stop(i) - i; ++k) {
      hashes[k / 64] |= std::uint64_t{b_[i + kHashAt + k] == '#'} << (k % 64);
    }
    Window(i, hashes[0], hashes[1]);
  }

  // Ends the pass (once): with no field at all, the two defaults. The output is the caller's
  // again.
  void Finish() {
    Cover(n_);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    if (state_ != ConversionState::ColourWritten) {
      out_.Write(kDefaultText);
      out_.Write(kDefaultBackground);
    }
  }

 private:
  static constexpr std::size_t kFieldSize = kTextColourTail.size() + kColourDigits;

  // How far the pass may go with `loaded` bytes there.
  std::size_t Searched(std::size_t loaded) const {
    return loaded >= n_ ? n_ : loaded - std::min(loaded, kColourLookahead);
  }
  // Examines every "<bo" before `upto` not examined yet; `loaded` bytes are there.
  void Search(std::size_t upto, std::size_t loaded) {
    if (upto <= next_) return;
    // A "<bo" needs its three bytes inside the page.
    const std::size_t end = std::min(upto, n_ < 2 ? 0 : n_ - 2);
    if (next_ < end) find_(b_, next_, end, std::min(loaded, n_), *this);
    next_ = upto;
    reached_.store(upto, std::memory_order_release);
  }
  static_assert(kTextColourTail.back() == '#' && kBackColourTail.back() == '#' &&
                kBackColourTail.size() == kTextColourTail.size());

  // Where the fields of the window of the "<bo" at i may no longer start: a field starts at most
  // kColourWindow - 1 bytes after it, and lies wholly inside the page.
  std::size_t Stop(std::size_t i) const {
    return n_ < kFieldSize ? i : std::max(i, std::min(i + kColourWindow, n_ - kFieldSize + 1));
  }
  // A tail may start at p (p + kFieldSize <= n): writes its field if it does.
  void Field(std::size_t p) {
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

  const Find find_;
  const SourceBuffer& source_;
  const std::uint8_t* const b_;
  const std::size_t n_;
  OutputStream& out_;
  // Under the lock: every "<bo" before `next_` has been examined, by whichever thread.
  std::size_t next_ = 0;
  std::atomic<std::size_t> reached_{0};  // `next_`, for a look without the lock
  std::size_t ready_ = 0;                // the text pass's last look
  bool followed_ = false;                // the loading thread may search
  std::mutex mutex_;
  bool finished_ = false;
  // The colour pass ends before the text pass begins, so it only ever sees its own values.
  ConversionState state_ = ConversionState::Initial;
};

// Where the text goes: compacted into the page's own memory, behind the pass, to be written
// after the colour header once the whole page is done. A byte is overwritten only after every
// colour window that holds it has been examined. In single mode the text is echoed to the console
// as well, a stretch at a time, and always before a head message that comes after it (`Say`).
class CompactSink {
 public:
  CompactSink(const SourceBuffer& source, ColourScanner& colour, OutputStream& out,
              OutputStream& console, bool echo)
      : source_(source),
        b_(source.data),
        end_(source.data + source.size),
        colour_(colour),
        out_(out),
        console_(console),
        echo_(echo) {}

  // Once the page is loaded the colour header is complete; from then on the text gathered so
  // far is handed to the output a stretch at a time, as it will not change any more, so that it
  // can be written while the rest is converted. Called before text is added, never after, so
  // that the echo never runs ahead of a head message said about the text just kept.
  void Emit() {
    if (echo_) Echo(kept_);
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
    if (echo_) Echo(kept_);
    out_.WriteStable(b_ + emitted_, kept_ - emitted_);
  }
  // Prints a message on the console, after the echo of the text kept before the last `behind`
  // bytes.
  void Say(std::string_view message, std::size_t behind = 0) {
    if (echo_) Echo(kept_ - behind);
    console_.Write(message);
  }
  // Writes [data, data + size), a stretch of the page itself, at or after where it goes.
  void Write(const std::uint8_t* data, std::size_t size) {
    if (kept_ >= emit_at_) Emit();
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
  }
  // Writes a few bytes that are not the page's (an entity's byte, the line-break escape).
  void Put(std::string_view bytes) {
    colour_.Cover(kept_ + bytes.size());
    for (const char c : bytes) b_[kept_++] = static_cast<std::uint8_t>(c);
  }
  // Where the kept bytes of the block at `base` go when all 64 may be stored there at once, or
  // null. The compression may store 64 bytes at the end of the text: while the text ends past
  // the block's start (nothing dropped since the block walk took over mid-block) that would
  // reach into the next block, not yet read, and the bytes go one at a time (KeepEach).
  std::uint8_t* BlockRoom(std::size_t base) {
    if (kept_ >= emit_at_) Emit();
    colour_.Cover(kept_ + 64);
    return kept_ <= base ? b_ + kept_ : nullptr;
  }
  // Counts `count` bytes stored at BlockRoom's place.
  void Kept(std::size_t count) { kept_ += count; }
  // Keeps the bytes of the 64 at `from` whose bit is set in `keep`, one at a time.
  void KeepEach(const std::uint8_t* from, std::uint64_t keep) {
    for (; keep != 0; keep &= keep - 1) b_[kept_++] = from[__builtin_ctzll(keep)];
  }

 private:
  static constexpr std::size_t kEmitStretch = std::size_t{1} << 20;
  static constexpr std::size_t kLoadCheck = std::size_t{64} << 10;

  const SourceBuffer& source_;
  std::uint8_t* const b_;
  const std::uint8_t* const end_;
  ColourScanner& colour_;
  OutputStream& out_;
  OutputStream& console_;
  const bool echo_;
  // Echoes the text kept before `upto` that the console has not had yet.
  void Echo(std::size_t upto) {
    console_.Write(b_ + echoed_, upto - echoed_);
    echoed_ = upto;
  }
  std::size_t kept_ = 0;
  std::size_t emitted_ = 0;             // text before this is in the output's hands
  std::size_t echoed_ = 0;              // and before this on the console (single mode)
  std::size_t emit_at_ = kEmitStretch;  // Emit() once this much text is kept
  bool emitting_ = false;
};

}  // namespace ruxa

#endif  // RUXA_HTML2RUXA_TEXT_SINKS_H_

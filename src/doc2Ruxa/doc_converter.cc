#include "doc2Ruxa/doc_converter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "driver/name_rules.h"
#include "kernels/kernels.h"

namespace ruxa {

const ConverterProfile kDocProfile = {
    .name = "doc2Ruxa",
    .summary = "Extracts the text of word-processor documents into plain text files (.dox).",
    .name_rule = "whose name ends in \".doc\" or \".DOC\"",
    .banner = "--- Ruxa Bramlink 2005 --- \n",
    .matches_name = MatchesDocName,
    .output_extension = ".dox",
    .batch_output_error = "Error, invalid file name!\n",
    .rejects_inputs = true,
    .convert = ConvertDoc,
};

ConvertOutcome ConvertDoc(SourceBuffer& source, OutputStream& out, OutputStream& console,
                          RunMode /*mode*/) {
  return DocConverter(out, console).Convert(source);
}

namespace {

struct Layout {
  std::size_t tested_count;
  std::size_t tested[3];  // offsets from p that must hold `expected`
  std::uint8_t expected[3];
  std::size_t erased_count;
  std::size_t erased[4];  // offsets from p zeroed when the run starts
  std::uint8_t terminator;
};

constexpr std::uint8_t kSignatureStart = 0x02;
constexpr Layout kLayoutD = {2, {0, 2, 0}, {0x02, 0xD9, 0}, 2, {0, 2, 0, 0}, 0x04};
constexpr Layout kLayout6 = {3, {0, 2, 4}, {0x02, 0x03, 0x01}, 4, {0, 2, 4, 6}, 0x14};
// Every byte a signature erases lies within this many bytes from its start.
constexpr std::size_t kReach = 7;
// While the document is loading, a position is examined only once every byte its decision may
// read or write is there: the last is the byte p + 6 that layout '6' erases.
constexpr std::size_t kLookahead = kReach - 1;
// A signature is looked for by its start and its other tested bytes, which lie within that; a
// layout that tests two gives the search its second one twice.
constexpr bool Searchable(const Layout& l) {
  return l.tested_count >= 2 && l.tested_count <= 3 && l.tested[0] == 0 &&
         l.expected[0] == kSignatureStart && l.tested[l.tested_count - 1] <= kLookahead;
}
static_assert(Searchable(kLayoutD) && Searchable(kLayout6));
constexpr BytePattern SignaturePattern(const Layout& l) {
  const std::size_t last = l.tested_count - 1;
  return {{l.expected[0], l.expected[1], l.expected[last]}, {0, l.tested[1], l.tested[last]}};
}

// The runs that start within one stretch up to a terminator overlap: each is the tail of the
// one before it. Walking every run byte by byte would cost the stretch's length once per
// signature, and stretches of zeros can be gigabytes long in a sparse file. So the first run is
// written as the scan passes, and from the second signature on the stretch's non-zero bytes are
// also compacted in place, behind the scan, into C; when the terminator comes, each later run
// is written from C in one go. C holds the bytes as the first run saw them: a later signature
// erases its own bytes (and may hide a signature or a terminator) only for its own run and the
// runs after it, so those erasures are applied to C just before that run is written, and until
// then only affect what the scan recognises.
class RunScanner {
 public:
  RunScanner(const SourceBuffer& source, const Layout& layout, OutputStream& out,
             std::uint64_t max_output)
      : kernels_(ActiveKernels()),
        source_(source),
        b_(source.data),
        n_(source.size),
        layout_(layout),
        signature_(SignaturePattern(layout)),
        out_(out),
        max_output_(max_output) {}

  // Writes every run; false when the output would pass `max_output`.
  bool Run() {
    for (std::size_t p = 0; p < n_ && !over_;) {
      const std::size_t limit = Limit(p);
      const void* start = std::memchr(b_ + p, kSignatureStart, limit - p);
      if (start == nullptr) {
        if (limit == n_) break;
        p = limit;
        continue;
      }
      p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(start) - b_);
      if (!SignatureAt(p)) {
        p = NextCandidate(p + 1, limit);  // the bare ones after it too, in one search
        continue;
      }
      for (std::size_t k = 0; k < layout_.erased_count; ++k) {
        if (p + layout_.erased[k] < n_) b_[p + layout_.erased[k]] = 0;
      }
      p = RunGroup(p);
    }
    // The runs written as the scan passes add up to at most the document's size, so they are
    // only checked against the bound here, at the end.
    return !over_ && written_ <= max_output_;
  }

 private:
  // A signature whose run is still to be written from C.
  struct Pending {
    std::size_t pos;
    std::size_t index;  // of B[pos] in C
    unsigned kept;      // bit m: B[pos + m] is (will be) in C, being non-zero
  };

  // The input may still be loading. Returns a limit past p up to which positions can be
  // examined, with every byte a signature test or an erasure at them reaches: waits until there
  // is one.
  std::size_t Limit(std::size_t p) const {
    const std::size_t loaded = source_.Loaded(p + 1 + kLookahead);
    return loaded >= n_ ? n_ : loaded - kLookahead;
  }

  bool ErasedOffset(std::size_t m) const {
    for (std::size_t k = 0; k < layout_.erased_count; ++k) {
      if (layout_.erased[k] == m) return true;
    }
    return false;
  }

  // Whether a pending signature has erased B[x] as the scan now sees it.
  bool ErasedByPending(std::size_t x) const {
    for (auto it = pending_.rbegin(); it != pending_.rend() && it->pos + kReach > x; ++it) {
      if (x >= it->pos && ErasedOffset(x - it->pos)) return true;
    }
    return false;
  }

  // Where in [p, limit) every byte a signature tests fits (those past the limit are loaded), or
  // limit. Where a signature start is seldom anything else, a search for that byte alone is
  // quicker; this one passes a crowd of bare ones at once, however many tests each passes.
  std::size_t NextCandidate(std::size_t p, std::size_t limit) const {
    const std::size_t end = std::min(limit + signature_.at[2], n_);
    const std::size_t at = kernels_.find_pattern(b_, p, end, signature_);
    return at < end ? at : limit;
  }

  bool SignatureAt(std::size_t p) const {
    for (std::size_t k = 0; k < layout_.tested_count; ++k) {
      const std::size_t x = p + layout_.tested[k];
      if (x >= n_ || b_[x] != layout_.expected[k] || ErasedByPending(x)) return false;
    }
    return true;
  }

  // Writes the run that starts at s (a signature, already erased) and every run that starts
  // after it before its terminator. Returns the terminator's position, or n.
  std::size_t RunGroup(std::size_t s) {
    pending_.clear();
    sum_index_ = 0;
    std::size_t q = s;
    for (;;) {
      const std::size_t limit = Limit(q);
      const std::size_t e = kernels_.find_either(b_, q, limit, kSignatureStart, layout_.terminator);
      Consume(q, e);
      q = e;
      if (q == limit && limit < n_) continue;
      if (q == n_ || (b_[q] == layout_.terminator && !ErasedByPending(q))) {
        FinishGroup(q);
        return q;
      }
      if (b_[q] == layout_.terminator) {
        Split(q);
        continue;
      }
      if (SignatureAt(q)) {
        if (!AddPending(q)) return n_;
        Consume(q, q + 1);
        ++q;
        continue;
      }
      // A bare signature start: passed with what follows up to the next place a signature may
      // start or the next terminator, whichever comes first.
      const std::size_t next = kernels_.find_either(b_, q + 1, NextCandidate(q + 1, limit),
                                                    layout_.terminator, layout_.terminator);
      Consume(q, next);
      q = next;
    }
  }

  // Passes [from, to): the run being written gets its non-zero bytes, and C too when later runs
  // are waiting for them.
  void Consume(std::size_t from, std::size_t to) {
    if (from == to) return;
    written_ += out_.WriteNonZero(b_ + from, to - from);
    if (!pending_.empty()) {
      c_size_ += kernels_.compact_nonzero(b_ + c_start_ + c_size_, b_ + from, to - from);
    }
  }

  bool AddPending(std::size_t q) {
    if (pending_.empty()) {
      c_start_ = q;
      c_size_ = 0;
    }
    unsigned kept = 0;
    for (std::size_t m = 0; m < kReach && q + m < n_; ++m) kept |= (b_[q + m] != 0 ? 1u : 0u) << m;
    pending_.push_back({q, c_size_, kept});
    sum_index_ += c_size_;
    // Each waiting run will write at least what C holds from its start, bar a few erased bytes;
    // give up as soon as that alone passes the bound, before the list of waiting runs grows.
    const std::uint64_t k = pending_.size();
    const std::uint64_t least = k * c_size_ - sum_index_;
    if (least > k * kReach && written_ + (least - k * kReach) > max_output_) over_ = true;
    return !over_;
  }

  // Applies the erasures of `p` that fall before `end` to C, then writes its run from C.
  void WriteFromC(const Pending& p, std::size_t end) {
    std::uint8_t* const c = b_ + c_start_;
    for (std::size_t k = 0; k < layout_.erased_count; ++k) {
      const std::size_t m = layout_.erased[k];
      if (p.pos + m < end && (p.kept >> m & 1u)) {
        c[p.index + static_cast<std::size_t>(std::popcount(p.kept & ((1u << m) - 1)))] = 0;
      }
    }
    // Erased entries can only lie among the first few of the run; the rest are all non-zero.
    const std::size_t head = std::min(kReach, c_size_ - p.index);
    std::size_t count = c_size_ - p.index - head;
    for (std::size_t i = p.index; i < p.index + head; ++i) count += c[i] != 0;
    if (written_ + count > max_output_) {
      over_ = true;
      return;
    }
    out_.WriteNonZero(c + p.index, head);
    out_.Write(c + p.index + head, c_size_ - p.index - head);
    written_ += count;
  }

  // The terminator (or the end) at `end` closes every waiting run.
  void FinishGroup(std::size_t end) {
    for (const Pending& p : pending_) {
      if (!over_) WriteFromC(p, end);
    }
    // Erasures past the terminator belong to the text after it.
    for (const Pending& p : pending_) {
      for (std::size_t k = 0; k < layout_.erased_count; ++k) {
        const std::size_t x = p.pos + layout_.erased[k];
        if (x >= end && x < n_) b_[x] = 0;
      }
    }
    pending_.clear();
  }

  // A waiting signature erased the terminator at t (its byte p+6, in layout '6'): the runs before
  // it end at t, while its own run and those after it go on to a later terminator. It becomes
  // the run written as the scan passes.
  void Split(std::size_t t) {
    std::size_t j = 0;
    while (pending_[j].pos + 6 != t) ++j;
    for (std::size_t i = 0; i <= j && !over_; ++i) WriteFromC(pending_[i], t);
    b_[t] = 0;
    for (std::size_t i = 0; i <= j; ++i) sum_index_ -= pending_[i].index;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(j) + 1);
    for (Pending& p : pending_) {
      if (t - p.pos < kReach) p.kept &= ~(1u << (t - p.pos));
    }
  }

  const Kernels& kernels_;
  const SourceBuffer& source_;
  std::uint8_t* const b_;
  const std::size_t n_;
  const Layout& layout_;
  const BytePattern signature_;  // what `NextCandidate` looks for
  OutputStream& out_;
  const std::uint64_t max_output_;
  std::uint64_t written_ = 0;
  bool over_ = false;
  std::vector<Pending> pending_;
  std::uint64_t sum_index_ = 0;  // of the pending signatures
  std::size_t c_start_ = 0;      // C lies at b_[c_start_, c_start_ + c_size_)
  std::size_t c_size_ = 0;
};

}  // namespace

std::uint64_t DocConverter::OutputBound(std::size_t size) {
  constexpr std::uint64_t kSlack = std::uint64_t{64} << 20;
  const std::uint64_t n = size;
  return n > (UINT64_MAX - kSlack) / 16 ? UINT64_MAX : 16 * n + kSlack;
}

ConvertOutcome DocConverter::Convert(SourceBuffer& source, std::uint64_t max_output) {
  std::uint8_t* const b = source.data;
  const bool known = source.Loaded(kLayoutMarkerOffset + 1) > kLayoutMarkerOffset &&
                     (b[kLayoutMarkerOffset] == static_cast<std::uint8_t>(LayoutMarker::D) ||
                      b[kLayoutMarkerOffset] == static_cast<std::uint8_t>(LayoutMarker::Six));
  ConvertOutcome outcome = ConvertOutcome::Unrecognised;
  if (known) {
    const Layout& layout =
        b[kLayoutMarkerOffset] == static_cast<std::uint8_t>(LayoutMarker::D) ? kLayoutD : kLayout6;
    outcome = RunScanner(source, layout, out_, max_output).Run() ? ConvertOutcome::Converted
                                                                 : ConvertOutcome::OverBound;
  }
  if (outcome != ConvertOutcome::Converted) console_.Write("Invalid doc file! \n");
  return outcome;
}

}  // namespace ruxa

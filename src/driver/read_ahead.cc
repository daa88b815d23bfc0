#include "driver/read_ahead.h"

#include <utility>

namespace ruxa {

namespace {

// Files start on a 64-byte boundary, at least this far after the one before: a block of the
// file being converted never shares a cache line with the file the thread is reading meanwhile.
constexpr std::size_t kGap = 64;

// Where a file of `size` bytes read after `head` lies in the ring, counted on and on: 64-byte
// aligned, at least kGap after the one before, and never across the ring's end.
std::uint64_t PlaceAfter(std::uint64_t head, std::size_t size, std::size_t ring) {
  std::uint64_t start = (head + kGap + kGap - 1) / kGap * kGap;
  if (start % ring + size > ring) start = (start / ring + 1) * ring;
  return start;
}

}  // namespace

ReadAhead::ReadAhead(std::vector<std::string> names, std::uint64_t counted_from)
    : names_(std::move(names)),
      files_(names_.size()),
      ends_(names_.size()),
      head_(counted_from),
      taken_end_(counted_from),
      released_(counted_from) {
  // Without memory or a thread, every file is left to the caller.
  if (!names_.empty() && ring_.Reserve(kRing, 0)) platform::StartThread(thread_, [this] { Run(); });
}

ReadAhead::~ReadAhead() {
  stop_.store(true);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

ReadAhead::File ReadAhead::Next() {
  if (released_.load(std::memory_order_relaxed) != taken_end_) {
    released_.store(taken_end_);
    Wake(thread_wants_, taken_end_);
  }
  if (!started() || next_ == files_.size()) return {};
  const std::uint64_t want = next_ + 1;
  if (published_.load() < want) {
    Sleep(caller_wants_, want, [&] { return published_.load() >= want; });
  }
  const File file = files_[next_++];
  if (file.state == State::Loaded) taken_end_ = ends_[next_ - 1];
  return file;
}

void ReadAhead::Run() {
  for (std::size_t i = 0; i < names_.size() && !stop_.load(std::memory_order_relaxed); ++i) {
    files_[i] = Load(names_[i], ends_[i]);
    published_.store(i + 1);
    Wake(caller_wants_, i + 1);
  }
}

ReadAhead::File ReadAhead::Load(const std::string& name, std::uint64_t& end) {
  // Room first, then the file: a file is never held open, its size fixed, while the thread
  // waits. Room for the largest file is room for any.
  if (!WaitForRoom(head_)) return {};
  File file;
  platform::InputFile in;
  platform::Reason why;
  // A link is left to the caller, who follows it when it gets there: it may lead to an output
  // written in the meantime.
  if (!in.Open(name, true, why, false) || !in.Describe(file.info, why) ||
      file.info.kind == platform::FileKind::Link) {
    return {};
  }
  if (file.info.kind != platform::FileKind::Regular) {
    file.state = State::NotRegular;
    return file;
  }
  if (file.info.size > kLargest) return {};
  const auto size = static_cast<std::size_t>(file.info.size);
  const std::uint64_t start = PlaceAfter(head_, size, kRing);
  std::uint8_t* const to = ring_.data() + start % kRing;
  for (std::size_t got = 0; got < size;) {
    const std::int64_t n = in.Read(to + got, size - got, why);
    if (n <= 0) return {};  // failed, or shrank: the caller reads it and meets that itself
    got += static_cast<std::size_t>(n);
  }
  head_ = start + size;
  end = head_;
  file.state = State::Loaded;
  file.data = to;
  file.size = size;
  return file;
}

// The bytes that lay where the next file goes (those before `needed`) must be done with; once
// the thread has to wait at all, it waits for a quarter of the ring more. A file takes at most
// a quarter of the ring, so all that lies well behind the files read so far: the caller gets
// there without waiting for more.
bool ReadAhead::WaitForRoom(std::uint64_t head) {
  static_assert(kLargest + 2 * kGap <= kRing / 2);
  const std::uint64_t end = PlaceAfter(head, kLargest, kRing) + kLargest;
  if (end <= kRing || released_.load() >= end - kRing) return true;
  const std::uint64_t target = end - kRing + kRing / 4;
  Sleep(thread_wants_, target, [&] { return released_.load() >= target; });
  return !stop_.load();
}

template <class Ready>
void ReadAhead::Sleep(std::atomic<std::uint64_t>& want, std::uint64_t value, Ready ready) {
  std::unique_lock<std::mutex> lock(mutex_);
  want.store(value);
  while (!ready() && !stop_.load()) wake_.wait(lock);
  want.store(0);
}

// The state was stored before this looks at `want` (both sequentially consistent): either the
// sleeper saw the new state before it slept, or this sees what it waits for.
void ReadAhead::Wake(std::atomic<std::uint64_t>& want, std::uint64_t have) {
  const std::uint64_t wanted = want.load();
  if (wanted != 0 && have >= wanted) {
    const std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_all();
  }
}

}  // namespace ruxa

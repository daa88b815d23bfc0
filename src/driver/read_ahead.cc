#include "driver/read_ahead.h"

#include <system_error>
#include <utility>

namespace ruxa {

namespace {

// Files start on a 64-byte boundary, at least this far after the one before: a block of the
// file being converted never shares a cache line with the file the thread is reading meanwhile.
constexpr std::size_t kGap = 64;

}  // namespace

ReadAhead::ReadAhead(std::vector<std::string> names)
    : names_(std::move(names)), files_(names_.size()), ends_(names_.size()) {
  if (names_.empty() || !ring_.Reserve(kRing, 0)) return;
  try {
    platform::StartThreadWithoutSignals([this] { thread_ = std::thread([this] { Run(); }); });
  } catch (const std::system_error&) {
    // No thread: every file is left to the caller.
  }
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
  const std::size_t want = next_ + 1;
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

ReadAhead::File ReadAhead::Load(const std::string& name, std::size_t& end) {
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

  // Its place in the ring, counted on and on: the ring's bytes at `start % kRing` onwards,
  // unwrapped. Then wait until the caller is done with the bytes that lay there (those before
  // `needed`), and with a quarter of the ring more, once it has to wait at all. A file takes at
  // most a quarter of the ring, so all that lies well behind the files read so far (`head_`):
  // the caller gets there without waiting for more.
  static_assert(kLargest + 2 * kGap <= kRing / 2);
  std::size_t start = (head_ + kGap + kGap - 1) / kGap * kGap;
  if (start % kRing + size > kRing) start = (start / kRing + 1) * kRing;
  const std::size_t needed = start + size > kRing ? start + size - kRing : 0;
  if (released_.load() < needed) {
    const std::size_t target = needed + kRing / 4;
    Sleep(thread_wants_, target, [&] { return released_.load() >= target; });
    if (stop_.load()) return {};
  }

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

template <class Ready>
void ReadAhead::Sleep(std::atomic<std::size_t>& want, std::size_t value, Ready ready) {
  std::unique_lock<std::mutex> lock(mutex_);
  want.store(value);
  while (!ready() && !stop_.load()) wake_.wait(lock);
  want.store(0);
}

// The state was stored before this looks at `want` (both sequentially consistent): either the
// sleeper saw the new state before it slept, or this sees what it waits for.
void ReadAhead::Wake(std::atomic<std::size_t>& want, std::size_t have) {
  const std::size_t wanted = want.load();
  if (wanted != 0 && have >= wanted) {
    const std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_all();
  }
}

}  // namespace ruxa

#include "driver/load_write_thread.h"

#include <algorithm>

namespace ruxa {

LoadWriteThread::LoadWriteThread(platform::InputFile& file, std::uint8_t* into, std::size_t size,
                                 OutputFile& out)
    : file_(file), into_(into), size_(size), out_(out) {}

bool LoadWriteThread::Start() {
  return platform::StartThread(thread_, [this] {
    Load();
    WriteQueued();
  });
}

LoadWriteThread::~LoadWriteThread() {
  if (!thread_.joinable()) return;
  StopLoading();
  Join();
}

void LoadWriteThread::StopLoading() { stop_loading_.store(true, std::memory_order_relaxed); }

// The wait is on the lock and its condition rather than on the counter itself: the standard
// library's wait on an atomic, where the system has no such call for 8-byte values (Windows),
// was seen to miss its wake-up and wait forever.
std::size_t LoadWriteThread::WaitFor(std::size_t want) {
  // (Only the converter's thread asks: no other store can come between the load and the store.)
  if (want > asked_.load(std::memory_order_relaxed)) asked_.store(want, std::memory_order_relaxed);
  std::size_t now = loaded_.load(std::memory_order_acquire);
  if (now >= want) return now;
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [&] {
    return (now = loaded_.load(std::memory_order_acquire)) >= want || ended_early_;
  });
  if (now < want) throw LoadStopped{};
  return now;
}

bool LoadWriteThread::Attach(LoadFollower& follower) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (loaded_.load(std::memory_order_relaxed) >= size_ || ended_early_) return false;
  follower_ = &follower;
  return true;
}

void LoadWriteThread::Detach() {
  std::unique_lock<std::mutex> lock(mutex_);
  follower_ = nullptr;
  wake_.wait(lock, [this] { return !following_; });
}

void LoadWriteThread::Enqueue(const std::uint8_t* data, std::size_t size) {
  const std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back({data, size});
  wake_.notify_all();
}

void LoadWriteThread::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return queue_.empty(); });
}

bool LoadWriteThread::Finish(platform::Reason& read_why, platform::Reason& write_why) {
  Join();
  read_why = read_why_;
  write_why = write_why_;
  return read_why_.empty() && write_why_.empty();
}

void LoadWriteThread::Join() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    wake_.notify_all();
  }
  thread_.join();
}

void LoadWriteThread::Load() {
  std::size_t done = 0;
  bool ended_early = false;
  while (done < size_ && !ended_early) {
    const std::int64_t got =
        stop_loading_.load(std::memory_order_relaxed)
            ? 0
            : file_.Read(into_ + done, std::min(kChunk, size_ - done), read_why_);
    if (got <= 0) {
      if (got == 0 && !stop_loading_.load(std::memory_order_relaxed)) {
        read_why_ = "the file shrank while it was read";
      }
      ended_early = true;
    } else {
      done += static_cast<std::size_t>(got);
    }
    Publish(done, ended_early);
  }
}

// Makes `done` bytes known; then hands them to the follower, if there is one and the converter
// is far behind: a chunk or more, and at less than half the count. A converter that goes at
// less than half the speed of the reads leaves this thread time to spare, even with the output
// still to write once the load is over; one that keeps closer would wait for this thread.
void LoadWriteThread::Publish(std::size_t done, bool ended_early) {
  std::unique_lock<std::mutex> lock(mutex_);
  loaded_.store(done, std::memory_order_release);
  ended_early_ = ended_early;
  const std::size_t asked = asked_.load(std::memory_order_relaxed);
  const bool behind = asked + kChunk <= done && asked <= done / 2;
  LoadFollower* const follower = behind && !ended_early ? follower_ : nullptr;
  following_ = follower != nullptr;
  lock.unlock();
  wake_.notify_all();
  if (follower == nullptr) return;
  follower->Follow(done);
  lock.lock();
  following_ = false;
  lock.unlock();
  wake_.notify_all();
}

void LoadWriteThread::WriteQueued() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !queue_.empty() || closing_; });
    if (queue_.empty()) return;
    const Job job = queue_.front();
    lock.unlock();
    platform::Reason why;
    const bool written = !write_why_.empty() || out_.Write(job.data, job.size, why);
    lock.lock();
    if (!written) write_why_ = why;
    queue_.pop_front();  // only now, so that WaitIdle means written
    wake_.notify_all();
  }
}

void OutputFileStream::Attach(OutputFile& file, LoadWriteThread* writer) {
  file_ = &file;
  writer_ = writer;
  why_.clear();
  Restart();
}

void OutputFileStream::WriteStable(const std::uint8_t* data, std::size_t size) {
  if (writer_ == nullptr) return Write(data, size);
  Flush();
  if (ok() && size > 0) writer_->Enqueue(data, size);
}

bool OutputFileStream::Sink(const std::uint8_t* data, std::size_t size) {
  if (writer_ != nullptr) writer_->WaitIdle();
  return file_->Write(data, size, why_);
}

}  // namespace ruxa

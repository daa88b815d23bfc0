#ifndef RUXA_DRIVER_LOAD_WRITE_THREAD_H_
#define RUXA_DRIVER_LOAD_WRITE_THREAD_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "driver/output_file.h"
#include "driver/output_stream.h"
#include "driver/platform.h"
#include "driver/source_buffer.h"

namespace ruxa {

/// Thrown by `LoadWriteThread::WaitFor` when the load ended before the bytes asked for came (a
/// failed read, a file that shrank): the conversion stops there, and the driver says why.
struct LoadStopped {};

/// A second thread for a large input, with two jobs done one after the other, so that the two
/// cores share a conversion:
///   1. Load: reads `size` bytes of `file` (from where it stands) into `into`, a chunk at a
///      time, publishing after each chunk how many bytes are there (`Now`, `WaitFor`; with
///      release order, so a converter that reads the count may read those bytes). A failed
///      read, or a file that ends early, is remembered and ends the load: a converter waiting
///      for bytes that will never come is stopped (`LoadStopped`), never handed what the memory
///      held before.
///   2. Write: once the load is over, writes to `out`, in the order they were queued, the
///      stretches handed over by `Enqueue`; they may be queued at any time, also during the
///      load. After a failed write nothing more is written.
/// The thread reads nothing but the file, the queued stretches and what a follower reads, and
/// writes nothing but the input memory (before its count is published), the output file and
/// what a follower writes.
class LoadWriteThread : public LoadCount {
 public:
  LoadWriteThread(platform::InputFile& file, std::uint8_t* into, std::size_t size, OutputFile& out);
  /// Starts the thread; false when the system cannot start one (nothing is read then).
  bool Start();
  /// Stops the load and ends the thread, if that was not done.
  ~LoadWriteThread();
  LoadWriteThread(const LoadWriteThread&) = delete;
  LoadWriteThread& operator=(const LoadWriteThread&) = delete;

  std::size_t Now() override { return loaded_.load(std::memory_order_acquire); }
  /// Throws `LoadStopped` when the load ended before `want` bytes.
  std::size_t WaitFor(std::size_t want) override;
  /// The follower runs on this thread, after a chunk's count is published, while the converter
  /// is far behind (see `Publish`): a converter close behind the load has time for the work
  /// itself, and this thread's reads and writes are what it would wait for.
  bool Attach(LoadFollower& follower) override;
  void Detach() override;
  /// Ends the load after the chunk being read: the converter has what it needs (it rejected
  /// the input on its first bytes).
  void StopLoading();

  /// Queues [data, data + size) to be written after what is queued already. The bytes must stay
  /// as they are until they are written (see `WaitIdle`).
  void Enqueue(const std::uint8_t* data, std::size_t size);
  /// Waits until everything queued is written (or dropped after a failed write).
  void WaitIdle();
  /// Writes what is queued, then ends the thread. Sets the reason of a failed read or of a
  /// failed write, and returns false, when either failed.
  bool Finish(platform::Reason& read_why, platform::Reason& write_why);

 private:
  struct Job {
    const std::uint8_t* data;
    std::size_t size;
  };

  static constexpr std::size_t kChunk = std::size_t{1} << 20;  // read at a time

  void Load();
  void Publish(std::size_t done, bool ended_early);
  void WriteQueued();
  void Join();

  platform::InputFile& file_;
  std::uint8_t* const into_;
  const std::size_t size_;
  OutputFile& out_;
  std::atomic<std::size_t> loaded_{0};
  LoadFollower* follower_ = nullptr;  // under the lock
  bool following_ = false;            // under the lock: the follower is at work
  std::atomic<std::size_t> asked_{0};  // the most the converter has asked for
  std::atomic<bool> stop_loading_{false};
  bool ended_early_ = false;    // under the lock: no more bytes will come
  platform::Reason read_why_;   // set by the thread, read after it ended
  platform::Reason write_why_;  // likewise
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  bool closing_ = false;
  std::thread thread_;
};

/// The output file as a stream; remembers why the first failed write failed. One serves a whole
/// batch, so that its buffer is allocated once. With a `LoadWriteThread`, stable stretches are
/// left to that thread to write, and everything else waits until it has caught up, so the bytes
/// reach the file in order.
class OutputFileStream : public OutputStream {
 public:
  /// Starts on `file`, as if new; `writer` may be null.
  void Attach(OutputFile& file, LoadWriteThread* writer);
  const platform::Reason& why() const { return why_; }

  void WriteStable(const std::uint8_t* data, std::size_t size) override;

 protected:
  bool Sink(const std::uint8_t* data, std::size_t size) override;

 private:
  OutputFile* file_ = nullptr;
  LoadWriteThread* writer_ = nullptr;
  platform::Reason why_;
};

}  // namespace ruxa

#endif  // RUXA_DRIVER_LOAD_WRITE_THREAD_H_

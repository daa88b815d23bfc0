#ifndef RUXA_DRIVER_READ_AHEAD_H_
#define RUXA_DRIVER_READ_AHEAD_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/platform.h"

namespace ruxa {

/// Reads the small files of a batch on a second thread, ahead of the conversion, so that reading
/// the next files overlaps with converting and writing this one. In a folder of small pages the
/// system calls are most of the work: split over two threads they take about half as long.
///
/// The files are read in the order given, each whole into a ring of memory, as far ahead as the
/// ring allows, and handed out in that order by `Next`. A file that is not read ahead (too
/// large, a link, unopenable, failed or changed while read) is `Left` to the caller, who opens
/// it and reads it the usual way and so meets whatever it would have met; one that opened and is
/// not a regular file comes back as such, for the caller to skip. The thread writes nothing but
/// its ring and the records of the files it handed over, and creates no file.
///
/// Waiting costs a system call and, on a virtual machine, the wake-up of an idle processor, so
/// neither side waits file by file: the caller waits only when the thread is behind (at the
/// start, after a large file), and the thread, when the ring is full, waits until a quarter of it
/// is free.
class ReadAhead {
 public:
  enum class State { Left, Loaded, NotRegular };
  struct File {
    State state = State::Left;
    platform::FileInfo info;       ///< Loaded or NotRegular
    std::uint8_t* data = nullptr;  ///< Loaded: the bytes, the caller's until the next call
    std::size_t size = 0;
  };

  /// Files above this size are left to the caller: one of them alone would hold up the ring.
  static constexpr std::size_t kLargest = std::size_t{1} << 20;
  static constexpr std::size_t kRing = std::size_t{4} << 20;

  /// Starts reading `names` (in the current folder). Without memory or a thread for it,
  /// `started()` is false and nothing is read. Ring positions are counted on from
  /// `counted_from`, in 64 bits, since a batch may read far more than 4 GiB ahead; tests start
  /// them just below 2^32 to see that they never wrap.
  explicit ReadAhead(std::vector<std::string> names, std::uint64_t counted_from = 0);
  /// Stops the thread, wherever it is.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  bool started() const { return thread_.joinable(); }
  /// The next file of the list, waiting for the thread if need be; every one is `Left` when the
  /// thread did not start or the list is exhausted. The memory of the file handed out before
  /// is reused from now on.
  File Next();

 private:
  void Run();
  File Load(const std::string& name, std::uint64_t& end);
  /// Waits until the caller is done with the ring's bytes up to where a file of `kLargest`
  /// bytes read next would end; false when stopped meanwhile.
  bool WaitForRoom(std::uint64_t start);
  /// Waits until `ready()`, under the lock, so that a `Wake` after the state changed is never
  /// missed.
  template <class Ready>
  void Sleep(std::atomic<std::uint64_t>& want, std::uint64_t value, Ready ready);
  void Wake(std::atomic<std::uint64_t>& want, std::uint64_t have);

  const std::vector<std::string> names_;
  std::vector<File> files_;          // by the thread, each before it is published
  std::vector<std::uint64_t> ends_;  // likewise: where each file read ends in the ring, counted on
  platform::InputMemory ring_;
  std::uint64_t head_;       // the thread's: where the files read so far end, counted on and on
  std::size_t next_ = 0;     // the caller's: the next file to hand out
  std::uint64_t taken_end_;  // the caller's: where the file handed out last ends

  std::atomic<std::uint64_t> published_{0};  // files the thread is done with
  std::atomic<std::uint64_t> released_;      // ring bytes the caller is done with, counted on
  std::atomic<bool> stop_{false};
  // What a sleeping side waits for (a count of files, a ring position); zero when awake.
  std::atomic<std::uint64_t> caller_wants_{0};
  std::atomic<std::uint64_t> thread_wants_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};

}  // namespace ruxa

#endif  // RUXA_DRIVER_READ_AHEAD_H_
